# shellcheck shell=bash
# The one set-up of every end-to-end script: a private session that leaves nothing
# behind and meets nothing else running on the machine.
#
#   . "$root/tests/lib/session.sh" NAME      (NAME: a short word for this run)
#
# Sourcing it gives the script:
#   work                   a private folder (mode 700), removed on exit (kept when
#                          KEEP_E2E is set, for a look after a failure)
#   VISTREL_OBJECT_PREFIX, VISTREL_DEVICE_PREFIX, VISTREL_KEY_STORE
#                          private shared-object names, device names and settings file;
#                          the objects are removed on exit
#   XDG_RUNTIME_DIR, XDG_CONFIG_HOME
#                          private folders inside $work; no session bus, no Wayland
# and the functions below. Every background process goes through spawn (or track) and is
# ended by its pid on exit: on success, on failure and on SIGINT/SIGTERM/SIGHUP.
# Nothing else on the machine is signalled.
#
#   skip MESSAGE           the run is skipped (exit 77)
#   fail MESSAGE           "FAIL: MESSAGE", the tail of every log in $work, exit 1; a
#                          script may define failContext() to print more first
#   need TOOL...           skips unless every tool is installed
#   freePort               prints a free TCP port on 127.0.0.1
#   spawn LOG COMMAND...   COMMAND in the background, output in LOG; its pid in $last
#   track PID              a process started otherwise, ended on exit like spawn's
#   reap PID [SECONDS]     waits up to SECONDS (10) for PID to end by itself (then
#                          SIGKILL), reaps it, forgets it; returns its exit status
#   stopJob PID [SIGNAL]   sends SIGNAL (TERM), then reap PID 5
#   atExit COMMAND...      run at exit once the processes have ended (for example to
#                          remove something the script made outside $work)
#   forget PID             the script reaped PID itself: not to be signalled on exit
#   stopped PID            true once PID has ended
#   waitFor SECONDS COMMAND...   true as soon as COMMAND succeeds, false after SECONDS
#   waitListening PORT [SECONDS] true once something listens on PORT, on any local
#                          address (no probe connection is made)
#   showLogs               the tail of every *.log in $work
#   startPipewire [pulse]  PipeWire and WirePlumber (and pipewire-pulse), ready to use;
#                          pids in pipewirePid, wireplumberPid, pulsePid
#   stopPipewire           ends them again (for a restart: startPipewire once more)
#   waitNode NAME [SECONDS]      true once the PipeWire node NAME is in the graph
#   startXvfb [WxHxD [OPTION...]]  an Xvfb on a free display, which DISPLAY then names
set -uo pipefail

sessionName=${1:-e2e}
work=$(mktemp -d "${TMPDIR:-/tmp}/vistrel-$sessionName.XXXXXX") || {
  echo "FAIL: no temporary folder"
  exit 1
}
chmod 700 "$work"
pids=()
last=""
exitCommands=()

export VISTREL_OBJECT_PREFIX="$sessionName-$$-"
export VISTREL_DEVICE_PREFIX="$sessionName-$$-dev/"
export VISTREL_KEY_STORE="$work/registry.reg"
export XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config"
export PULSE_RUNTIME_PATH="$work/run/pulse"
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS PIPEWIRE_REMOTE PULSE_SERVER
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" && chmod 700 "$XDG_RUNTIME_DIR"

alive() {  # a child that has exited but is not reaped yet counts as ended
  local state
  state=$(sed -n 's/^[0-9]* (.*) \([A-Za-z]\) .*/\1/p' "/proc/$1/stat" 2>/dev/null)
  [ -n "$state" ] && [ "$state" != Z ]
}
stopped() { ! alive "$1"; }

forget() {
  local keep=() p
  for p in "${pids[@]}"; do [ "$p" != "$1" ] && keep+=("$p"); done
  pids=("${keep[@]}")
}
track() { pids+=("$1"); }
atExit() { exitCommands+=("$(printf '%q ' "$@")"); }

spawn() {
  local log=$1
  shift
  # A function would run in a subshell whose pid is not the program's: ending it would
  # leave the program running.
  if declare -F "$1" >/dev/null; then fail "spawn: $1 is a shell function, not a program"; fi
  # <&0: the caller's input (a pipe, /dev/null), not the empty input bash gives
  # background commands otherwise.
  "$@" <&0 >"$log" 2>&1 &
  last=$!
  pids+=("$last")
}

