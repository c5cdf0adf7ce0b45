#!/usr/bin/env bash
# A camera setting chosen in the viewer's settings dialog reaches the real device program
# and changes its picture: the device program (headless, framesink's test-pattern camera,
# 320x240) streams to a serving process; the viewer beside it opens Tools > Settings,
# chooses the device's Resolution and the value 640x480; the choice goes through the
# serving process's link to the device, whose camera restarts at the new size. A second
# client on the PC writes the frames it gets: they arrive at 640x480, and the device's
# settings file holds 640x480.
# Arguments: the bin folder of the build.
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
lib="$here/../../../../tests/lib"
. "$lib/session.sh" device-settings-e2e
. "$lib/settings_dialog.sh"
. "$lib/device_frames.sh"
failContext() {
  [ -d "${frames:-}" ] && echo "frames: $(frame_sizes "$frames" 0 '*.jpg' 2>&1 | uniq -c | tr '\n' ' ')"
}

needViewer "$bin" vistrel-pc
[ -x "$bin/vistrel" ] && [ -e "$bin/framesink.so" ] || skip "the device program or framesink was not built"
port=$(freePort)
writePcSettings "$port"
deviceStore="$work/device.reg"
export VISTREL_FRAMESINK_DEVICE=test-pattern
device() { VISTREL_KEY_STORE="$deviceStore" "$bin/vistrel" "$@"; }
device --set "Camera/Resolution=320x240" >"$work/device-set.log" 2>&1 || fail "the device's resolution could not be set"

startXvfb

# The PC: a serving process, a client writing the device's JPEG frames, the viewer.
spawn "$work/server.log" "$bin/vistrel-pc" --serve --no-files -q
waitFor 5 grep -q "serving process" "$work/server.log" || fail "the serving process did not open"
frames="$work/frames"
spawn "$work/client.log" "$bin/vistrel-pc" --jpeg -o "$frames" -S 16x12 -q
spawn "$work/viewer.log" "$bin/lookout"
viewer=$last
waitFor 10 hasWindow Vistrel || fail "no viewer window"

VISTREL_KEY_STORE="$deviceStore" spawn "$work/device.log" "$bin/vistrel" --headless "-p$port" </dev/null
jpegCount() { ls "$frames"/*.jpg 2>/dev/null | wc -l; }
# The sizes of the frames the PC client has finished, from number $1 on (its newest file
# may be unfinished).
finishedSizes() {
  local n=$(( $(jpegCount) - 1 - $1 ))
  frame_sizes "$frames" "$1" '*.jpg' $(( n < 0 ? 0 : n ))
}
atLeast() { [ "$(jpegCount)" -ge "$1" ]; }
waitFor 20 atLeast 5 || fail "no frames from the device reached the PC"
sizes=$(finishedSizes 0) || fail "the PC's frames are not whole JPEG pictures"
[ "$(echo "$sizes" | sort -u)" = 320x240 ] || fail "frames before the choice: $(echo "$sizes" | sort -u | tr '\n' ' ')"
echo "ok: the device streams 320x240 to the PC [${SECONDS}s]"

# The dialog: the keyboard starts in the property list; typing selects by name.
before=$(jpegCount)
chooseResolution() {
  hasWindow Settings || openSettings
  waitFor 10 hasWindow Settings || return 1
  xdotool windowfocus --sync "$(windowNamed Settings)" 2>/dev/null || true
  sleep 0.5
  xdotool type --delay 50 Res
  sleep 0.5
  xdotool key --clearmodifiers Tab
  sleep 0.3
  xdotool type --delay 50 640
}
has640() { local sizes; sizes=$(finishedSizes "$before" 2>/dev/null); [[ $sizes == *640x480* ]]; }
for _ in 1 2 3; do  # a busy machine may deliver the list or the focus late
  chooseResolution || fail "Tools > Settings opened no window named Settings"
  waitFor 10 has640 && break
  xdotool key --clearmodifiers Escape
  waitFor 5 noWindow Settings
done
has640 || fail "no 640x480 frame after choosing 640x480 in the dialog"
after=$(jpegCount)
sleep 1
sizes=$(finishedSizes "$after") || fail "the frames after the choice are not whole"
[ -n "$sizes" ] && [ "$(echo "$sizes" | sort -u)" = 640x480 ] \
  || fail "frames after the choice: $(echo "$sizes" | sort -u | tr '\n' ' ')"
echo "ok: choosing 640x480 in the dialog makes the device's frames arrive at 640x480 [${SECONDS}s]"

# The device saved it at once: a copy of its settings file, read by a second device
# program of its own (its own objects, so it does not hand over to the running one).
cp "$deviceStore" "$work/saved.reg"
VISTREL_OBJECT_PREFIX="${VISTREL_OBJECT_PREFIX}saved-" VISTREL_KEY_STORE="$work/saved.reg" \
  "$bin/vistrel" --settings >"$work/saved.log" 2>&1 || fail "the saved settings could not be listed"
grep -q "Resolution = 640x480" "$work/saved.log" || fail "the device's settings file does not hold 640x480"
echo "ok: the device's settings file holds Resolution 640x480 [${SECONDS}s]"

xdotool key --clearmodifiers Escape
waitFor 10 noWindow Settings || fail "Escape did not close the settings dialog"
kill -TERM "$viewer"
waitFor 10 stopped "$viewer" || fail "SIGTERM did not end the viewer"
echo "all device settings end-to-end checks passed"
