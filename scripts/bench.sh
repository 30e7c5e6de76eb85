#!/usr/bin/env bash
# `make bench`: vqsrv side by side with its references, loopback only.
#
# Builds a release vqsrv and bench/odbc_direct, makes a SQLite database
# (table "small": 2 rows; table "big": 100,000 rows of integer, text, real
# and nullable text) with the DSN "vqbench", then runs every vqsrv scenario
# interleaved with its reference:
#   small "query" / "querydbg"  wrk -t2 -c16  vs  odbc_direct loop, 16 threads
#                               wrk -t2 -c16  vs  odbc_direct serve, as many
#                                             threads as vqsrv runs requests on
#                               on SQLite, then on a throwaway PostgreSQL
#                               server (tests/support/pg_server.sh; skipped
#                               when it cannot start)
#   "extr"                      wrk -t2 -c16  vs  nginx with a fixed body
#   "query" P3=-1 / "querydbg" over "big"   vs  odbc_direct rows, sqlite3 -json
#               (the driver reads the whole result first, its default), and
#               once more over a DSN whose driver steps through it (StepAPI=1)
#   large results: "query" P3=-1 / "querydbg" over 100,000, 1,000,000 and
#               5,000,000 generated rows (time per row against that at
#               100,000, peak RSS), and a result refused past ZRM_MAX_REPLY
#               (peak RSS against the limit)
#   memory soak: mixed requests on a fresh vqsrv, resident memory after the
#               first 10,000 and after 1,000,000 (or the time limit)
# and writes the table to bench/results/latest.md.
#
# The small requests have two references. "loop" is the request's ODBC work
# bare: no HTTP, no JSON, and the whole machine to itself. "serve" is the same
# work behind a minimal keep-alive HTTP server that parses the same JSON body,
# driven by the same wrk command and script as vqsrv, so wrk takes its share
# of the 2 cores from both sides alike; it runs as many worker threads as
# vqsrv (ZRM_THREADS, default the number of cores), since more threads than
# cores only add switching under the same 16 connections. Both references
# keep one connection per thread (or none with BENCH_POOL=0).
#
# BENCH_SECONDS  length of each throughput run (default 5)
# BENCH_SOAK_REQUESTS  requests of the soak (default 1000000)
# BENCH_SOAK_SECONDS   time limit of the soak after its first 10,000 (90)
# BENCH_POOL     1 (default): connections reused on both sides; 0: neither
# BENCH_BUILD    build directory (default build-bench)
# BENCH_COMPARE  another vqsrv executable (an earlier build, say): the small
#                scenarios run it too, interleaved, on the same data sources
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
secs=${BENCH_SECONDS:-5}
soak_secs=${BENCH_SOAK_SECONDS:-90}
# Connection reuse on both sides (vqsrv's data-object pool, one kept
# connection per reference thread), or off on both with BENCH_POOL=0.
pool=${BENCH_POOL:-1}
if [ "$pool" = 0 ]; then reuse=fresh; else reuse=reuse; pool=1; fi
export VQ_ADO_POOL=$pool
soak_total=${BENCH_SOAK_REQUESTS:-1000000}
compare=${BENCH_COMPARE:-}
if [ -n "$compare" ] && [ ! -x "$compare" ]; then echo "bench: $compare is not an executable" >&2; exit 1; fi
conns=16
serve_threads=${ZRM_THREADS:-$(nproc)}

for tool in wrk curl sqlite3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (make deps)" >&2; exit 1; }
done

echo "== building (Release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVQ_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target vqsrv odbc_direct >/dev/null
bin="$build/bin"

tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -f "$tmp/pg/pgstate" ] && bash "$root/tests/support/pg_server.sh" stop "$tmp/pg" >/dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT

