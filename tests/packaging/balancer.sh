# Helpers of the tests that put two vqsrv instances behind HAProxy, built
# from the sample configuration with its ports replaced. Sourced after
# lib.sh; expects $src (source tree) and $build (build tree).

haproxy=$(command -v haproxy || true)
[ -n "$haproxy" ] || [ ! -x /usr/sbin/haproxy ] || haproxy=/usr/sbin/haproxy
[ -n "$haproxy" ] || skip "haproxy not found (package haproxy)"
sample="$src/contrib/haproxy.cfg"

# start_instances [curl options --] [VAR=value ...]: two instances of
# $build/bin/vqsrv with a trace each ($VQ_TMP/trace1.log, trace2.log) and the
# given settings; waits until /healthz answers (with the curl options, e.g. a
# token header). Sets pids, ports, p1 and p2.
start_instances() {
  local curl_opts=() i attempt port
  if [ "${1:-}" = "--curl" ]; then
    shift
    while [ "$1" != "--" ]; do curl_opts+=("$1"); shift; done
    shift
  fi
  pids=() ports=()
  for i in 1 2; do
    # Another test may take a port between the check and the bind: try
    # again on a new port when the instance could not bind.
    for attempt in 1 2 3 4 5; do
      port=$(free_port)
      start_bg "$VQ_TMP/vqsrv$i.log" env ZRM_LISTEN="127.0.0.1:$port" ZRM_DEBUG=1 \
        ZRM_TRACE="$VQ_TMP/trace$i.log" ZRM_THREADS=2 "$@" "$build/bin/vqsrv"
      if wait_http "http://127.0.0.1:$port/healthz" "$VQ_LAST_PID" "${curl_opts[@]}"; then break; fi
      grep -q "Address already in use" "$VQ_TMP/vqsrv$i.log" && [ "$attempt" -lt 5 ] && continue
      cat "$VQ_TMP/vqsrv$i.log" >&2; fail "instance $i up on port $port"; finish
    done
    pids+=("$VQ_LAST_PID")
    ports+=("$port")
  done
  p1=${ports[0]}; p2=${ports[1]}
}

# A free port for HAProxy's front end, not one of the instances'.
front_port() {
  local p
  p=$(free_port)
  while [ "$p" = "$p1" ] || [ "$p" = "$p2" ]; do p=$(free_port); done
  echo "$p"
}

# sample_with_ports FRONT OUT [sed expressions ...]: the sample with the
# test's front port and instance ports in place of its own.
sample_with_ports() {
  local front=$1 out=$2
  shift 2
  sed -e "s/127\.0\.0\.1:7480/127.0.0.1:$front/" \
      -e "s/127\.0\.0\.1:7401/127.0.0.1:$p1/" \
      -e "s/127\.0\.0\.1:7402/127.0.0.1:$p2/" "$@" "$sample" >"$out"
}

# run_haproxy CFG LOG FRONT [curl options]: HAProxy on CFG, waited for until
# /healthz answers through it; sets hpid. Stops the test when it does not.
run_haproxy() {
  local cfg=$1 log=$2 front=$3
  shift 3
  start_bg "$log" "$haproxy" -db -f "$cfg"
  hpid=$VQ_LAST_PID
  wait_http "http://127.0.0.1:$front/healthz" "$hpid" "$@" \
    || { cat "$log" >&2; fail "HAProxy up on port $front"; finish; }
}
