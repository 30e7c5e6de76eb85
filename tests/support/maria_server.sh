#!/bin/bash
# A throwaway MariaDB server on 127.0.0.1 for the tests.
#
#   maria_server.sh start <dir>   starts it and writes <dir>/mariatest.ini, the
#                                 body of the ODBC data source "mariatest"
#   maria_server.sh stop <dir>    stops it and removes its data
#
# The data folder is a fresh temporary folder (owned by the mysql user when
# run as root: the server refuses to run as root). No system service and no
# option file of the system is involved (--no-defaults). The database is
# "vqtest", reached as the user "vqtest" without a password from 127.0.0.1
# only. When the server cannot be started, start fails only if CI is set;
# otherwise it says why and leaves no mariatest.ini, so the tests that need
# it skip.
set -u

action=${1:-}
dir=${2:-}
if [[ -z "$action" || -z "$dir" ]]; then
  echo "usage: $0 start|stop <dir>" >&2
  exit 2
fi

server=/usr/sbin/mariadbd
state="$dir/mariastate"

give_up() {
  echo "maria_server.sh: $*" >&2
  rm -f "$dir/mariatest.ini"
  if [[ -n "${CI:-}" ]]; then
    exit 1
  fi
  echo "maria_server.sh: MariaDB tests will be skipped" >&2
  exit 0
}

stop_server() {
  [[ -f "$state" ]] || return 0
  local data pid
  data=$(cat "$state")
  if [[ -n "$data" && -d "$data" ]]; then
    if [[ -S "$data/sock" ]]; then
      mariadb-admin --no-defaults -S "$data/sock" -u root shutdown >/dev/null 2>&1 || true
    fi
    # The server's own process id, never a search by name.
    pid=$(cat "$data/server.pid" 2>/dev/null)
    if [[ -n "$pid" ]]; then
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
    fi
    rm -rf "$data"
  fi
  rm -f "$state" "$dir/mariatest.ini"
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
    [[ -x "$server" ]] || give_up "no MariaDB server at $server"
    command -v mariadb-install-db >/dev/null || give_up "mariadb-install-db is missing"
    user_args=()
    if [[ $(id -u) -eq 0 ]]; then
      id mysql >/dev/null 2>&1 || give_up "there is no mysql user to run the server as"
      user_args=(--user=mysql)
    fi
    data=$(mktemp -d /tmp/vqtest-maria.XXXXXX) || give_up "cannot make a temporary folder"
    echo "$data" >"$state"
    chmod 755 "$data"
    [[ $(id -u) -eq 0 ]] && chown mysql: "$data"
    if ! mariadb-install-db --no-defaults "${user_args[@]}" --datadir="$data/db" \
         --auth-root-authentication-method=normal --skip-test-db --skip-name-resolve \
         >"$data/install.log" 2>&1; then
      give_up "mariadb-install-db failed: $(tail -n 5 "$data/install.log")"
    fi
    started=""
    for attempt in 1 2 3 4 5; do
      port=$(free_port) || give_up "cannot find a free port"
      # utf8mb4 throughout, so texts beyond U+FFFF are kept; durability is
      # not wanted from a server that lives for one test run.
      setsid "$server" --no-defaults "${user_args[@]}" --datadir="$data/db" --socket="$data/sock" \
        --pid-file="$data/server.pid" --log-error="$data/server.log" \
        --port="$port" --bind-address=127.0.0.1 --skip-name-resolve \
        --character-set-server=utf8mb4 --collation-server=utf8mb4_unicode_ci \
        --innodb-buffer-pool-size=64M --innodb-flush-log-at-trx-commit=0 --innodb-doublewrite=0 \
        --max-allowed-packet=64M >/dev/null 2>&1 </dev/null &
      server_pid=$!
      for _ in $(seq 300); do
        if mariadb-admin --no-defaults -S "$data/sock" -u root ping >/dev/null 2>&1; then
          started=$port
          break
        fi
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
      done
      [[ -n "$started" ]] && break
      kill "$server_pid" 2>/dev/null
      wait "$server_pid" 2>/dev/null
    done
    [[ -n "$started" ]] || give_up "the server did not start: $(tail -n 5 "$data/server.log" 2>/dev/null)"
    if ! mariadb --no-defaults -S "$data/sock" -u root >"$data/setup.log" 2>&1 <<'SQL'
CREATE DATABASE vqtest CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
CREATE USER 'vqtest'@'127.0.0.1';
GRANT ALL ON vqtest.* TO 'vqtest'@'127.0.0.1';
SQL
    then
      stop_server
      give_up "setting up the database failed"
    fi
    # The driver settings are those of the sample [maria] in
    # contrib/odbc.ini (a test checks it).
    cat >"$dir/mariatest.ini" <<INI
[mariatest]
Driver=MariaDB Unicode
Server=127.0.0.1
Port=$started
Database=vqtest
User=vqtest
Password=
CHARSET=utf8mb4
INI
    echo "maria_server.sh: MariaDB listening on 127.0.0.1:$started (data in $data)"
    ;;
  stop)
    stop_server
    ;;
  *)
    echo "usage: $0 start|stop <dir>" >&2
    exit 2
    ;;
esac