echo "== benchmark database"
db="$tmp/bench.db"
sqlite3 "$db" <<'SQL'
CREATE TABLE small(id INTEGER, name TEXT, price REAL, note TEXT);
INSERT INTO small VALUES (1, 'alpha', 1.5, NULL), (2, 'beta', 2.25, 'second');
CREATE TABLE big(id INTEGER PRIMARY KEY, name TEXT, price REAL, qty INTEGER, note TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000)
INSERT INTO big SELECT i, 'name ' || i, i * 0.25, i % 97,
                       CASE WHEN i % 3 = 0 THEN NULL ELSE 'note ' || i END FROM n;
SQL
# The data source is set up as the README advises for SQLite (the driver's
# default: a result is read whole into the driver first); vqsrv and the
# references all read through it.
# "vqbench_step" steps through a result instead (StepAPI=1, which the README
# advises against: WITH ... INSERT/DELETE do nothing there), measured for
# the 100,000 rows as a second reading.
cat > "$tmp/odbc.ini" <<INI
[vqbench]
Driver=SQLite3
Database=$db
Timeout=5000

[vqbench_step]
Driver=SQLite3
Database=$db
Timeout=5000
StepAPI=1
INI
export ODBCINI="$tmp/odbc.ini" ODBCSYSINI=/etc

