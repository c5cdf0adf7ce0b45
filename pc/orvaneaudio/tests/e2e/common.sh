# Shared by the end-to-end scripts: a private PipeWire session in a fresh runtime folder,
# started by the script and reaped on exit. Source it, then call start_pipewire.
set -u

SKIP=77
pids=()
work=""

need() {
  for b in "$@"; do
    if ! command -v "$b" >/dev/null 2>&1; then
      echo "SKIP: '$b' is not installed (see .ci/packages/orvaneaudio.txt)"
      exit $SKIP
    fi
  done
}

cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[$i]}" 2>/dev/null
  done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    wait "${pids[$i]}" 2>/dev/null
  done
  if [ -n "$work" ] && [ -z "${KEEP_E2E:-}" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT

# Runs "$@" in the background and remembers it for clean-up.
bg() {
  "$@" &
  pids+=($!)
}

# Ends one background job and forgets it (its pid may be reused afterwards).
stop_bg() {  # stop_bg PID
  local keep=() p
  kill "$1" 2>/dev/null
  wait "$1" 2>/dev/null
  for p in "${pids[@]}"; do [ "$p" != "$1" ] && keep+=("$p"); done
  pids=("${keep[@]}")
}

wait_for() {  # wait_for SECONDS command...
  local limit=$(($1 * 20)) i=0
  shift
  until "$@" >/dev/null 2>&1; do
    i=$((i + 1))
    if [ $i -ge $limit ]; then
      echo "FAILED: timed out waiting for: $*"
      return 1
    fi
    sleep 0.05
  done
}

dump_logs() {
  local f
  for f in "$work"/*.log; do
    [ -e "$f" ] || continue
    echo "--- $(basename "$f")"
    tail -n 15 "$f"
  done
}

# pipewire and wireplumber; their pids in pipewire_pid and wireplumber_pid.
start_graph() {
  bg pipewire >>"$work/pipewire.log" 2>&1
  pipewire_pid=${pids[-1]}
  wait_for 10 test -S "$work/pipewire-0" || { dump_logs; return 1; }
  bg wireplumber >>"$work/wireplumber.log" 2>&1
  wireplumber_pid=${pids[-1]}
  wait_for 10 sh -c 'pw-cli ls Metadata | grep -q "metadata.name = \"default\""' || { dump_logs; return 1; }
}

start_pipewire() {  # start_pipewire [pulse]
  work=$(mktemp -d)
  chmod 700 "$work"
  export XDG_RUNTIME_DIR="$work"
  export XDG_CONFIG_HOME="$work/config"
  export PULSE_RUNTIME_PATH="$work/pulse"
  export VISTREL_DEVICE_PREFIX="vistrel-e2e-$$/"
  unset PIPEWIRE_REMOTE PULSE_SERVER DBUS_SESSION_BUS_ADDRESS
  mkdir -p "$XDG_CONFIG_HOME/wireplumber/main.lua.d"
  # After the stock settings (50-*) and before they are acted on (90-enable-all).
  cat >"$XDG_CONFIG_HOME/wireplumber/main.lua.d/55-no-bus.lua" <<'LUA'
alsa_monitor.properties["alsa.reserve"] = false
default_access.properties["enable-flatpak-portal"] = false
LUA
  start_graph || return 1
  if [ "${1:-}" = pulse ]; then
    bg pipewire-pulse >"$work/pipewire-pulse.log" 2>&1
    pulse_pid=${pids[-1]}
    wait_for 10 pactl info || { dump_logs; return 1; }
  fi
}

wait_node() {  # wait_node NAME
  wait_for 10 sh -c "pw-cli ls Node | grep -q 'node.name = \"$1\"'"
}
