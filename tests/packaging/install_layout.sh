#!/usr/bin/env bash
# cmake --install into a scratch root: every file lands where it belongs, the
# units start the installed binary, and nothing is written outside the prefix.
# Usage: install_layout.sh BUILD_DIR SOURCE_DIR
build=$1 src=$2
. "$(dirname "$0")/lib.sh"

root="$VQ_TMP/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >"$VQ_TMP/install.log" 2>&1 \
  || { cat "$VQ_TMP/install.log" >&2; fail "cmake --install exits 0"; finish; }

u="$root/usr"
check "bin/vqsrv is an executable ELF file" \
  bash -c '[ -f "$1" ] && [ -x "$1" ] && [ "$(head -c 4 "$1" | od -An -c | tr -d " ")" = "177ELF" ]' _ "$u/bin/vqsrv"
if [ -x "$build/bin/vqcall" ]; then
  check "bin/vqcall installed with the client" test -x "$u/bin/vqcall"
fi
for unit in vqsrv.service vqsrv@.service; do
  f="$u/lib/systemd/system/$unit"
  check "$unit in lib/systemd/system" test -f "$f"
  check "$unit is not executable" test ! -x "$f"
done
check "unit starts /usr/bin/vqsrv" \
  grep -qx 'ExecStart=/usr/bin/vqsrv' "$u/lib/systemd/system/vqsrv.service"
check "template unit starts /usr/bin/vqsrv on the instance port" \
  grep -qx 'ExecStart=/usr/bin/env ZRM_LISTEN=127.0.0.1:%i /usr/bin/vqsrv' "$u/lib/systemd/system/vqsrv@.service"
check "odbc.ini sample equals contrib/odbc.ini" cmp -s "$src/contrib/odbc.ini" "$u/share/vqsrv/odbc.ini.sample"
check "environment sample equals contrib/vqsrv.env" cmp -s "$src/contrib/vqsrv.env" "$u/share/vqsrv/vqsrv.env.sample"
check "load-balancer sample equals contrib/haproxy.cfg" cmp -s "$src/contrib/haproxy.cfg" "$u/share/vqsrv/haproxy.cfg.sample"
check "log rotation sample equals contrib/vqsrv.logrotate" cmp -s "$src/contrib/vqsrv.logrotate" "$u/share/vqsrv/logrotate.sample"
check "README in share/doc/vqsrv" cmp -s "$src/README.md" "$u/share/doc/vqsrv/README.md"

outside=$(cd "$root" && find . -mindepth 1 -not -path './usr' -not -path './usr/*')
check "nothing installed outside the prefix" test -z "$outside"
[ -z "$outside" ] || echo "$outside" >&2

# Another prefix: the units follow the binary there.
alt="$VQ_TMP/alt"
DESTDIR="$alt" cmake --install "$build" --prefix /opt/vq >"$VQ_TMP/install-alt.log" 2>&1 \
  || { cat "$VQ_TMP/install-alt.log" >&2; fail "cmake --install --prefix /opt/vq exits 0"; finish; }
check "prefix /opt/vq: bin/vqsrv there" test -x "$alt/opt/vq/bin/vqsrv"
check "prefix /opt/vq: unit starts /opt/vq/bin/vqsrv" \
  grep -qx 'ExecStart=/opt/vq/bin/vqsrv' "$alt/opt/vq/lib/systemd/system/vqsrv.service"
check "prefix /opt/vq: template starts /opt/vq/bin/vqsrv" \
  grep -qx 'ExecStart=/usr/bin/env ZRM_LISTEN=127.0.0.1:%i /opt/vq/bin/vqsrv' "$alt/opt/vq/lib/systemd/system/vqsrv@.service"
check "prefix /opt/vq: the settings file path stays absolute" \
  grep -qx 'EnvironmentFile=-/etc/vqsrv/vqsrv.env' "$alt/opt/vq/lib/systemd/system/vqsrv.service"

finish
