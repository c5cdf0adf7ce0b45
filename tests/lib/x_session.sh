# A private X session for the end-to-end scripts of the windowed programs: a work folder,
# background jobs reaped on exit, the engine's shared objects and settings file kept
# apart from everything else on the machine, and an Xvfb on a free display.
# Sourced with the name of the run (used in the object prefix) in $1.
set -uo pipefail
run=${1:-e2e}
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$work" /dev/shm/"$VISTREL_OBJECT_PREFIX"* 2>/dev/null
}
skip() { echo "SKIP: $*"; exit 77; }
failLogs() {  # prints every log of the work folder
  for f in "$work"/*.log; do echo "--- $f"; cat "$f" || true; done
}
waitFor() {  # waitFor SECONDS COMMAND... : true once the command succeeds
  local limit=$(( $1 * 10 )); shift
  for _ in $(seq 1 "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}
stopped() { ! kill -0 "$1" 2>/dev/null; }
freePort() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

export VISTREL_OBJECT_PREFIX="$run-$$-"
export VISTREL_DEVICE_PREFIX="$run-$$-dev/"  # no virtual microphone here
export VISTREL_KEY_STORE="$work/registry.reg"
trap cleanup EXIT
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/run"
mkdir -p "$work/run" && chmod 700 "$work/run"

startXvfb() {  # an Xvfb on the first free display, which DISPLAY then names
  exec 3>"$work/display"
  # -noreset: the server stays as it is when its last client leaves, for the next one.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  waitFor 10 test -s "$work/display" || return 1
  export DISPLAY=":$(head -1 "$work/display")"
}
