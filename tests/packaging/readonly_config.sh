#!/usr/bin/env bash
# The Debian package installed as the README says, in a private mount
# namespace whose /etc, /usr and /var are throwaway overlays of the host's
# (nothing reaches the host). Its maintainer script makes the user vqsrv and
# /etc/vqsrv; the demo database is made by hand as the README shows; then
# /etc and /usr are made read-only, as the unit's ProtectSystem=strict does,
# and vqsrv runs as vqsrv with the settings of /etc/vqsrv/vqsrv.env.
#  - the packaged layout serves the demo DSN from its file: data written
#    lands in /var/lib/vqsrv/demo.db and is still there after a restart;
#  - a DSN in a read-only file named by ODBCINI (whose settings unixODBC
#    would not hand to the driver) gets the connect-failure reply, as does
#    a DSN whose odbc.ini the service cannot read; no database is made.
# Usage: readonly_config.sh BUILD_DIR SOURCE_DIR
build=$1 src=$2
. "$(dirname "$0")/lib.sh"

[ "$(id -u)" -eq 0 ] || skip "needs root (mount namespace, the service user)"
for tool in unshare mount setpriv cpack dpkg-deb sqlite3; do
  command -v "$tool" >/dev/null || skip "$tool not found"
done

if [ -z "${VQ_IN_NAMESPACE:-}" ]; then
  # Everything below runs in a mount namespace of its own.
  unshare -m --propagation private true 2>/dev/null || skip "cannot make a mount namespace here"
  rm -rf "$VQ_TMP"
  trap - EXIT
  exec unshare -m --propagation private env VQ_IN_NAMESPACE=1 bash "$0" "$@"
fi

ns_cleanup() {
  local pid
  for pid in "${VQ_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${VQ_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  umount -l /etc /usr /var 2>/dev/null || true
  rm -rf "$VQ_TMP"
}
trap ns_cleanup EXIT

out="$VQ_TMP/out"
(cd "$build" && cpack -G DEB -B "$out") >"$VQ_TMP/cpack.log" 2>&1 \
  || { cat "$VQ_TMP/cpack.log" >&2; fail "cpack -G DEB exits 0"; finish; }
