#!/usr/bin/env bash
# The settings dialog of the PC library as a user reaches it, under Xvfb with real
# processes: the viewer (receiving by itself) opens Tools > Settings; the dialog lists the
# properties a stand-in phone (streamfeed) sent; choosing a value sends the phone the
# set-property command; the mirror box is saved at once; "Deutsch" makes the next start
# of the viewer speak German; a failed Connect shows its message in a box; beside a
# serving process the viewer's dialog shows that process's list and its choice reaches
# the phone through it.
# Arguments: the bin folder of the build.
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../tests/lib/session.sh" dialogs-e2e
. "$here/../../../../tests/lib/settings_dialog.sh"

needViewer "$bin" streamfeed Lang/res0407.rc
port=$(freePort)
writePcSettings "$port"

startXvfb

# Opens the dialog named $1 and chooses Effect's third value, Sepia: the keyboard starts in
# the property list (first: Effect, None Mono Sepia), Tab goes to the values, two steps
# down. Until the phone log $2 shows the command (a busy machine may deliver the list or
# the focus late), the dialog is closed and the choice made again, three times at most.
chooseSepia() {
  local caption=$1 log=$2
  for _ in 1 2 3; do
    hasWindow "$caption" || openSettings
    waitFor 10 hasWindow "$caption" || return 1
    xdotool windowfocus --sync "$(windowNamed "$caption")" 2>/dev/null || true
    sleep 0.5
    xdotool key --clearmodifiers Tab
    sleep 0.2
    xdotool key --clearmodifiers Down
    sleep 0.2
    xdotool key --clearmodifiers Down
    waitFor 5 grep -q "command: set property 257 to index 2" "$log" && return 0
    xdotool key --clearmodifiers Escape
    waitFor 5 noWindow "$caption"
  done
  return 1
}

spawn "$work/viewer.log" "$bin/lookout"
viewer=$last
waitFor 10 hasWindow Vistrel || fail "no viewer window"
for _ in $(seq 1 100); do
  spawn "$work/phone.log" "$bin/streamfeed" --port "$port" --frames 20 --rate 10 --linger 60000
  feedPid=$last
  waitFor 2 grep -qs "^connected to" "$work/phone.log" && break
  stopJob "$feedPid"
  sleep 0.1
done
grep -qs "^connected to" "$work/phone.log" || fail "the phone could not connect to the viewer"
sleep 1  # the property list has arrived

openSettings
waitFor 10 hasWindow Settings || fail "Tools > Settings opened no window named Settings"
echo "ok: Tools > Settings opens the settings dialog [${SECONDS}s]"
chooseSepia Settings "$work/phone.log" || fail "choosing the third value sent no set-property command"
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

# Connect, with no device set up to start the device program on: the viewer shows the
# failure in a message box (a second window named Vistrel) and keeps it on stderr.
viewerWindow=$(windowNamed Vistrel)
xdotool key --clearmodifiers shift+Tab
sleep 0.2
xdotool key --clearmodifiers space
boxShown() { [ "$(windowCount Vistrel)" -ge 2 ]; }
waitFor 10 boxShown || fail "a failed Connect showed no message box"
grep -q "No device is set up" "$work/viewer.log" || fail "a failed Connect wrote no message to stderr"
box=$(xdotool search --onlyvisible --name '^Vistrel$' | grep -vx "$viewerWindow" | head -1)
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key --clearmodifiers Return
waitFor 10 eval '! boxShown' || fail "OK did not close the message box"
hasWindow Settings || fail "the settings dialog ended with the message box"
echo "ok: a failed Connect shows its message in a box and on stderr [${SECONDS}s]"

# Escape closes the dialog; the viewer goes on.
xdotool windowfocus --sync "$(windowNamed Settings)" 2>/dev/null || true
xdotool key --clearmodifiers Escape
waitFor 10 noWindow Settings || fail "Escape did not close the settings dialog"
stopped "$viewer" && fail "the viewer ended with the dialog"
echo "ok: Escape closes the dialog and the viewer goes on [${SECONDS}s]"
kill -TERM "$viewer"
waitFor 10 stopped "$viewer" || fail "SIGTERM did not end the viewer"

# The next start speaks German: the dialog's caption is "Einstellungen".
spawn "$work/viewer2.log" "$bin/lookout"
viewer=$last
waitFor 10 hasWindow Vistrel || fail "no viewer window at the second start"
sleep 0.5
openSettings
waitFor 10 hasWindow Einstellungen || fail "the settings dialog is not German at the next start"
echo "ok: at the next start the settings dialog is German [${SECONDS}s]"
kill -TERM "$viewer"
waitFor 10 stopped "$viewer" || fail "SIGTERM did not end the viewer with the dialog open"

# Beside a serving process the viewer is its client: the dialog shows the list the
# serving process has, and the choice reaches the phone through it.
[ -x "$bin/vistrel-pc" ] || fail "$bin/vistrel-pc is missing"
spawn "$work/server.log" "$bin/vistrel-pc" --serve --no-files
waitFor 5 grep -q "serving process" "$work/server.log" || fail "the serving process did not open"
spawn "$work/viewer3.log" "$bin/lookout"
viewer=$last
waitFor 10 hasWindow Vistrel || fail "no viewer window beside the serving process"
spawn "$work/phone2.log" "$bin/streamfeed" --port "$port" --frames 20 --rate 10 --linger 60000
waitFor 10 grep -qs "^connected to" "$work/phone2.log" || fail "the phone could not connect to the serving process"
sleep 1
openSettings
waitFor 10 hasWindow Einstellungen || fail "no settings dialog in the client"
chooseSepia Einstellungen "$work/phone2.log" \
  || fail "the client's choice did not reach the phone through the serving process"
echo "ok: beside a serving process the dialog lists its properties and the choice reaches the phone [${SECONDS}s]"
kill -TERM "$viewer"
waitFor 10 stopped "$viewer" || fail "SIGTERM did not end the client viewer"
echo "all settings dialog end-to-end checks passed"
