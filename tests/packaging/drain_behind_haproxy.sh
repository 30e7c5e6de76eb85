#!/usr/bin/env bash
# Two vqsrv instances behind HAProxy (the sample, ports replaced) under a
# steady load of a few hundred requests per second; one instance gets
# SIGTERM mid-way, with the grace time the sample advises, while a statement
# of a few seconds runs on it. No request may fail at the client, the
# running statement is answered, /readyz of the stopping instance answers
# 503 while it still accepts, and it exits 0.
# Usage: drain_behind_haproxy.sh BUILD_DIR SOURCE_DIR
build=$1 src=$2
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/balancer.sh"
command -v wrk >/dev/null || skip "wrk not found (package wrk)"
# The grace time the sample tells the instances to use.
grace=$(sed -n 's/^#[[:space:]]*ZRM_DRAIN_GRACE_MS=\([0-9]*\)$/\1/p' "$sample" | head -1)
check "the sample advises a grace time" test -n "$grace"
grace=${grace:-0}

# A SQLite DSN for the long statement.
cat >"$VQ_TMP/odbc.ini" <<INI
[slow]
Driver=SQLite3
Database=$VQ_TMP/slow.db
Timeout=5000
INI
export ODBCINI="$VQ_TMP/odbc.ini" ODBCSYSINI=/etc

start_instances ZRM_DRAIN_GRACE_MS="$grace"
front=$(front_port)
cfg="$VQ_TMP/haproxy.cfg"
sample_with_ports "$front" "$cfg"
run_haproxy "$cfg" "$VQ_TMP/haproxy.log" "$front"
# Both instances in the pool before the load starts.
for i in $(seq 1 100); do
  grep -q 'Process extr' "$VQ_TMP/trace1.log" 2>/dev/null && grep -q 'Process extr' "$VQ_TMP/trace2.log" 2>/dev/null && break
  post_json "http://127.0.0.1:$front/ZIDozeve" '{"M":"extr","P1":"warm","P2":1}' >/dev/null || true
  sleep 0.05
done

# A statement that counts to n, sized to take about three seconds here.
count_to() {
  printf '{"M":"query","P1":"slow","P2":"WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c WHERE x < %d) SELECT count(*) FROM c","P3":1}' "$1"
}
t0=$(date +%s%N)
# A generous time: under the sanitizers and a loaded machine this takes seconds.
post_json "http://127.0.0.1:$p2/ZIDozeve" "$(count_to 300000)" -m 60 >/dev/null
probe_ms=$(( ($(date +%s%N) - t0) / 1000000 + 1 ))
n=$(( 300000 * 3000 / probe_ms ))
echo "counting to 300000 took $probe_ms ms; the long statement counts to $n"

# Four connections, each sending a request every 10 ms or so: a few hundred
# per second. Every answer must be 200 with the right body.
cat >"$VQ_TMP/load.lua" <<'LUA'
wrk.method = "POST"
wrk.body = '{"M":"extr","P1":"abcdef","P2":2,"P3":3}'
wrk.headers["Content-Type"] = "application/json"
local threads = {}
function setup(thread) table.insert(threads, thread) end
function init(args) ok = 0; bad = 0; first_bad = "" end
function delay() return 10 end
function response(status, headers, body)
  if status == 200 and body == '"cde"' then ok = ok + 1
  else
    bad = bad + 1
    if first_bad == "" then first_bad = status .. " " .. string.sub(body, 1, 120) end
  end
end
function done(summary, latency, requests)
  local ok_all, bad_all = 0, 0
  for _, t in ipairs(threads) do
    ok_all = ok_all + t:get("ok"); bad_all = bad_all + t:get("bad")
    if t:get("first_bad") ~= "" then io.write("first bad answer: ", t:get("first_bad"), "\n") end
  end
  local e = summary.errors
  io.write(string.format("RESULT answered_ok=%d answered_bad=%d connect=%d read=%d write=%d timeout=%d status=%d\n",
    ok_all, bad_all, e.connect, e.read, e.write, e.timeout, e.status))
end
LUA
seconds=12
wrk -t2 -c4 -d"${seconds}s" --timeout 10s -s "$VQ_TMP/load.lua" "http://127.0.0.1:$front/ZIDozeve" \
  >"$VQ_TMP/wrk.log" 2>&1 &
wrk_pid=$!
VQ_PIDS+=("$wrk_pid")
sleep 2

# The stop while the long statement runs on the instance, and what its
# /readyz says meanwhile.
curl -s -m 30 -H 'Content-Type: application/json' --data-binary "$(count_to "$n")" \
  "http://127.0.0.1:$p1/ZIDozeve" >"$VQ_TMP/long.out" 2>&1 &
long_pid=$!
sleep 0.3
victim=$(cat "/proc/${pids[0]}/task/${pids[0]}/children" | awk '{print $1}')
kill -TERM "$victim"
stopped_at=$(date +%s%N)
: >"$VQ_TMP/readyz.log"
while alive "$victim"; do
  code=$(curl -s -o /dev/null -m 1 -w '%{http_code}' "http://127.0.0.1:$p1/readyz" || true)
  echo "$(( ($(date +%s%N) - stopped_at) / 1000000 )) $code" >>"$VQ_TMP/readyz.log"
  sleep 0.1
done
wait "${pids[0]}" && rc=0 || rc=$?
wait "$long_pid" || true
wait "$wrk_pid" || true
cat "$VQ_TMP/wrk.log"

result=$(grep '^RESULT ' "$VQ_TMP/wrk.log" || true)
value() { sed -n "s/.* $1=\([0-9]*\).*/\1/p" <<<"$result"; }
ok=$(value answered_ok); bad=$(value answered_bad)
errors=$(( $(value connect) + $(value read) + $(value write) + $(value timeout) ))
# wrk counts answers other than 2xx/3xx too; the larger count of the two.
status=$(value status)
[ "${status:-0}" -le "${bad:-0}" ] || bad=$status
failed=$(( ${bad:-0} + errors ))
echo "FAILED REQUESTS DURING THE STOP: $failed (answered wrong: ${bad:-?}, socket errors: $errors) of $(( ${ok:-0} + failed ))"
check "the load ran" test -n "$result"
check "a few hundred requests per second ($(( ${ok:-0} / seconds ))/s)" test $(( ${ok:-0} / seconds )) -ge 150
check "no request failed at the client" test "$failed" -eq 0
echo "readyz of the stopping instance (ms after SIGTERM, code):"
cat "$VQ_TMP/readyz.log"
check "/readyz answered 503 while the instance still accepted" grep -q ' 503$' "$VQ_TMP/readyz.log"
check "the stopped instance exited 0" test "$rc" -eq 0
check "the statement running at the stop was answered" test "$(cat "$VQ_TMP/long.out")" = "\"$n\""
n2=$(grep -c 'Process extr' "$VQ_TMP/trace2.log" || true)
check "the other instance served on" test "${n2:-0}" -gt $(( ${ok:-0} / 2 ))
finish