deb=$(ls "$out"/*.deb)

for d in etc usr var; do
  mkdir -p "$VQ_TMP/overlay/$d/up" "$VQ_TMP/overlay/$d/work"
  mount -t overlay overlay \
    -o "lowerdir=/$d,upperdir=$VQ_TMP/overlay/$d/up,workdir=$VQ_TMP/overlay/$d/work" "/$d" \
    || skip "cannot mount an overlay on /$d"
done

# Installing: the files (copied into the overlays, never extracted over /
# itself), then the maintainer script as dpkg would run it.
dpkg-deb -x "$deb" "$VQ_TMP/x"
cp -a "$VQ_TMP/x/usr/." /usr/
cp -a "$VQ_TMP/x/etc/." /etc/
dpkg-deb -e "$deb" "$VQ_TMP/control"
check "postinst configure exits 0" sh "$VQ_TMP/control/postinst" configure
check "postinst made the user vqsrv" getent passwd vqsrv
check "postinst made /etc/vqsrv/vqsrv.env (root:vqsrv 0640)" \
  test "$(stat -c '%U:%G %a' /etc/vqsrv/vqsrv.env)" = "root:vqsrv 640"
check "postinst made /etc/vqsrv/odbc.ini (root:vqsrv 0640)" \
  test "$(stat -c '%U:%G %a' /etc/vqsrv/odbc.ini)" = "root:vqsrv 640"
check "postinst linked /etc/vqsrv/odbcinst.ini to the system driver list" \
  test "$(readlink /etc/vqsrv/odbcinst.ini)" = /etc/odbcinst.ini
check "the settings file points unixODBC at /etc/vqsrv" grep -qx 'ODBCSYSINI=/etc/vqsrv' /etc/vqsrv/vqsrv.env

# The README's steps for running by hand (the unit's StateDirectory= makes
# the folder itself), and the demo database.
install -d -o vqsrv -g vqsrv -m 0750 /var/lib/vqsrv
sqlite3 /var/lib/vqsrv/demo.db </usr/share/vqsrv/demo.sql
chown vqsrv:vqsrv /var/lib/vqsrv/demo.db

# A DSN file named by ODBCINI, readable but not writable by the service, and
# a DSN folder whose odbc.ini the service cannot read.
printf '[legacy]\nDriver=SQLite3\nDatabase=/var/lib/vqsrv/legacy.db\n' >/etc/vqsrv/legacy.ini
chmod 0644 /etc/vqsrv/legacy.ini
install -d -m 0755 /etc/vqsrv/closed
install -m 0600 /etc/vqsrv/odbc.ini /etc/vqsrv/closed/odbc.ini
ln -s /etc/odbcinst.ini /etc/vqsrv/closed/odbcinst.ini

# ProtectSystem=strict: /usr and /etc read-only.
for d in /etc /usr; do
  mount --bind "$d" "$d" && mount -o remount,bind,ro "$d"
done
check "/etc is read-only now" bash -c '! touch /etc/vqsrv/probe 2>/dev/null'

# Starts /usr/bin/vqsrv as vqsrv with the settings file and extra VAR=value
# words; sets $url and $vq_pid.
start_service() {
  local log=$1; shift
  local settings=() line
  while IFS= read -r line; do settings+=("$line"); done < <(grep -E '^[A-Z_][A-Z0-9_]*=' /etc/vqsrv/vqsrv.env)
  local port
  port=$(free_port)
  start_bg "$log" setpriv --reuid=vqsrv --regid=vqsrv --init-groups \
    env -i PATH=/usr/bin:/bin HOME=/var/lib/vqsrv "${settings[@]}" \
    ZRM_LISTEN="127.0.0.1:$port" ZRM_DEBUG=1 "$@" /usr/bin/vqsrv
  vq_pid=$VQ_LAST_PID
  url="http://127.0.0.1:$port/ZIDozeve"
  wait_http "http://127.0.0.1:$port/healthz" "$vq_pid" || { cat "$log" >&2; return 1; }
}
stop_service() {
  local child rc
  child=$(cat "/proc/$vq_pid/task/$vq_pid/children" | awk '{print $1}')
  kill -TERM "$child"
  wait "$vq_pid" && rc=0 || rc=$?
  [ "$rc" -eq 0 ] || { echo "exit status $rc; log:" >&2; tail -5 "$1" >&2; }
  return "$rc"
}
q() { # q DSN SQL: the reply of "query" for all records
  post_json "$url" "$(printf '{"M":"query","P1":"%s","P2":"%s","P3":-1}' "$1" "$2")"
}
open_dsn() { post_json "$url" "{\"M\":\"open\",\"P1\":\"$1\"}"; }

# 1. The packaged layout.
check "vqsrv runs as vqsrv with /etc read-only" start_service "$VQ_TMP/run1.log"
check "the process is vqsrv's" test "$(stat -c %U "/proc/$(cat "/proc/$vq_pid/task/$vq_pid/children" | awk '{print $1}')")" = vqsrv
check "open demo" test "$(open_dsn demo)" = '{"Status":true}'
check "the demo data is read" test "$(q demo 'SELECT name FROM items ORDER BY id')" = '"apple|bread|cheese|dates|eggs"'
check "CREATE TABLE keep" test "$(q demo 'CREATE TABLE keep(x)')" = '""'
check "INSERT INTO keep" test "$(q demo 'INSERT INTO keep VALUES (1)')" = '""'
check "the row is counted" test "$(q demo 'SELECT count(*) FROM keep')" = '"1"'
check "the row is in /var/lib/vqsrv/demo.db" test "$(sqlite3 /var/lib/vqsrv/demo.db 'SELECT count(*) FROM keep')" = 1
check "start-up says where demo comes from" \
  grep -q 'L1 #0 data source "demo" from /etc/vqsrv/odbc.ini (driver "SQLite3")$' "$VQ_TMP/run1.log"
check "vqsrv exits 0 on SIGTERM" stop_service "$VQ_TMP/run1.log"
check "vqsrv starts again" start_service "$VQ_TMP/run2.log"
check "the row survived the restart" test "$(q demo 'SELECT count(*) FROM keep')" = '"1"'
stop_service "$VQ_TMP/run2.log" || true

# 2. DSNs whose settings the driver would not get, or that cannot be read.
check "vqsrv runs with ODBCINI naming a read-only file" \
  start_service "$VQ_TMP/run3.log" ODBCINI=/etc/vqsrv/legacy.ini
check "open legacy fails" test "$(open_dsn legacy)" = '{"Status":false}'
reply=$(q legacy 'CREATE TABLE t(x)')
echo "query legacy: $reply"
check "query legacy answers the connect failure" \
  test "$reply" = '"Error code = 80004005 (Unspecified error) [vqsrv] Data source \"legacy\" not used: its settings are in /etc/vqsrv/legacy.ini, which the service may not write, and unixODBC then gives the driver none of them; keep DSNs in odbc.ini of the ODBCSYSINI folder (Source=ADODB.Recordset)"'
check "start-up said so on standard error" \
  grep -q '^vqsrv: Data source "legacy" not used: its settings are in /etc/vqsrv/legacy.ini' "$VQ_TMP/run3.log"
check "demo still works beside it" test "$(q demo 'SELECT count(*) FROM keep')" = '"1"'
check "no legacy database was made" test ! -e /var/lib/vqsrv/legacy.db
stop_service || true

check "vqsrv runs with an odbc.ini it cannot read" \
  start_service "$VQ_TMP/run4.log" ODBCSYSINI=/etc/vqsrv/closed
check "open demo fails" test "$(open_dsn demo)" = '{"Status":false}'
reply=$(q demo 'SELECT 1')
echo "query demo: $reply"
check "query demo answers the connect failure" \
  bash -c '[[ $1 == "\"Error code = 80004005 (Unspecified error) "*"Data source name not found"* ]]' _ "$reply"
check "start-up said the file cannot be read" \
  grep -q '^vqsrv: cannot read the DSN file /etc/vqsrv/closed/odbc.ini: Permission denied$' "$VQ_TMP/run4.log"
stop_service || true

finish