reap() {
  local pid=$1 limit=${2:-10} status
  if ! waitFor "$limit" stopped "$pid"; then
    echo "note: $pid did not end within $limit s, killed"
    kill -KILL "$pid" 2>/dev/null
  fi
  wait "$pid" 2>/dev/null
  status=$?
  forget "$pid"
  return $status
}
stopJob() {
  kill -"${2:-TERM}" "$1" 2>/dev/null
  reap "$1" 5
}

endSession() {
  local status=$? i p
  set +e
  trap - EXIT INT TERM HUP
  # The newest first: clients before the daemons they use.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -TERM "${pids[$i]}" 2>/dev/null; done
  for ((i = 0; i < 50; i++)); do
    for p in "${pids[@]}"; do alive "$p" && { sleep 0.1; continue 2; }; done
    break
  done
  for p in "${pids[@]}"; do alive "$p" && kill -KILL "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  for ((i = ${#exitCommands[@]} - 1; i >= 0; i--)); do eval "${exitCommands[$i]}"; done
  rm -rf /dev/shm/"$VISTREL_OBJECT_PREFIX"* 2>/dev/null
  if [ -z "${KEEP_E2E:-}" ]; then rm -rf "$work"; else echo "kept: $work"; fi
  exit "$status"
}
trap endSession EXIT
trap 'echo "interrupted"; exit 130' INT
trap 'echo "terminated"; exit 143' TERM HUP

skip() {
  echo "SKIP: $*"
  exit 77
}
showLogs() {
  local f
  for f in "$work"/*.log; do
    [ -e "$f" ] || continue
    echo "--- $(basename "$f")"
    tail -n 30 "$f"
  done
}
fail() {
  echo "FAIL: $* [${SECONDS}s]"
  if declare -F failContext >/dev/null; then failContext; fi
  showLogs
  exit 1
}
need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || skip "'$tool' is not installed (see .ci/packages/)"
  done
}

freePort() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

now() { echo "${EPOCHREALTIME/[.,]/}"; }  # microseconds
waitFor() {
  local end=$(($(now) + $1 * 1000000))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$(now)" -ge "$end" ] && return 1
    sleep 0.05
  done
}
# A listening socket shows in /proc/net/tcp (or tcp6) with its port and state 0A.
listening() {
  grep -qE "^ *[0-9]+: [0-9A-F]+:$(printf '%04X' "$1") [0-9A-F]+:0000 0A" /proc/net/tcp /proc/net/tcp6 2>/dev/null
}
waitListening() { waitFor "${2:-10}" listening "$1"; }

startPipewire() {
  local wp="$XDG_CONFIG_HOME/wireplumber/main.lua.d"
  mkdir -p "$wp"
  # WirePlumber quits without a session bus unless told not to use it; read after the
  # stock settings (50-*) and before they are acted on (90-enable-all).
  cat >"$wp/55-no-bus.lua" <<'LUA'
alsa_monitor.properties["alsa.reserve"] = false
default_access.properties["enable-flatpak-portal"] = false
LUA
  spawn "$work/pipewire.log" pipewire
  pipewirePid=$last
  waitFor 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || fail "pipewire did not start"
  spawn "$work/wireplumber.log" wireplumber
  wireplumberPid=$last
  waitFor 10 sh -c 'pw-cli ls Metadata | grep -q "metadata.name = \"default\""' ||
    fail "wireplumber did not start"
  pulsePid=""
  if [ "${1:-}" = pulse ]; then
    spawn "$work/pipewire-pulse.log" pipewire-pulse
    pulsePid=$last
    waitFor 10 pactl info || fail "pipewire-pulse did not start"
  fi
}
stopPipewire() {
  if [ -n "${pulsePid:-}" ]; then stopJob "$pulsePid"; fi
  stopJob "$wireplumberPid"
  stopJob "$pipewirePid"
  # The logs of the next start follow the ones of this.
  local f
  for f in pipewire wireplumber pipewire-pulse; do
    if [ -e "$work/$f.log" ]; then mv "$work/$f.log" "$work/$f-before.log"; fi
  done
  pulsePid=""
}
waitNode() {
  waitFor "${2:-10}" sh -c "pw-cli ls Node | grep -q 'node.name = \"$1\"'"
}

startXvfb() {
  local fifo="$work/display" screen=${1:-1024x768x24}
  shift $(($# > 0 ? 1 : 0))
  # -noreset: the server stays as it is when its last client leaves, for the next one.
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset "$@" 3>"$fifo" \
    >>"$work/xvfb.log" 2>&1 &
  last=$!
  pids+=("$last")
  waitFor 10 test -s "$fifo" || fail "Xvfb did not start"
  export DISPLAY=":$(head -1 "$fifo")" QT_QPA_PLATFORM=xcb
  rm -f "$fifo"
}
