#!/usr/bin/env bash
# The viewer as a real process under Xvfb:
#  1. beside a serving process (vistrel-pc --serve) that a phone (streamfeed) sends
#     frames to: the window shows the last frame sent (PSNR of the picture area against
#     the decoded JPEG), and F8 writes that JPEG byte for byte into the snapshot folder;
#  2. receiving by itself (no serving process): a click on the picture reaches the phone
#     as a tap at the matching picture position;
#  3. without the library: exit code 1 and one line saying why.
# Arguments: the bin folder of the build. Set LOOKOUT_SCREENSHOT to keep the screenshot.
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../tests/lib/session.sh" lookout-e2e
failContext() { [ -n "${DISPLAY:-}" ] && xwininfo -root -tree 2>/dev/null | grep -i '"vistrel"'; }

need Xvfb xdotool import compare convert
[ -x "$bin/lookout" ] || skip "lookout was not built (Qt 6 Widgets missing: package qt6-base-dev)"
for f in vistrel-pc streamfeed device.so; do [ -e "$bin/$f" ] || fail "$bin/$f is missing"; done

mkdir -p "$work/snaps"
port=$(freePort)
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"Port"=dword:%08x\n"Folder"="%s"\n' \
  "$port" "$work/snaps" >"$VISTREL_KEY_STORE"

startXvfb
window() { xdotool search --onlyvisible --name '^Vistrel$' 2>/dev/null | head -1; }
hasWindow() { [ -n "$(window)" ]; }
hasFiles() { [ -n "$(ls "$1" 2>/dev/null)" ]; }  # hasFiles DIR
geometry() { xdotool getwindowgeometry "$(window)" 2>/dev/null | sed -n 's/.*Geometry: //p'; }
pictureShown() {  # the window has grown to hold a 320 x 240 picture
  local g; g=$(geometry); [ "${g%x*}" = 320 ] && [ "${g#*x}" -gt 240 ]
}
feed() {  # feed NAME FRAMES LINGER_MS : a phone, retried until it gets connected
  local name=$1 frames=$2 linger=$3
  mkdir -p "$work/$name-sent"
  for _ in $(seq 1 100); do
    "$bin/streamfeed" --port "$port" --frames "$frames" --rate 20 --linger "$linger" \
      --save "$work/$name-sent" >"$work/$name.log" 2>&1 &
    feedPid=$!
    track $feedPid
    waitFor 2 grep -qs "^connected to" "$work/$name.log" && return 0
    stopJob "$feedPid"
    sleep 0.1
  done
  return 1
}

# 1. Beside a serving process.
spawn "$work/server.log" "$bin/vistrel-pc" --serve --no-files
server=$last
waitFor 5 grep -q "serving process" "$work/server.log" || fail "the serving process did not open"
spawn "$work/viewer.log" "$bin/lookout"
viewer=$last
waitFor 10 hasWindow || fail "no viewer window"
feed phone1 10 30000 || fail "phone could not connect to the serving process"
sent="$work/phone1-sent/sent-000010.jpg"
waitFor 10 test -f "$sent" || fail "the phone did not send its 10 frames"
waitFor 10 pictureShown || fail "the window did not take the picture's size (it is $(geometry))"
sleep 1  # the last frame is shown
win=$(window)
import -window "$win" "$work/shot.png" || fail "no screenshot"
convert "$sent" "$work/sent.png"
# The picture sits below the menu bar: find the offset where it matches best.
best=0; bestY=-1
height=$(identify -format %h "$work/shot.png")
for y in $(seq 0 $((height - 240))); do
  convert "$work/shot.png" -crop 320x240+0+"$y" +repage "$work/crop.png"
  psnr=$(compare -metric PSNR "$work/crop.png" "$work/sent.png" null: 2>&1 | cut -d' ' -f1)
  [ "$psnr" = inf ] && psnr=99  # identical
  if awk -v a="$psnr" -v b="$best" 'BEGIN { exit !(a > b) }'; then best=$psnr; bestY=$y; fi
  awk -v a="$best" 'BEGIN { exit !(a >= 60) }' && break  # found
done
awk -v a="$best" 'BEGIN { exit !(a >= 30) }' \
  || fail "the window does not show the frame sent (best PSNR $best dB at y=$bestY)"
