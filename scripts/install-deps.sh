#!/usr/bin/env bash
# Installs the Debian packages vqsrv needs to build, run and test.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

PKGS=(
  cmake g++ make pkg-config
  libboost-dev libboost-program-options-dev rapidjson-dev
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql sqlite3
  libgtest-dev libgmock-dev libbenchmark-dev
  postgresql mariadb-server odbc-mariadb curl wrk nginx time
  haproxy dpkg-dev
  logrotate
  clang libclang-rt-14-dev llvm
  chromium chromium-driver python3-selenium
)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them by hand)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
