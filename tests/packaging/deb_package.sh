#!/usr/bin/env bash
# cpack builds the Debian package; its control data declares the runtime
# dependencies and the maintainer scripts, it holds the files where they
# belong, and the vqsrv extracted from it serves.
# Usage: deb_package.sh BUILD_DIR SOURCE_DIR
build=$1 src=$2
. "$(dirname "$0")/lib.sh"

command -v cpack >/dev/null || skip "cpack not found"
command -v dpkg-deb >/dev/null || skip "dpkg-deb not found (package dpkg): the Debian package is not checked"

out="$VQ_TMP/out"
(cd "$build" && cpack -G DEB -B "$out") >"$VQ_TMP/cpack.log" 2>&1 \
  || { cat "$VQ_TMP/cpack.log" >&2; fail "cpack -G DEB exits 0"; finish; }
debs=("$out"/*.deb)
[ -f "${debs[0]}" ] || { cat "$VQ_TMP/cpack.log" >&2; fail "a .deb was written"; finish; }
deb=${debs[0]}
pass "package $(basename "$deb") built"

field() { dpkg-deb -f "$deb" "$1"; }
check "Package is vqsrv" test "$(field Package)" = vqsrv
check "Version is 0.1.0" test "$(field Version)" = 0.1.0
depends=$(field Depends)
echo "Depends: $depends"
has_dep() { # the name as a whole entry of the list, with or without a version
  tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/[[:space:]]//g' | grep -qx "$1"
}
for p in unixodbc libc6 libstdc++6 adduser; do
  check "Depends names $p" has_dep "$p"
done
check "Recommends an ODBC driver" test "$(field Recommends)" = "libsqliteodbc | odbc-postgresql"

dpkg-deb -c "$deb" | awk '{print $NF}' >"$VQ_TMP/contents"
for f in ./usr/bin/vqsrv ./usr/lib/systemd/system/vqsrv.service ./usr/lib/systemd/system/vqsrv@.service \
         ./usr/share/vqsrv/odbc.ini.sample ./usr/share/vqsrv/vqsrv.env.sample \
         ./usr/share/vqsrv/haproxy.cfg.sample ./usr/share/doc/vqsrv/README.md; do
  check "package holds $f" grep -qx "$f" "$VQ_TMP/contents"
done
if [ -x "$build/bin/vqcall" ]; then
  check "package holds ./usr/bin/vqcall" grep -qx ./usr/bin/vqcall "$VQ_TMP/contents"
fi
check "package holds ./etc/logrotate.d/vqsrv" grep -qx ./etc/logrotate.d/vqsrv "$VQ_TMP/contents"
check "nothing outside /usr but the log rotation" \
  bash -c '! grep -v "^\./usr\(/\|$\)" "$1" | grep -vx "\./\|\./etc/\|\./etc/logrotate\.d/\|\./etc/logrotate\.d/vqsrv" | grep -q .' \
  _ "$VQ_TMP/contents"

ctl="$VQ_TMP/control"
dpkg-deb -e "$deb" "$ctl"
check "postinst is executable" test -x "$ctl/postinst"
# Continued lines joined, so the whole adduser call is on one line.
sed -e ':a' -e '/\\$/{N;s/\\\n//;ba' -e '}' "$ctl/postinst" >"$VQ_TMP/postinst.joined"
check "postinst creates the system user vqsrv" \
  grep -Eq 'adduser --system( [^;|&]*)? vqsrv$' "$VQ_TMP/postinst.joined"
check "postinst only adds the user when missing" grep -q 'getent passwd vqsrv' "$ctl/postinst"
for s in postinst prerm postrm; do
  check "$s is valid sh" sh -n "$ctl/$s"
done
# dpkg keeps an operator's edits of a conffile on upgrade and asks on a
# changed one; the files under /etc are exactly the conffiles.
check "conffiles lists /etc/logrotate.d/vqsrv" grep -qx /etc/logrotate.d/vqsrv "$ctl/conffiles"
check "conffiles are the package's files under /etc" \
  test "$(sort "$ctl/conffiles")" = "$(grep '^\./etc/.*[^/]$' "$VQ_TMP/contents" | sed 's/^\.//' | sort)"

# The binary from the package, started from the extracted tree.
x="$VQ_TMP/x"
dpkg -x "$deb" "$x"
check "/etc/logrotate.d/vqsrv equals contrib/vqsrv.logrotate" \
  cmp -s "$src/contrib/vqsrv.logrotate" "$x/etc/logrotate.d/vqsrv"
check "the log rotation signals the service with SIGUSR1" \
  grep -qx $'\t\tsystemctl kill -s USR1 vqsrv.service >/dev/null 2>&1 || true' "$x/etc/logrotate.d/vqsrv"
port=$(free_port)
start_bg "$VQ_TMP/vqsrv.log" env ZRM_LISTEN="127.0.0.1:$port" "$x/usr/bin/vqsrv"
pid=$VQ_LAST_PID
if wait_http "http://127.0.0.1:$port/healthz" "$pid"; then
  check "extracted vqsrv answers /healthz" \
    test "$(curl -s -m 5 "http://127.0.0.1:$port/healthz")" = '{"status":"ok"}'
  check "extracted vqsrv runs a command" \
    test "$(post_json "http://127.0.0.1:$port/ZIDozeve" '{"M":"extr","P1":"abcdef","P2":2,"P3":3}')" = '"cde"'
else
  cat "$VQ_TMP/vqsrv.log" >&2
  fail "extracted vqsrv came up on port $port"
fi

finish
