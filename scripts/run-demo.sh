#!/usr/bin/env bash
# Creates the demo SQLite database and a project-local odbc.ini with the DSN
# "demo", then starts vqsrv in the foreground on that data source.
set -euo pipefail
build=${1:-build}
listen=${2:-127.0.0.1:7400}
root=$(cd "$(dirname "$0")/.." && pwd)
run="$root/run"
mkdir -p "$run"

db="$run/demo.db"
rm -f "$db"
sqlite3 "$db" < "$root/data/demo.sql"

cat > "$run/odbc.ini" <<INI
[demo]
Driver=SQLite3
Database=$db
Timeout=5000
INI

export ODBCINI="$run/odbc.ini"
export ODBCSYSINI=/etc
export ZRM_LISTEN="$listen"
export ZRM_DEBUG="${ZRM_DEBUG:-1}"
echo "vqsrv on http://$listen/ZIDozeve (DSN \"demo\", trace level $ZRM_DEBUG on stderr); Ctrl-C stops it"
echo "query console: http://$listen/"
exec "$root/$build/bin/vqsrv"
