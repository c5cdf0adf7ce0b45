# A private PipeWire session for the camera's end-to-end scripts: a fresh runtime folder,
# PipeWire and WirePlumber started as background jobs and reaped on exit, and the
# engine's shared objects and settings kept apart from everything else on the machine.
set -u

SKIP=77
pids=()
work=""

require() {
  for b in "$@"; do
    if ! command -v "$b" >/dev/null 2>&1; then
      echo "SKIP: '$b' is not installed (see .ci/packages/virtual-camera.txt)"
      exit $SKIP
    fi
  done
}

finish() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[$i]}" 2>/dev/null; done
  rm -f /dev/shm/"${VISTREL_OBJECT_PREFIX:-none}"* 2>/dev/null
  if [ -n "$work" ] && [ -z "${KEEP_E2E:-}" ]; then rm -rf "$work"; fi
}
trap finish EXIT

spawn() {  # spawn LOG COMMAND... : background job, remembered for clean-up; pid in $last
  local log=$1
  shift
  "$@" >"$log" 2>&1 &
  last=$!
  pids+=($last)
}

until_true() {  # until_true SECONDS COMMAND...
  local limit=$(($1 * 20)) i=0
  shift
  until "$@" >/dev/null 2>&1; do
    i=$((i + 1))
    [ $i -ge $limit ] && return 1
    sleep 0.05
  done
}

show_logs() {
  local f
  for f in "$work"/*.log; do
    [ -e "$f" ] || continue
    echo "--- $(basename "$f")"
    tail -n 20 "$f"
  done
}

fail() {
  echo "FAIL: $*"
  show_logs
  exit 1
}

# Starts the daemons; sets a free loopback port in the settings.
open_session() {
  work=$(mktemp -d)
  chmod 700 "$work"
  export XDG_RUNTIME_DIR="$work"
  export XDG_CONFIG_HOME="$work/config"
  export VISTREL_OBJECT_PREFIX="cam-e2e-$$-"
  export VISTREL_DEVICE_PREFIX="cam-e2e-$$-dev/"
  export VISTREL_KEY_STORE="$work/registry.reg"
  unset PIPEWIRE_REMOTE DBUS_SESSION_BUS_ADDRESS
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mkdir -p "$XDG_CONFIG_HOME/wireplumber/main.lua.d"
  cat >"$XDG_CONFIG_HOME/wireplumber/main.lua.d/55-no-bus.lua" <<'LUA'
alsa_monitor.properties["alsa.reserve"] = false
default_access.properties["enable-flatpak-portal"] = false
LUA
  spawn "$work/pipewire.log" pipewire
  until_true 10 test -S "$work/pipewire-0" || fail "pipewire did not start"
  spawn "$work/wireplumber.log" wireplumber
  until_true 10 sh -c 'pw-cli ls Metadata | grep -q "metadata.name = \"default\""' ||
    fail "wireplumber did not start"
}

# settings WIDTH HEIGHT : the key store with the port and the camera's output size.
settings() {
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"Port"=dword:%08x\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\vistrel-camera]\n"Width"=dword:%08x\n"Height"=dword:%08x\n' \
    "$port" "$1" "$2" >"$VISTREL_KEY_STORE"
}

node_up() {  # node_up NAME
  until_true 10 sh -c "pw-cli ls Node | grep -q 'node.name = \"$1\"'"
}
