#!/usr/bin/env bash
# The device program's window as a real process under Xvfb, driven by X key events
# (xdotool), beside a stand-in PC (vistrel-receive) on loopback:
#  1. Enter starts capture: the PC receives the camera's property list and 320x240 frames;
#  2. F2 opens the menu, Settings > Camera opens the setting editor with its "Advanced"
#     popup (the camera has no numeric settings), Resolution > 640x480 UYVY: the PC prints the value report and the frames
#     arrive at 640x480;
#  3. Settings > Language, "Deutsch", Done (F1): the German restart message, the program
#     ends and saved both choices; started again it speaks German: the property names the
#     PC receives and the "About" dialog ("Info").
# Arguments: the bin folder of the build. WINDOW_E2E_KEEP=DIR keeps screenshots there.
bin=$(cd "$1" && pwd)
. "$(dirname "$0")/../../../../tests/lib/session.sh" window-e2e
failContext() {
  [ -n "${DISPLAY:-}" ] && xwininfo -root -tree 2>/dev/null | grep '("vistrel"'
  [ -n "${DISPLAY:-}" ] && import -window root "$work/failed.png" 2>/dev/null &&
    [ -n "${WINDOW_E2E_KEEP:-}" ] && cp "$work/failed.png" "$WINDOW_E2E_KEEP/"
  echo "--- settings"; cat "$VISTREL_KEY_STORE"
}

need Xvfb xdotool xwininfo python3
[ -x "$bin/vistrel" ] || fail "$bin/vistrel is missing"
[ -x "$bin/vistrel-receive" ] || fail "$bin/vistrel-receive is missing"
"$bin/vistrel" --help | grep -q -- "--window" || fail "vistrel has no --window"

export VISTREL_FRAMESINK_DEVICE=test-pattern
mkdir -p "$work/frames"
port=$(freePort)
# The camera alone (no microphone here), German installed, the PC on loopback.
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"Languages"="0407,"\n"Source"=";Camera;"\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\Network]\n"RemoteIP"="127.0.0.1"\n"RemoteIPAuto"=dword:00000000\n"RemotePort"=dword:%08x\n' \
  "$port" >"$VISTREL_KEY_STORE"

startXvfb 800x600x24

spawn "$work/receive.log" "$bin/vistrel-receive" --port "$port" --bind 127.0.0.1 --out "$work/frames" -q </dev/null
waitListening "$port" || fail "vistrel-receive does not listen"

vistrel=""
startVistrel() {  # startVistrel NAME : the window program, log in NAME.log
  spawn "$work/$1.log" "$bin/vistrel" --window
  vistrel=$last
  waitFor 40 hasWindow 'Vistrel' || fail "no main window"
  local w; w=$(window 'Vistrel')
  xdotool mousemove --sync 100 100 2>/dev/null
  xdotool windowfocus --sync "$w" 2>/dev/null || true
  sleep 0.5
}
# A window of the program by its title (a regular expression without anchors): Qt's
# helper windows carry no class, and a closed dialog's window is destroyed.
window() {
  xwininfo -root -tree 2>/dev/null | sed -n "s/^ *\(0x[0-9a-f]*\) \"$1\": (\"vistrel\" \"vistrel\").*/\1/p" | head -1
}
hasWindow() { [ -n "$(window "$1")" ]; }
noWindow() { [ -z "$(window "$1")" ]; }
# Waits for a window and gives it the keyboard (there is no window manager to do so).
opened() {  # opened TITLE
  waitFor 5 hasWindow "$1" || return 1
  sleep 0.3
  xdotool windowfocus --sync "$(window "$1")" 2>/dev/null || true
  sleep 0.2
}
key() { xdotool key --delay 150 "$@"; sleep 0.3; }
# The size of the newest frame the PC wrote, "WxH" from its JPEG frame header.
newestSize() {
  python3 - "$work/frames" <<'PY'
import os, struct, sys
d = sys.argv[1]
names = sorted(n for n in os.listdir(d) if n.endswith(".jpg"))
if len(names) < 2:
    sys.exit(1)
b = open(os.path.join(d, names[-2]), "rb").read()  # the newest may still be written
i = 2
while i + 9 < len(b):
    if b[i] != 0xFF:
        i += 1
        continue
    m = b[i + 1]
    if m in (0xC0, 0xC1, 0xC2):
        h, w = struct.unpack(">HH", b[i + 5:i + 9])
        print("%dx%d" % (w, h))
        sys.exit(0)
    i += 2 + struct.unpack(">H", b[i + 2:i + 4])[0]
sys.exit(1)
PY
}
sizeIs() { [ "$(newestSize)" = "$1" ]; }

