#!/usr/bin/env bash
# The settings dialog of the PC library as a user reaches it, under Xvfb with real
# processes: the viewer (receiving by itself) opens Tools > Settings; the dialog lists the
# properties a stand-in phone (streamfeed) sent; choosing a value sends the phone the
# set-property command; the mirror box is saved at once; "Deutsch" makes the next start
# of the viewer speak German.
# Arguments: the bin folder of the build.
set -uo pipefail
bin=$1
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$work" /dev/shm/"$VISTREL_OBJECT_PREFIX"* 2>/dev/null
}
skip() { echo "SKIP: $*"; exit 77; }
fail() {
  echo "FAIL: $*"
  for f in "$work"/*.log; do echo "--- $f"; cat "$f" || true; done
  exit 1
}
waitFor() {  # waitFor SECONDS COMMAND... : true once the command succeeds
  local limit=$(( $1 * 10 )); shift
  for _ in $(seq 1 "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}

for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (packages xvfb, xdotool)"
done
[ -x "$bin/lookout" ] || skip "lookout was not built (Qt 6 Widgets missing)"
for f in streamfeed device.so device_dialogs.so device.rc Lang/res0407.rc; do
  [ -e "$bin/$f" ] || fail "$bin/$f is missing"
done

export VISTREL_OBJECT_PREFIX="dialogs-e2e-$$-"
export VISTREL_DEVICE_PREFIX="dialogs-e2e-$$-dev/"  # no virtual microphone here
export VISTREL_KEY_STORE="$work/registry.reg"
trap cleanup EXIT
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/run" LANGUAGE= LC_ALL=C LC_MESSAGES= LANG=C
mkdir -p "$work/run" && chmod 700 "$work/run"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# Language 1033 (English), no launcher at start-up.
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"Port"=dword:%08x\n"Language"=dword:00000409\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\lookout]\n"ConnectAtStartup"=dword:00000000\n' \
  "$port" >"$VISTREL_KEY_STORE"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
waitFor 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$work/display")"

windowNamed() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
hasWindow() { [ -n "$(windowNamed "$1")" ]; }
noWindow() { [ -z "$(windowNamed "$1")" ]; }
stopped() { ! kill -0 "$1" 2>/dev/null; }
openSettings() {  # Tools is the menu right of File; Settings is its last item
  local win; win=$(windowNamed Vistrel)
  xdotool windowfocus --sync "$win" 2>/dev/null || true
  xdotool mousemove --window "$win" 12 10 click 1
  sleep 0.5
  xdotool key --clearmodifiers Right
  sleep 0.3
  xdotool key --clearmodifiers Up Return
}

"$bin/lookout" >"$work/viewer.log" 2>&1 &
viewer=$!
pids+=($viewer)
waitFor 10 hasWindow Vistrel || fail "no viewer window"
for _ in $(seq 1 100); do
  "$bin/streamfeed" --port "$port" --frames 20 --rate 10 --linger 60000 >"$work/phone.log" 2>&1 &
  feedPid=$!
  pids+=($feedPid)
  waitFor 2 grep -qs "^connected to" "$work/phone.log" && break
  wait "$feedPid" 2>/dev/null
  sleep 0.1
done
grep -qs "^connected to" "$work/phone.log" || fail "the phone could not connect to the viewer"
sleep 1  # the property list has arrived

openSettings
waitFor 10 hasWindow Settings || fail "Tools > Settings opened no window named Settings"
dialog=$(windowNamed Settings)
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
echo "ok: Tools > Settings opens the settings dialog [${SECONDS}s]"

# The keyboard starts in the property list (first: Effect, None Mono Sepia); Tab goes to
# the values; two steps down choose "Sepia", index 2 of the property with key 0x101.
xdotool key --clearmodifiers Tab
sleep 0.2
xdotool key --clearmodifiers Down
sleep 0.2
xdotool key --clearmodifiers Down
waitFor 10 grep -q "command: set property 257 to index 2" "$work/phone.log" \
  || fail "choosing the third value sent no set-property command"
grep -q "command: set property 257 to index 1" "$work/phone.log" \
  || fail "the second value on the way sent no command"
echo "ok: the dialog lists the phone's properties; choosing Sepia sends set property 257 to index 2 [${SECONDS}s]"

# Back in the property list, the next property (Zoom: 100 150 200 250, default 0).
xdotool key --clearmodifiers shift+Tab
sleep 0.2
xdotool key --clearmodifiers Down Tab
sleep 0.2
xdotool key --clearmodifiers End
waitFor 10 grep -q "command: set property 258 to index 3" "$work/phone.log" \
  || fail "choosing Zoom's last value sent no set-property command"
echo "ok: the second property's values follow its choice; its last value sends index 3 [${SECONDS}s]"

# From the values: rotation, then the mirror box, ticked and saved at once.
xdotool key --clearmodifiers Tab Tab space
waitFor 10 grep -q '"Mirror"=dword:00000001' "$VISTREL_KEY_STORE" || fail "the mirror box was not saved"
echo "ok: the mirror box is saved at once [${SECONDS}s]"
# On to the language list (port, resolution, connect at start-up, Connect, language):
# the entry after English is Deutsch.
xdotool key --clearmodifiers Tab Tab Tab Tab Tab
sleep 0.2
xdotool key --clearmodifiers Down
waitFor 10 grep -q '"Language"=dword:00000407' "$VISTREL_KEY_STORE" || fail "choosing Deutsch was not saved"
echo "ok: choosing Deutsch saves language 0x0407 [${SECONDS}s]"

# Escape closes the dialog; the viewer goes on.
xdotool key --clearmodifiers Escape
waitFor 10 noWindow Settings || fail "Escape did not close the settings dialog"
stopped "$viewer" && fail "the viewer ended with the dialog"
echo "ok: Escape closes the dialog and the viewer goes on [${SECONDS}s]"
kill -TERM "$viewer"
waitFor 10 stopped "$viewer" || fail "SIGTERM did not end the viewer"

# The next start speaks German: the dialog's caption is "Einstellungen".
"$bin/lookout" >"$work/viewer2.log" 2>&1 &
viewer=$!
pids+=($viewer)
waitFor 10 hasWindow Vistrel || fail "no viewer window at the second start"
sleep 0.5
openSettings
waitFor 10 hasWindow Einstellungen || fail "the settings dialog is not German at the next start"
echo "ok: at the next start the settings dialog is German [${SECONDS}s]"
kill -TERM "$viewer"
waitFor 10 stopped "$viewer" || fail "SIGTERM did not end the viewer with the dialog open"
echo "all settings dialog end-to-end checks passed"
