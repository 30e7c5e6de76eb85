#!/usr/bin/env bash
# Two vqsrv instances with a token behind HAProxy, configured from the
# sample with its ports replaced and its token line in use: the health
# checks pass, every request is answered right and both instances served.
# The sample passes "haproxy -c" with and without the token line, and
# without it the instances are taken out (their checks get 401).
# Usage: scale_out.sh BUILD_DIR SOURCE_DIR
build=$1 src=$2
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/balancer.sh"
token="t0k-$RANDOM$RANDOM"
auth=(-H "Authorization: Bearer $token")

start_instances --curl "${auth[@]}" -- ZRM_TOKEN="$token"
pass "two instances up on ports $p1 and $p2"

# The sample's structure, with the test's ports in place of its own; each
# replaced address must occur exactly once, or the sample changed shape.
for addr in 127.0.0.1:7480 127.0.0.1:7401 127.0.0.1:7402; do
  n=$(grep -c -F "$addr" "$sample" || true)
  [ "$n" = 1 ] || { fail "sample names $addr once (found $n)"; finish; }
done
plain='^    http-check send meth GET uri /readyz ver HTTP/1.1 hdr Host localhost$'
with_token='^    #\(http-check send meth GET uri /readyz ver HTTP/1.1 hdr Host localhost hdr Authorization "Bearer \)change-me"$'
check "the sample checks /readyz" grep -q "$plain" "$sample"
check "the sample holds the token line, commented" grep -q "$with_token" "$sample"
# derive FRONT_PORT TOKEN|"" OUT: the sample with the test's ports and, with
# a token, its token line in place of the plain one, as its comment says.
derive() {
  local edit=()
  [ -z "$2" ] || edit=(-e "\\|$plain|d" -e "s|$with_token|    \\1$2\"|")
  sample_with_ports "$1" "$3" "${edit[@]}"
}
check "haproxy -c accepts the sample as it is" "$haproxy" -c -q -f "$sample"
derive 7480 "$token" "$VQ_TMP/token-check.cfg"
check "the token line replaced the plain one" \
  test "$(grep -c '^    http-check send ' "$VQ_TMP/token-check.cfg")-$(grep -c "hdr Authorization \"Bearer $token\"\$" "$VQ_TMP/token-check.cfg")" = 1-1
check "haproxy -c accepts the sample with the token line" "$haproxy" -c -q -f "$VQ_TMP/token-check.cfg"

# Runs HAProxy on a derived configuration; sets $front and $hpid.
start_haproxy() {
  front=$(front_port)
  derive "$front" "$1" "$VQ_TMP/$2.cfg"
  run_haproxy "$VQ_TMP/$2.cfg" "$VQ_TMP/$2.log" "$front" "${auth[@]}"
}

start_haproxy "$token" with-token
pass "HAProxy up on port $front"
# Long enough for checks to take an instance out (two failures, 1.25 s).
sleep 2.5
check "no instance was taken out by its checks" bash -c '! grep -q "is DOWN" "$1"' _ "$VQ_TMP/with-token.log"

# 20 different cuts of one text; every answer must be the right piece.
text=abcdefghijklmnopqrstuvwxyz
wrong=0
for i in $(seq 0 19); do
  want="\"${text:i:3}\""
  got=$(post_json "http://127.0.0.1:$front/ZIDozeve" "{\"M\":\"extr\",\"P1\":\"$text\",\"P2\":$i,\"P3\":3}" "${auth[@]}")
  if [ "$got" != "$want" ]; then
    echo "request $i: want $want, got $got" >&2
    wrong=$((wrong + 1))
  fi
done
check "20 requests through HAProxy answered right" test "$wrong" -eq 0
check "paths other than the service are refused at the balancer" \
  test "$(curl -s -o /dev/null -w '%{http_code}' -m 5 "http://127.0.0.1:$front/other")" = 404
kill "$hpid" 2>/dev/null || true

# Without the token line the checks get 401 and both instances go out.
start_haproxy "" without-token
for i in $(seq 1 60); do
  [ "$(grep -c 'is DOWN' "$VQ_TMP/without-token.log" || true)" -ge 2 ] && break
  sleep 0.1
done
check "without the token line the checks take both instances out" \
  test "$(grep -c 'is DOWN' "$VQ_TMP/without-token.log" || true)" -ge 2
kill "$hpid" 2>/dev/null || true

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