free_port() {
  local p
  for _ in $(seq 50); do
    p=$((20000 + RANDOM % 20000))
    (echo >"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
  done
  echo "bench: no free port" >&2; exit 1
}

wait_http() {  # url (a loaded machine may take seconds to start one)
  for _ in $(seq 300); do
    curl -s -o /dev/null -d '{}' "$1" && return 0
    sleep 0.05
  done
  echo "bench: nothing answers on $1" >&2; exit 1
}

# A throwaway PostgreSQL server with the driver settings of the tests' data
# source, as DSN "vqbench_pg". Set up before any process reads odbc.ini:
# unixODBC reads it once per process.
pg_ok=0
bash "$root/tests/support/pg_server.sh" start "$tmp/pg" >"$tmp/pg.log" 2>&1 || true
if [ -f "$tmp/pg/pgtest.ini" ] && command -v psql >/dev/null; then
  pg_key() { awk -F= -v k="$1" '$1 == k {print $2}' "$tmp/pg/pgtest.ini"; }
  PGOPTIONS='-c client_min_messages=warning' psql -X -q -h "$(pg_key Servername)" -p "$(pg_key Port)" \
    -U "$(pg_key Username)" -d "$(pg_key Database)" >/dev/null <<'SQL'
CREATE TABLE small(id INTEGER, name TEXT, price REAL, note TEXT);
INSERT INTO small VALUES (1, 'alpha', 1.5, NULL), (2, 'beta', 2.25, 'second');
SQL
  { echo; sed 's/^\[pgtest\]$/[vqbench_pg]/' "$tmp/pg/pgtest.ini"; } >> "$tmp/odbc.ini"
  pg_ok=1
fi

port=$(free_port)
url="http://127.0.0.1:$port/ZIDozeve"
ZRM_LISTEN="127.0.0.1:$port" ZRM_DEBUG=0 "$bin/vqsrv" 2>"$tmp/vqsrv.err" &
vq=$!; pids+=("$vq")
wait_http "$url"
if [ -n "$compare" ]; then
  cport=$(free_port)
  cmp_url="http://127.0.0.1:$cport/ZIDozeve"
  ZRM_LISTEN="127.0.0.1:$cport" ZRM_DEBUG=0 "$compare" 2>"$tmp/compare.err" &
  pids+=("$!")
  wait_http "$cmp_url"
fi

wrk_rps() {  # script url
  wrk -t2 -c"$conns" -d"${secs}s" -s "$1" "$2" | awk '/^Requests\/sec:/ {print $2}'
}
direct_rps() {  # dsn sql [names]
  "$bin/odbc_direct" loop "$1" "$2" "$conns" "$secs" "$reuse" ${3:-} | awk '{print $2}'
}
# The served reference on a free port: sets ref_url and ref_pid.
serve_ref() {  # dsn sql [names]
  local out="$tmp/serve.out" p=""
  : > "$out"
  "$bin/odbc_direct" serve "$1" "$2" 0 "$serve_threads" ${3:-} $([ "$reuse" = fresh ] && echo fresh) \
    >"$out" 2>>"$tmp/serve.err" &
  ref_pid=$!; pids+=("$ref_pid")
  for _ in $(seq 100); do
    p=$(awk '/^listening / {print $2}' "$out")
    [ -n "$p" ] && break
    sleep 0.05
  done
  [ -n "$p" ] || { echo "bench: odbc_direct serve did not start" >&2; cat "$tmp/serve.err" >&2; exit 1; }
  ref_url="http://127.0.0.1:$p/ZIDozeve"
  wait_http "$ref_url"
}
stop_ref() { kill "$ref_pid" 2>/dev/null || true; wait "$ref_pid" 2>/dev/null || true; }
max() { awk -v a="$1" -v b="$2" 'BEGIN {print (a + 0 > b + 0) ? a : b}'; }

rows=()  # "scenario|vqsrv|reference|ratio|target|holds"
add_row() {  # scenario vq ref unit target-op target
  local ratio holds
  ratio=$(awk -v a="$2" -v b="$3" 'BEGIN {if (b + 0 > 0) printf "%.2f", a / b; else print "-"}')
  holds=$(awk -v r="$ratio" -v op="$5" -v t="$6" 'BEGIN {
    if (r == "-" || t == "-") print "-"; else if (op == ">=") print (r + 0 >= t + 0) ? "yes" : "NO";
    else print (r + 0 <= t + 0) ? "yes" : "NO" }')
  rows+=("$1|$2 $4|$3 $4|$ratio|$5 $6|$holds")
  echo "   $1: vqsrv $2 $4, reference $3 $4, ratio $ratio (target $5 $6): $holds"
}

small_sql="SELECT id, name, price, note FROM small"
# One small scenario: two interleaved rounds (vqsrv, the compared build,
# loop reference, served reference, twice); best of two for every side.
small() {  # label dsn wrk-script [names]
  local label=$1 dsn=$2 script=$root/bench/$3 names=${4:-}
  local a=0 b=0 c=0 d=0
  serve_ref "$dsn" "$small_sql" $names
  for _ in 1 2; do
    a=$(max "$a" "$(BENCH_DSN=$dsn wrk_rps "$script" "$url")")
    [ -n "$compare" ] && d=$(max "$d" "$(BENCH_DSN=$dsn wrk_rps "$script" "$cmp_url")")
    b=$(max "$b" "$(direct_rps "$dsn" "$small_sql" $names)")
    c=$(max "$c" "$(BENCH_DSN=$dsn wrk_rps "$script" "$ref_url")")
  done
  stop_ref
  add_row "$label" "$a" "$b" req/s ">=" 0.8
  add_row "$label vs HTTP-served reference" "$a" "$c" req/s ">=" "0.8 (same wrk)"
  if [ -n "$compare" ]; then
    add_row "$label, compared build" "$d" "$b" req/s ">=" "-"
    add_row "$label, compared build vs HTTP-served reference" "$d" "$c" req/s ">=" "-"
    add_row "$label: this build vs compared build" "$a" "$d" req/s ">=" 0.9
  fi
}

echo "== small query (${secs}s runs, $conns connections / threads)"
small 'small "query"' vqbench query.lua
echo "== small querydbg"
small 'small "querydbg"' vqbench querydbg.lua

echo "== small query and querydbg on PostgreSQL"
if [ "$pg_ok" = 1 ]; then
  small 'small "query", PostgreSQL' vqbench_pg query.lua
  small 'small "querydbg", PostgreSQL' vqbench_pg querydbg.lua names
else
  echo "   PostgreSQL did not start: $(tail -1 "$tmp/pg.log")"
  rows+=('small "query", PostgreSQL|skipped: no PostgreSQL server|-|-|>= 0.8|-')
fi

echo "== extr against nginx"
if command -v nginx >/dev/null; then
  nport=$(free_port)
  mkdir -p "$tmp/nginx"
  cat > "$tmp/nginx/nginx.conf" <<CONF
worker_processes 2;
daemon off;
pid $tmp/nginx/nginx.pid;
error_log $tmp/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $tmp/nginx/body;
  proxy_temp_path $tmp/nginx/proxy;
  fastcgi_temp_path $tmp/nginx/fastcgi;
  uwsgi_temp_path $tmp/nginx/uwsgi;
  scgi_temp_path $tmp/nginx/scgi;
  server {
    listen 127.0.0.1:$nport;
    location / { default_type application/json; return 200 '{"Result":"bcdefgh"}'; }
  }
}
CONF
  nginx -p "$tmp/nginx" -e "$tmp/nginx/error.log" -c "$tmp/nginx/nginx.conf" &
  ng=$!; pids+=("$ng")
  wait_http "http://127.0.0.1:$nport/ZIDozeve"
  a=0; b=0
  for _ in 1 2; do
    a=$(max "$a" "$(wrk_rps "$root/bench/extr.lua" "$url")")
    b=$(max "$b" "$(wrk_rps "$root/bench/extr.lua" "http://127.0.0.1:$nport/ZIDozeve")")
  done
  kill "$ng" 2>/dev/null || true
  add_row '"extr" vs nginx' "$a" "$b" req/s ">=" 0.6
else
  echo "   nginx is missing: \"extr\" has no reference (install nginx to compare)"
  rows+=('"extr" vs nginx|skipped: nginx missing|-|-|>= 0.6|-')
fi

now_ms() { echo $(($(date +%s%N) / 1000000)); }
hwm_kb() { awk '/^VmHWM:/ {print $2}' "/proc/$vq/status"; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$vq/status"; }

big_sql="SELECT id, name, price, qty, note FROM big"
# One vqsrv request: prints "<ms> <reply bytes> <peak kB>". The peak is the
# high-water mark, reset before the request where the kernel allows it.
vq_big() {  # method selector-json [dsn]
  echo 5 > "/proc/$vq/clear_refs" 2>/dev/null || true
  local body="{\"M\":\"$1\",\"P1\":\"${3:-vqbench}\",\"P2\":\"$big_sql\"$2}"
  local out
  out=$(curl -s --max-time 120 -o "$tmp/reply" -w '%{time_total} %{size_download}' -d "$body" "$url")
  awk -v t="${out% *}" -v s="${out#* }" -v h="$(hwm_kb)" 'BEGIN {printf "%.0f %d %d\n", t * 1000, s, h}'
}
ref_big() {  # command...: prints "<ms> <peak kB>"
  local t0 t1
  t0=$(now_ms)
  /usr/bin/time -f %M -o "$tmp/mem" "$@" >/dev/null 2>"$tmp/ref.err"
  t1=$(now_ms)
  echo "$((t1 - t0)) $(tail -1 "$tmp/mem")"
}
best3() {  # field function args...: the run with the least time of three
  local best="" line
  for _ in 1 2 3; do
    line=$("$@")
    if [ -z "$best" ] || [ "${line%% *}" -lt "${best%% *}" ]; then best=$line; fi
  done
  echo "$best"
}

echo "== 100,000 rows (best of 3 each)"
q=$(best3 vq_big query ',"P3":-1'); d=$(best3 ref_big "$bin/odbc_direct" rows vqbench "$big_sql")
j=$(best3 ref_big sqlite3 -json "$db" "$big_sql")
qd=$(best3 vq_big querydbg '')
read -r q_ms q_size q_hwm <<<"$q"; read -r d_ms d_kb <<<"$d"; read -r j_ms j_kb <<<"$j"
read -r qd_ms qd_size qd_hwm <<<"$qd"
echo "   query P3=-1: ${q_ms} ms, reply ${q_size} B, peak ${q_hwm} kB; odbc_direct ${d_ms} ms ${d_kb} kB; sqlite3 -json ${j_ms} ms ${j_kb} kB"
echo "   querydbg: ${qd_ms} ms, reply ${qd_size} B, peak ${qd_hwm} kB"
add_row '"query" P3=-1, 100k rows: time' "$q_ms" "$d_ms" ms "<=" 1.0
add_row '"querydbg", 100k rows: time' "$qd_ms" "$d_ms" ms "<=" 1.3
add_row '"query" P3=-1 vs sqlite3 -json: time' "$q_ms" "$j_ms" ms "<=" "-"
add_row '"querydbg" vs sqlite3 -json: time' "$qd_ms" "$j_ms" ms "<=" "-"
add_row '"query" P3=-1: peak RSS vs odbc_direct' "$q_hwm" "$d_kb" kB "<=" "-"
add_row '"querydbg": peak RSS vs reply size' "$qd_hwm" "$((qd_size / 1024))" kB "<=" 3.0
rows+=("sqlite3 -json peak RSS|-|$j_kb kB|-|-|-")

echo "== 100,000 rows, driver stepping through the result (StepAPI=1; best of 3 each)"
q=$(best3 vq_big query ',"P3":-1' vqbench_step)
d=$(best3 ref_big "$bin/odbc_direct" rows vqbench_step "$big_sql")
qd=$(best3 vq_big querydbg '' vqbench_step)
read -r q_ms q_size q_hwm <<<"$q"; read -r d_ms d_kb <<<"$d"; read -r qd_ms qd_size qd_hwm <<<"$qd"
echo "   query P3=-1: ${q_ms} ms, peak ${q_hwm} kB; odbc_direct ${d_ms} ms ${d_kb} kB; querydbg ${qd_ms} ms, peak ${qd_hwm} kB"
add_row '"query" P3=-1, 100k rows, StepAPI=1: time' "$q_ms" "$d_ms" ms "<=" 1.0
add_row '"querydbg", 100k rows, StepAPI=1: time' "$qd_ms" "$d_ms" ms "<=" 1.3
add_row '"querydbg", StepAPI=1: peak RSS vs reply size' "$qd_hwm" "$((qd_size / 1024))" kB "<=" 3.0

# Large results on a vqsrv of its own: the same statement at three sizes,
# so time per row shows whether the cost of a row grows with the result.
# The reply limit is raised for the 5,000,000-row replies (some 170 MB).
generated_sql() {  # rows
  echo "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < $1) SELECT x, 'row ' || x AS t FROM c"
}
# One request: prints "<ms> <reply bytes> <peak kB over the process's size before it> <HTTP status>".
vq_large() {  # pid url method rows [dsn] [p3-json]
  local pid=$1 body before out
  echo 5 > "/proc/$pid/clear_refs" 2>/dev/null || true
  before=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  body="{\"M\":\"$3\",\"P1\":\"${5:-vqbench}\",\"P2\":\"$(generated_sql "$4")\"${6:-}}"
  out=$(curl -s --max-time 600 -o /dev/null -w '%{time_total} %{size_download} %{http_code}' -d "$body" "$2")
  awk -v o="$out" -v h="$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")" -v b="$before" \
    'BEGIN {split(o, f, " "); printf "%.0f %d %d %s\n", f[1] * 1000, f[2], h - b, f[3]}'
}
start_vq() {  # port extra-env...: starts a vqsrv, sets lvq
  local p=$1; shift
  env ZRM_LISTEN="127.0.0.1:$p" ZRM_DEBUG=0 "$@" "$bin/vqsrv" 2>>"$tmp/vqsrv.err" &
  lvq=$!; pids+=("$lvq")
  wait_http "http://127.0.0.1:$p/ZIDozeve"
}
stop_vq() { kill "$lvq" 2>/dev/null || true; wait "$lvq" 2>/dev/null || true; }

echo "== large results (generated rows, best of 3 each; ZRM_MAX_REPLY=1 GiB)"
lport=$(free_port)
lurl="http://127.0.0.1:$lport/ZIDozeve"
start_vq "$lport" ZRM_MAX_REPLY=1073741824
for m in query querydbg; do
  sel=$([ "$m" = query ] && echo ',"P3":-1' || true)
  label=$([ "$m" = query ] && echo '"query" P3=-1' || echo '"querydbg"')
  base=""
  for n in 100000 1000000 5000000; do
    r=$(best3 vq_large "$lvq" "$lurl" "$m" "$n" vqbench "$sel")
    read -r ms size peak status <<<"$r"
    per_row=$(awk -v t="$ms" -v n="$n" 'BEGIN {printf "%.3f", t * 1000 / n}')
    echo "   $label, $n rows: $ms ms ($per_row us/row), reply $size B, peak $peak kB over idle, status $status"
    if [ -z "$base" ]; then
      base=$per_row
      rows+=("$label, $n rows: time per row|$per_row us|-|-|-|-")
    else
      add_row "$label, $n rows: time per row vs 100,000 rows" "$per_row" "$base" us "<=" 1.25
    fi
    add_row "$label, $n rows: peak RSS vs reply size" "$peak" "$((size / 1024))" kB "<=" "-"
  done
done
stop_vq

# A result past the limit: refused with 500, holding about the limit. Over a
# DSN whose driver steps through the result, and over one whose driver
# reads it whole before the first row (vqsrv cannot stop that).
limit=$((64 << 20))
echo "== 5,000,000 rows refused past ZRM_MAX_REPLY=$limit"
start_vq "$lport" ZRM_MAX_REPLY="$limit"
for dsn in vqbench_step vqbench; do
  for m in query querydbg; do
    sel=$([ "$m" = query ] && echo ',"P3":-1' || true)
    read -r ms size peak status <<<"$(vq_large "$lvq" "$lurl" "$m" 5000000 "$dsn" "$sel")"
    echo "   $m over $dsn: status $status in $ms ms, peak $peak kB over idle"
    add_row "refused \"$m\" ($status), $dsn: peak RSS vs ZRM_MAX_REPLY" "$peak" "$((limit / 1024))" kB "<=" \
      "$([ "$dsn" = vqbench_step ] && echo 1.3 || echo -)"
  done
done
stop_vq

echo "== memory soak (mixed requests on a fresh vqsrv: 10,000, then up to $soak_total or ${soak_secs}s)"
# A fresh process, so the peak of the large replies above is not counted.
kill "$vq" 2>/dev/null || true
wait "$vq" 2>/dev/null || true
ZRM_LISTEN="127.0.0.1:$port" ZRM_DEBUG=0 "$bin/vqsrv" 2>>"$tmp/vqsrv.err" &
vq=$!; pids+=("$vq")
wait_http "$url"
mixed() {  # seconds: prints the number of requests done
  wrk -t2 -c"$conns" -d"${1}s" -s "$root/bench/mixed.lua" "$url" | awk '/requests in/ {print $1}'
}
before=0
while [ "$before" -lt 10000 ]; do before=$((before + $(mixed 1))); done
rss1=$(rss_kb)
total=$before
start=$(date +%s)
while [ "$total" -lt "$soak_total" ] && [ $(($(date +%s) - start)) -lt "$soak_secs" ]; do
  total=$((total + $(mixed 10)))
done
rss2=$(rss_kb)
add_row "RSS after $total vs after $before requests" "$rss2" "$rss1" kB "<=" 1.1

date_text=$(date -u '+%Y-%m-%d %H:%M UTC')
{
  echo "# vqsrv benchmark, $date_text"
  echo
  echo "$(nproc) cores; wrk -t2 -c$conns, ${secs}s runs; loop reference: $conns threads, no HTTP; served reference: $serve_threads worker threads behind the same wrk; connection reuse: $reuse (VQ_ADO_POOL=$pool).${compare:+ Compared build: $compare.}"
  echo
  echo "| scenario | vqsrv | reference | ratio | target | holds |"
  echo "|---|---|---|---|---|---|"
  for r in "${rows[@]}"; do echo "| ${r//|/ | } |"; done
} > "$tmp/table.md"
mkdir -p "$root/bench/results"
cp "$tmp/table.md" "$root/bench/results/latest.md"
echo
cat "$tmp/table.md"
echo
echo "written to bench/results/latest.md"
