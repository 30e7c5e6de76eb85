#!/usr/bin/env bash
# Two vqsrv instances behind HAProxy, configured from the sample with its
# ports replaced: every request answered right, and both instances served.
# Usage: scale_out.sh BUILD_DIR SOURCE_DIR
build=$1 src=$2
. "$(dirname "$0")/lib.sh"

haproxy=$(command -v haproxy || true)
[ -n "$haproxy" ] || [ ! -x /usr/sbin/haproxy ] || haproxy=/usr/sbin/haproxy
[ -n "$haproxy" ] || skip "haproxy not found (package haproxy)"
bin="$build/bin/vqsrv"

pids=()
ports=()
for i in 1 2; do
  # Another test may take a port between the check and the bind: try again
  # on a new port when the instance could not bind.
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    start_bg "$VQ_TMP/vqsrv$i.log" env ZRM_LISTEN="127.0.0.1:$port" ZRM_DEBUG=1 \
      ZRM_TRACE="$VQ_TMP/trace$i.log" ZRM_THREADS=2 "$bin"
    if wait_http "http://127.0.0.1:$port/healthz" "$VQ_LAST_PID"; then break; fi
    grep -q "Address already in use" "$VQ_TMP/vqsrv$i.log" && [ "$attempt" -lt 5 ] && continue
    cat "$VQ_TMP/vqsrv$i.log" >&2; fail "instance $i up on port $port"; finish
  done
  pids+=("$VQ_LAST_PID")
  ports+=("$port")
done
p1=${ports[0]}; p2=${ports[1]}
front=$(free_port)
while [ "$front" = "$p1" ] || [ "$front" = "$p2" ]; do front=$(free_port); done
pass "two instances up on ports $p1 and $p2"

# The sample's structure, with the test's ports in place of its own; each
# replaced address must occur exactly once, or the sample changed shape.
cfg="$VQ_TMP/haproxy.cfg"
for addr in 127.0.0.1:7480 127.0.0.1:7401 127.0.0.1:7402; do
  n=$(grep -c -F "$addr" "$src/contrib/haproxy.cfg" || true)
  [ "$n" = 1 ] || { fail "sample names $addr once (found $n)"; finish; }
done
sed -e "s/127\.0\.0\.1:7480/127.0.0.1:$front/" \
    -e "s/127\.0\.0\.1:7401/127.0.0.1:$p1/" \
    -e "s/127\.0\.0\.1:7402/127.0.0.1:$p2/" "$src/contrib/haproxy.cfg" >"$cfg"
"$haproxy" -c -q -f "$cfg" >"$VQ_TMP/haproxy-check.log" 2>&1 \
  || { cat "$VQ_TMP/haproxy-check.log" >&2; fail "derived configuration is valid"; finish; }

start_bg "$VQ_TMP/haproxy.log" "$haproxy" -db -f "$cfg"
hpid=$VQ_LAST_PID
wait_http "http://127.0.0.1:$front/healthz" "$hpid" \
  || { cat "$VQ_TMP/haproxy.log" >&2; fail "HAProxy up on port $front"; finish; }
pass "HAProxy up on port $front"

# 20 different cuts of one text; every answer must be the right piece.
text=abcdefghijklmnopqrstuvwxyz
wrong=0
for i in $(seq 0 19); do
  want="\"${text:i:3}\""
  got=$(post_json "http://127.0.0.1:$front/ZIDozeve" "{\"M\":\"extr\",\"P1\":\"$text\",\"P2\":$i,\"P3\":3}")
  if [ "$got" != "$want" ]; then
    echo "request $i: want $want, got $got" >&2
    wrong=$((wrong + 1))
  fi
done
check "20 requests through HAProxy answered right" test "$wrong" -eq 0
check "paths other than the service are refused at the balancer" \
  test "$(curl -s -o /dev/null -w '%{http_code}' -m 5 "http://127.0.0.1:$front/other")" = 404

# Stop the instances so their traces are complete, then count the requests.
for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
n1=$(grep -c 'Process extr' "$VQ_TMP/trace1.log" || true)
n2=$(grep -c 'Process extr' "$VQ_TMP/trace2.log" || true)
echo "instance 1 served $n1, instance 2 served $n2"
check "instance 1 served requests" test "${n1:-0}" -gt 0
check "instance 2 served requests" test "${n2:-0}" -gt 0
check "every request served exactly once" test $((${n1:-0} + ${n2:-0})) -eq 20

finish
