#!/usr/bin/env bash
# contrib/vqsrv.logrotate run by logrotate itself against a running vqsrv:
# its paths pointed at a scratch folder and its systemctl calls replaced by
# a kill of that process, the trace is rotated twice under requests and
# every record lands once, in the file that was current when it was written.
# Usage: log_rotation.sh BUILD_DIR SOURCE_DIR
build=$1 src=$2
. "$(dirname "$0")/lib.sh"

command -v logrotate >/dev/null || skip "logrotate not found (package logrotate)"
sample="$src/contrib/vqsrv.logrotate"
check "the sample rotates /var/log/vqsrv/*.log" grep -q '^/var/log/vqsrv/\*\.log {$' "$sample"
check "the sample signals both units with SIGUSR1" \
  test "$(grep -c 'systemctl kill -s USR1 .*vqsrv.*\.service' "$sample")" -eq 2
check "the sample does not copy and truncate" bash -c '! grep -v "^#" "$1" | grep -q copytruncate' _ "$sample"

logs="$VQ_TMP/log"
mkdir -p "$logs"
port=$(free_port)
start_bg "$VQ_TMP/vqsrv.log" env ZRM_LISTEN="127.0.0.1:$port" ZRM_DEBUG=1 ZRM_TRACE="$logs/trace.log" \
  "$build/bin/vqsrv"
wrapper=$VQ_LAST_PID
wait_http "http://127.0.0.1:$port/healthz" "$wrapper" || { cat "$VQ_TMP/vqsrv.log" >&2; fail "vqsrv came up"; finish; }
# start_bg runs it under timeout(1): the server is that process's child.
pid=$(cat "/proc/$wrapper/task/$wrapper/children" | awk '{print $1}')
[ -n "$pid" ] || { fail "found the vqsrv process"; finish; }

url="http://127.0.0.1:$port/ZIDozeve"
requests() { # requests N: N "extr" requests, each answered right
  local i
  for i in $(seq 1 "$1"); do
    [ "$(post_json "$url" '{"M":"extr","P1":"abc","P2":1}')" = '"bc"' ] || return 1
  done
}

conf="$VQ_TMP/rotate.conf"
sed -e "s|^/var/log/vqsrv/|$logs/|" \
    -e "s|systemctl kill -s USR1 vqsrv.service|kill -USR1 $pid|" \
    -e "s|systemctl kill -s USR1 'vqsrv@\*.service'|true|" "$sample" >"$conf"
chmod 0644 "$conf"

# True once the current trace file holds the note of a reopen (waits a while).
reopened() {
  local i
  for i in $(seq 1 100); do
    grep -q 'SIGUSR1: trace file reopened' "$logs/trace.log" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

check "10 requests before the first rotation" requests 10
check "logrotate -f rotates" logrotate -f -s "$VQ_TMP/state" "$conf"
check "vqsrv reopened its trace after the first rotation" reopened
check "10 requests after it" requests 10
check "logrotate -f rotates again" logrotate -f -s "$VQ_TMP/state" "$conf"
check "vqsrv reopened its trace after the second rotation" reopened
check "5 requests after it" requests 5
check "vqsrv still runs" alive "$pid"

# Request numbers of the "Process extr" records in a file, one per line.
numbers() { sed -n 's/^[0-9T:.-]*Z L1 #\([0-9]*\) Process extr$/\1/p' "$@"; }
check "the oldest file is compressed (delaycompress)" test -f "$logs/trace.log.2.gz"
check "the oldest file holds requests 1 to 10" \
  test "$(gzip -dc "$logs/trace.log.2.gz" | numbers | tr '\n' ' ')" = "$(seq -s ' ' 1 10) "
check "the renamed file holds the note and requests 11 to 20" \
  test "$(numbers "$logs/trace.log.1" | tr '\n' ' ')" = "$(seq -s ' ' 11 20) "
check "the current file holds the note and requests 21 to 25" \
  test "$(numbers "$logs/trace.log" | tr '\n' ' ')" = "$(seq -s ' ' 21 25) "
for f in "$logs/trace.log.1" "$logs/trace.log"; do
  check "$(basename "$f") starts with the one reopen note" \
    test "$(grep -c 'SIGUSR1: trace file reopened' "$f")-$(head -1 "$f" | grep -c ' L1 #0 SIGUSR1: trace file reopened$')" = 1-1
  check "$(basename "$f"): every line is a trace record" \
    bash -c '! grep -Ev "^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]{12}Z L1 #[0-9]+ " "$1"' _ "$f"
done

kill -TERM "$pid"
for i in $(seq 1 100); do alive "$pid" || break; sleep 0.05; done
wait "$wrapper" && rc=0 || rc=$?
check "vqsrv exits 0 after SIGTERM" test "$rc" -eq 0
finish
