#!/usr/bin/env bash
# Installs the Debian packages vqsrv needs, in three sets:
#   run    what `make run` needs: compiler, libraries, unixODBC, the SQLite driver
#   build  run + the test and benchmark libraries, to build every target
#   test   build + what the suite starts or drives (PostgreSQL, MariaDB,
#          HAProxy, nginx, clang for fuzzing, a headless browser ...)
# Usage: install-deps.sh [run|build|test]   (default: test)
# Idempotent: packages already present are not fetched again.
set -euo pipefail

RUN_PKGS=(
  cmake g++ make pkg-config
  libboost-dev libboost-program-options-dev rapidjson-dev
  unixodbc unixodbc-dev libsqliteodbc sqlite3
)
BUILD_PKGS=(libgtest-dev libgmock-dev libbenchmark-dev)
TEST_PKGS=(
  odbc-postgresql postgresql mariadb-server odbc-mariadb
  curl wrk nginx time haproxy dpkg-dev logrotate
  clang libclang-rt-14-dev llvm
  chromium chromium-driver python3-selenium
)

case "${1:-test}" in
  run) PKGS=("${RUN_PKGS[@]}") ;;
  build) PKGS=("${RUN_PKGS[@]}" "${BUILD_PKGS[@]}") ;;
  test) PKGS=("${RUN_PKGS[@]}" "${BUILD_PKGS[@]}" "${TEST_PKGS[@]}") ;;
  *) echo "usage: $0 [run|build|test]" >&2; exit 64 ;;
esac

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