echo "ok: the window shows the frame sent (PSNR $best dB, 99 = identical; picture at y=$bestY) [${SECONDS}s]"
[ -n "${LOOKOUT_SCREENSHOT:-}" ] && cp "$work/shot.png" "$LOOKOUT_SCREENSHOT"

xdotool windowfocus --sync "$win" 2>/dev/null || true
xdotool key --clearmodifiers F8
waitFor 10 hasFiles "$work/snaps" || fail "F8 wrote no snapshot"
snap="$work/snaps/$(ls "$work/snaps" | head -1)"
basename "$snap" | grep -Eq '^[0-9]{5,6}-[0-9]{6}\.jpg$' || fail "snapshot name $(basename "$snap")"
cmp -s "$snap" "$sent" || fail "the snapshot is not the frame received"
echo "ok: F8 wrote $(basename "$snap"), the frame received byte for byte [${SECONDS}s]"

# Exit through the menu (File, then its last item, Exit): code 0, settings written.
xdotool mousemove --window "$win" 12 $((bestY / 2)) click 1
sleep 0.5
xdotool key --clearmodifiers Up Return
waitFor 10 stopped "$viewer" || fail "File > Exit did not end the viewer"
stopJob "$viewer"; code=$?
[ "$code" = 0 ] || fail "the viewer ended with code $code"
grep -q '"KeepActualSize"=dword:00000001' "$VISTREL_KEY_STORE" || fail "KeepActualSize was not written at exit"
grep -q "\"Folder\"=\"$work/snaps\"" "$VISTREL_KEY_STORE" || fail "Folder was not written at exit"
echo "ok: File > Exit ends the viewer with code 0 and writes its settings [${SECONDS}s]"

# 2. No serving process: the viewer receives by itself, and clicks and keys reach the phone.
stopJob "$server"
reap "$feedPid"
spawn "$work/viewer2.log" "$bin/lookout"
viewer2=$last
waitFor 10 hasWindow || fail "no viewer window (stand-alone)"
feed phone2 10 8000 || fail "phone could not connect to the stand-alone viewer"
waitFor 10 pictureShown || fail "the stand-alone window did not take the picture's size (it is $(geometry))"
sleep 0.5
win=$(window)
xdotool mousemove --window "$win" 160 $((bestY + 120)) click 1
xdotool mousemove --window "$win" 40 $((bestY + 200)) click 1
xdotool windowfocus --sync "$win" 2>/dev/null || true
xdotool key --clearmodifiers 5 Left a
# Taps carry the point in the phone picture scaled to 0..65535 across it.
waitFor 10 grep -q "command: tap x=8192 y=54613" "$work/phone2.log" || fail "the click at 40,200 gave no tap"
grep -q "command: tap x=32768 y=32768" "$work/phone2.log" || fail "the click at the centre gave no tap"
waitFor 5 grep -q "command: key 37" "$work/phone2.log" || fail "the keys did not reach the phone"
grep -q "command: key 53" "$work/phone2.log" || fail "key 5 did not reach the phone"
grep -q "command: key 65" "$work/phone2.log" && fail "the key A is not a phone key but was sent"
echo "ok: clicks at 160,120 and 40,200 reach the phone as taps, keys 5 and Left as 53 and 37 [${SECONDS}s]"
# SIGTERM closes the window like File > Exit: code 0, the settings written.
sed -i 's/"KeepActualSize"=dword:00000001/"KeepActualSize"=dword:00000000/' "$VISTREL_KEY_STORE"
kill -TERM "$viewer2"
waitFor 10 stopped "$viewer2" || fail "SIGTERM did not end the viewer"
stopJob "$viewer2"; code=$?
[ "$code" = 0 ] || fail "after SIGTERM the viewer ended with code $code"
grep -q '"KeepActualSize"=dword:00000001' "$VISTREL_KEY_STORE" || fail "SIGTERM: the settings were not written"
echo "ok: SIGTERM ends the viewer with code 0 and writes its settings [${SECONDS}s]"

# 3. Without the library: code 1 at once, no window, one line saying why.
mkdir -p "$work/alone"
cp "$bin/lookout" "$work/alone/"
"$work/alone/lookout" >"$work/nolib.log" 2>&1; code=$?
[ "$code" = 1 ] || fail "without device.so the viewer ended with code $code"
grep -q "lookout: cannot load device.so" "$work/nolib.log" || fail "no word on the missing library"
echo "ok: without the library the viewer ends at once with code 1 [${SECONDS}s]"

echo "all lookout end-to-end checks passed"
