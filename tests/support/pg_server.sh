#!/bin/bash
# A throwaway PostgreSQL server on 127.0.0.1 for the tests.
#
#   pg_server.sh start <dir>   starts it and writes <dir>/pgtest.ini, the
#                              body of the ODBC data source "pgtest"
#   pg_server.sh stop <dir>    stops it and removes its data
#
# The cluster lives in a fresh temporary folder owned by the postgres user
# (the server refuses to run as root). Authentication is "trust", the
# database is "vqtest". When the server cannot be started, start fails only
# if CI is set; otherwise it says why and leaves no pgtest.ini, so the tests
# that need it skip.
set -u

action=${1:-}
dir=${2:-}
if [[ -z "$action" || -z "$dir" ]]; then
  echo "usage: $0 start|stop <dir>" >&2
  exit 2
fi

bin=/usr/lib/postgresql/15/bin
state="$dir/pgstate"

as_postgres() {
  if [[ $(id -u) -eq 0 ]]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

give_up() {
  echo "pg_server.sh: $*" >&2
  rm -f "$dir/pgtest.ini"
  if [[ -n "${CI:-}" ]]; then
    exit 1
  fi
  echo "pg_server.sh: PostgreSQL tests will be skipped" >&2
  exit 0
}

stop_server() {
  [[ -f "$state" ]] || return 0
  local data
  data=$(cat "$state")
  if [[ -n "$data" && -d "$data" ]]; then
    as_postgres "$bin/pg_ctl" -D "$data/db" -m fast -w stop >/dev/null 2>&1 || true
    rm -rf "$data"
  fi
  rm -f "$state" "$dir/pgtest.ini"
}

free_port() {
  python3 - <<'PY'
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()
PY
}

case "$action" in
  start)
    mkdir -p "$dir"
    stop_server  # a server left over by an interrupted run
    [[ -x "$bin/initdb" ]] || give_up "no PostgreSQL binaries in $bin"
    if [[ $(id -u) -eq 0 ]] && ! id postgres >/dev/null 2>&1; then
      give_up "there is no postgres user to run the server as"
    fi
    data=$(mktemp -d /tmp/vqtest-pg.XXXXXX) || give_up "cannot make a temporary folder"
    echo "$data" >"$state"
    [[ $(id -u) -eq 0 ]] && chown postgres: "$data"
    chmod 700 "$data"
    if ! as_postgres "$bin/initdb" -D "$data/db" -U postgres -A trust -E UTF8 --no-sync \
         >"$data/initdb.log" 2>&1; then
      give_up "initdb failed: $(tail -n 5 "$data/initdb.log")"
    fi
    started=""
    for attempt in 1 2 3 4 5; do
      port=$(free_port) || give_up "cannot find a free port"
      if as_postgres "$bin/pg_ctl" -D "$data/db" -l "$data/server.log" -w -t 30 \
           -o "-p $port -k $data -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null 2>&1; then
        started=$port
        break
      fi
    done
    [[ -n "$started" ]] || give_up "the server did not start: $(tail -n 5 "$data/server.log" 2>/dev/null)"
    if ! as_postgres "$bin/createdb" -h 127.0.0.1 -p "$started" -U postgres vqtest >"$data/createdb.log" 2>&1; then
      stop_server
      give_up "createdb failed"
    fi
    # The driver settings are those of the sample [pg] in contrib/odbc.ini
    # (a test checks it): BoolsAsChar=0, booleans arrive as SQL_BIT instead
    # of text; UseDeclareFetch=1, Fetch=1000, results are read through a
    # cursor 1000 rows at a time instead of whole before the first row.
    cat >"$dir/pgtest.ini" <<INI
[pgtest]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$started
Database=vqtest
Username=postgres
SSLmode=prefer
BoolsAsChar=0
UseDeclareFetch=1
Fetch=1000
INI
    echo "pg_server.sh: PostgreSQL listening on 127.0.0.1:$started (data in $data)"
    ;;
  stop)
    stop_server
    ;;
  *)
    echo "usage: $0 start|stop <dir>" >&2
    exit 2
    ;;
esac