# 1. Enter starts capture.
startVistrel english
key Return
waitFor 15 grep -q "^phone connected" "$work/receive.log" || fail "the PC got no connection after Enter"
waitFor 10 grep -q "Resolution" "$work/receive.log" || fail "no property list at the PC"
waitFor 10 sizeIs 320x240 || fail "no 320x240 frames at the PC (newest: $(newestSize))"
echo "ok: Enter started capture; 320x240 frames arrive [${SECONDS}s]"

# 2. Menu > Settings > Camera; "Advanced" > Resolution > the 7th choice, 640x480 UYVY.
key F2
key Down Down Down Right Return
opened 'vistrel' || fail "the setting editor did not open"
# This camera has no numeric settings: the editor opens with its "Advanced" popup.
key Down Right Down Down Down Down Down Down Return
waitFor 10 grep -q "value report: key [0-9]* = index 6 (Resolution: 640x480 UYVY)" "$work/receive.log" \
  || fail "no value report for the new resolution at the PC"
waitFor 15 sizeIs 640x480 || fail "the frames did not change to 640x480 (newest: $(newestSize))"
echo "ok: the editor's Resolution reached the PC as a value report; 640x480 frames arrive [${SECONDS}s]"
key Escape
waitFor 5 noWindow 'vistrel' || fail "Escape did not close the setting editor"

# 3. Menu > Settings > Language: "Deutsch", Done.
key F2
key Down Down Down Right Down Down Return
opened 'General Settings' || fail "the language dialog did not open"
key Down F1
opened 'vistrel' || fail "no message after the language change"
[ -n "${WINDOW_E2E_KEEP:-}" ] && import -window root "$WINDOW_E2E_KEEP/restart-message.png"
key Return  # the message "restart the program" (in German already)
waitFor 15 stopped "$vistrel" || fail "the program did not end after the language change"
reap "$vistrel"; status=$?
[ "$status" = 0 ] || fail "the program ended with status $status"
grep -q '"Current Language"=dword:00000407' "$VISTREL_KEY_STORE" || fail "German was not saved"
# Saved under the new language's names, which the next start reads.
grep -q '"Auflösung"=dword:00000006' "$VISTREL_KEY_STORE" || fail "the resolution was not saved"
waitFor 10 grep -q "^phone disconnected" "$work/receive.log" || fail "the PC did not see the link end"
echo "ok: the language change ended the program, both choices saved [${SECONDS}s]"

startVistrel german
key Return
waitFor 15 grep -q "Auflösung" "$work/receive.log" || fail "the property names at the PC are not German"
waitFor 10 sizeIs 640x480 || fail "the saved resolution was not used (newest: $(newestSize))"
key F2
key Down Down Down Down Return
opened 'Info' || fail "no German \"About\" dialog (Info)"
[ -n "${WINDOW_E2E_KEEP:-}" ] && import -window root "$WINDOW_E2E_KEEP/about-german.png"
key F1  # "Fertig"
waitFor 5 noWindow 'Info' || fail "F1 (Fertig) did not close the About dialog"
echo "ok: in German: property names at the PC, the About dialog [${SECONDS}s]"
opened 'Vistrel'  # the keyboard back to the main window
key ctrl+q
waitFor 15 stopped "$vistrel" || fail "Ctrl+Q did not end the program"
reap "$vistrel"; status=$?
[ "$status" = 0 ] || fail "the program ended with status $status after Ctrl+Q"
echo "window end to end: ok [${SECONDS}s]"
