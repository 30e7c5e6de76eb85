#!/usr/bin/env bash
# The soak run: builds vqsrv with AddressSanitizer and UndefinedBehaviorSanitizer,
# starts it on a loopback port with a small SQLite data source, runs the soak
# client against it and checks that every answer was right, that memory held
# steady and that the server stops cleanly with no sanitizer report.
#   SOAK_SECONDS      length of the run, 4 to 60 (default 60)
#   SOAK_CONNECTIONS  client connections (default 32)
#   SOAK_RSS_MARGIN   allowed growth of VmRSS after warm-up, percent (default 10)
#   ASAN_BUILD        build directory of the sanitizer build (default build-asan)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

SECONDS_RUN=${SOAK_SECONDS:-60}
CONNECTIONS=${SOAK_CONNECTIONS:-32}
MARGIN=${SOAK_RSS_MARGIN:-10}
BUILD=${ASAN_BUILD:-build-asan}
JOBS=${JOBS:-$(nproc)}

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DVQ_SANITIZE=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target vqsrv
# The client is plain C++ over header-only Boost.Beast; built here so it
# needs nothing from the project's build.
client="$BUILD/bin/vqsoak"
if [ ! -x "$client" ] || [ -n "$(find bench/soak -newer "$client" -name '*.*')" ]; then
  g++ -std=c++20 -O2 -Wall -Wextra -pthread -Ibench/soak bench/soak/*.cpp -o "$client"
fi

work=$(mktemp -d /tmp/vqsoak-XXXXXX)
server_pid=
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -KILL "$server_pid" 2>/dev/null || true
  fi
  [ -n "${SOAK_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# The data source, and a driver list that keeps drivers loaded so any leak
# report names its library.
sqlite3 -bail "$work/soak.db" <<'SQL'
CREATE TABLE soak (id INTEGER PRIMARY KEY, name TEXT);
INSERT INTO soak VALUES (1, 'alpha'), (2, 'beta'), (3, 'gamma'), (4, 'delta'), (5, 'eps');
SQL
printf '[soak]\nDriver=SQLite3\nDatabase=%s\nTimeout=5000\n' "$work/soak.db" >"$work/odbc.ini"
awk '/^\[/ { if (drv) print "DontDLClose=1"; drv = ($0 != "[ODBC]") }
     !/^DontDLClose/ { print }
     END { if (drv) print "DontDLClose=1" }' /etc/odbcinst.ini >"$work/odbcinst.ini"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
max_body=1048576
# A small quarantine: freed blocks are reused soon, so resident memory
# follows what the server really holds rather than the sanitizer's backlog.
ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=16:log_path=$work/asan \
LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path=$work/ubsan \
ODBCINI=$work/odbc.ini ODBCSYSINI=$work ZRM_LISTEN=127.0.0.1:$port ZRM_MAX_BODY=$max_body \
ZRM_TRACE=$work/trace.log \
  "$BUILD/bin/vqsrv" >"$work/vqsrv.out" 2>&1 &
server_pid=$!

for _ in $(seq 1 200); do
  curl -fs "http://127.0.0.1:$port/healthz" >/dev/null 2>&1 && break
  kill -0 "$server_pid" 2>/dev/null || { echo "soak: vqsrv did not start:" >&2; cat "$work/vqsrv.out" >&2; exit 1; }
  sleep 0.05
done

status=0
"$client" --port "$port" --pid "$server_pid" --dsn soak --seconds "$SECONDS_RUN" \
  --connections "$CONNECTIONS" --max-body "$max_body" --rss-margin "$MARGIN" || status=$?

# A clean stop: SIGTERM, exit 0 within a few seconds, no sanitizer report.
kill -TERM "$server_pid"
exit_code=
for _ in $(seq 1 150); do
  if ! kill -0 "$server_pid" 2>/dev/null; then
    wait "$server_pid" && exit_code=0 || exit_code=$?
    break
  fi
  sleep 0.1
done
server_pid_left=$server_pid
if [ -z "$exit_code" ]; then
  echo "soak: vqsrv did not stop within 15 s of SIGTERM" >&2
  status=1
else
  server_pid=
  if [ "$exit_code" -ne 0 ]; then
    echo "soak: vqsrv exited with $exit_code" >&2
    status=1
  fi
fi
if ls "$work"/asan* "$work"/ubsan* >/dev/null 2>&1; then
  echo "soak: sanitizer report from vqsrv (pid $server_pid_left):" >&2
  cat "$work"/asan* "$work"/ubsan* >&2 2>/dev/null || true
  status=1
fi
if [ "$status" -ne 0 ]; then
  echo "soak: FAILED; server output:" >&2
  tail -n 20 "$work/vqsrv.out" >&2 || true
else
  echo "soak: vqsrv stopped cleanly (exit 0, no sanitizer report)"
fi
exit "$status"
