#!/usr/bin/env bash
# The systemd units keep their hardening and pass systemd-analyze verify
# (on copies whose ExecStart names the built binary, so the check does not
# depend on an installed /usr/bin/vqsrv).
# Usage: unit_verify.sh BUILD_DIR SOURCE_DIR
build=$1 src=$2
. "$(dirname "$0")/lib.sh"

bin=$(cd "$build/bin" && pwd)/vqsrv
for unit in vqsrv.service vqsrv@.service; do
  f="$src/contrib/$unit"
  for line in 'User=vqsrv' 'NoNewPrivileges=yes' 'ProtectSystem=strict' 'ProtectHome=yes' \
              'PrivateTmp=yes' 'PrivateDevices=yes' 'ProtectKernelTunables=yes' \
              'ProtectKernelModules=yes' 'ProtectControlGroups=yes' \
              'RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX' 'LockPersonality=yes' \
              'MemoryDenyWriteExecute=yes' 'SystemCallFilter=@system-service' \
              'EnvironmentFile=-/etc/vqsrv/vqsrv.env' 'Restart=on-failure' 'LimitNOFILE=65536'; do
    check "$unit has $line" grep -qx "$line" "$f"
  done
done
check "vqsrv.service starts /usr/bin/vqsrv" grep -qx 'ExecStart=/usr/bin/vqsrv' "$src/contrib/vqsrv.service"
# An instance reads its own settings file after the shared one, so its
# settings win (systemd reads EnvironmentFile= lines in order).
check "vqsrv@.service reads /etc/vqsrv/<instance>.env after vqsrv.env" \
  test "$(grep '^EnvironmentFile=' "$src/contrib/vqsrv@.service" | tr '\n' ' ')" = \
       "EnvironmentFile=-/etc/vqsrv/vqsrv.env EnvironmentFile=-/etc/vqsrv/%i.env "
# The instance port must win over ZRM_LISTEN from the settings file, so it is
# set on the command line, not with Environment= (which the file overrides).
check "vqsrv@.service listens on the instance port" \
  grep -qx 'ExecStart=/usr/bin/env ZRM_LISTEN=127.0.0.1:%i /usr/bin/vqsrv' "$src/contrib/vqsrv@.service"

command -v systemd-analyze >/dev/null || { echo "systemd-analyze not found: verify skipped"; finish; exit 0; }

d="$VQ_TMP/units"
mkdir -p "$d"
sed "s|/usr/bin/vqsrv|$bin|" "$src/contrib/vqsrv.service" >"$d/vqsrv.service"
sed "s|/usr/bin/vqsrv|$bin|" "$src/contrib/vqsrv@.service" >"$d/vqsrv@7401.service"
for unit in vqsrv.service vqsrv@7401.service; do
  # verify also reports trouble in units it loads as dependencies; only the
  # lines about our unit count.
  if out=$(cd "$d" && SYSTEMD_LOG_COLOR=0 systemd-analyze verify "./$unit" 2>&1); then rc=0; else rc=$?; fi
  ours=$(grep -F "$unit" <<<"$out" || true)
  if [ -n "$ours" ]; then echo "$ours" >&2; fi
  check "systemd-analyze verify $unit reports nothing about it" test -z "$ours"
  [ "$rc" -eq 0 ] || echo "(systemd-analyze exit status $rc; output: $out)"
done

finish
