# Shared helpers of the packaging tests: a scratch folder removed on exit,
# background processes stopped on exit (even when a check fails), free
# loopback ports and small HTTP checks through curl.
set -euo pipefail

# The tests start their own servers; settings of the calling shell must not
# leak into them (a token would make every request answer 401).
while IFS= read -r vq_var; do unset "$vq_var"; done < <(compgen -e | grep '^ZRM_' || true)

VQ_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vq-pkg-test.XXXXXX")
VQ_PIDS=()
vq_cleanup() {
  local pid
  for pid in "${VQ_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${VQ_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$VQ_TMP"
}
trap vq_cleanup EXIT
trap 'exit 130' INT TERM

VQ_FAILS=0
fail() { echo "FAIL: $*" >&2; VQ_FAILS=$((VQ_FAILS + 1)); }
pass() { echo "ok: $*"; }
check() { # check DESCRIPTION COMMAND... : records a failure instead of exiting
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
  if [ "$VQ_FAILS" -ne 0 ]; then echo "$VQ_FAILS check(s) failed" >&2; exit 1; fi
  echo "all checks passed"
}
skip() { echo "SKIP: $*"; exit 77; }

# A loopback port nobody listens on and that this test has not handed out.
# Drawn below the kernel's ephemeral range (32768 and up), where other
# tests' port-0 listeners and outgoing connections take their ports.
VQ_PORTS_GIVEN=" "
free_port() {
  local p i
  for i in $(seq 1 200); do
    p=$((20000 + (RANDOM * 32768 + RANDOM) % 12700))
    case "$VQ_PORTS_GIVEN" in *" $p "*) continue ;; esac
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
      VQ_PORTS_GIVEN="$VQ_PORTS_GIVEN$p "
      echo "$p"
      return 0
    fi
  done
  echo "no free port found" >&2
  return 1
}

# Starts a command in the background, output to a log file; remembers it
# for the cleanup. Sets VQ_LAST_PID. The time limit ends it even when this
# shell is killed without running its cleanup (a CTest time-out).
start_bg() {
  local log=$1; shift
  timeout -k 5 100 "$@" >"$log" 2>&1 &
  VQ_LAST_PID=$!
  VQ_PIDS+=("$VQ_LAST_PID")
}

# True while PID runs (a zombie counts as ended).
alive() {
  [ -r "/proc/$1/status" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status"
}

# Waits (at most about 5 s) until GET URL answers 200; fails early when the
# process PID has ended. Further words are curl options (a header).
wait_http() {
  local url=$1 pid=$2 i
  shift 2
  for i in $(seq 1 100); do
    if curl -fs -m 1 -o /dev/null "$@" "$url"; then return 0; fi
    alive "$pid" || return 1
    sleep 0.05
  done
  return 1
}

# POSTs a JSON body; prints the reply body. Further words are curl options.
post_json() {
  local url=$1 body=$2
  shift 2
  curl -s -m 5 -H 'Content-Type: application/json' "$@" --data-binary "$body" "$url"
}
