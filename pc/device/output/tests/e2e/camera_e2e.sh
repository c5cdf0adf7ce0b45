#!/bin/bash
# The camera under a real PipeWire session. GStreamer's pipewiresrc captures the node
# "Vistrel" while the test phone (streamfeed) sends numbered frames to the host:
#  1. two consumers at once get colour bars first, then the same frames, in order, each
#     matching the sent JPEG decoded independently (GStreamer's own decoder and scaler);
#  2. at 640x480 settings a consumer asking 640x480 gets 640x480, one asking 320x240 in
#     I420 gets that, one asking beyond the caps is refused, and ten consumers coming and
#     going leave the host running;
#  3. with a serving process the host is a client showing its frames; once the server is
#     gone the next start receives by itself and says so;
#  4. SIGTERM stops the host cleanly;
#  5. when the phone leaves, pictures go on at a steady rate (marked "no signal").
#   camera_e2e.sh BIN_DIR
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../../tests/lib/session.sh" camera-e2e
. "$here/camera_settings.sh"
bin=$(cd "$1" && pwd)
need pipewire wireplumber pw-cli gst-launch-1.0 timeout python3
ls /usr/lib/*/gstreamer-1.0/libgstpipewire.so >/dev/null 2>&1 ||
  skip "GStreamer's pipewiresrc is not installed (gstreamer1.0-pipewire)"
for b in vistrel-camera streamfeed vistrel-pc; do
  [ -x "$bin/$b" ] || fail "$bin/$b was not built"
done
startPipewire
port=$(freePort)

capture() {  # capture NAME CAPS : a consumer in the background writing raw pictures
  spawn "$work/$1.log" gst-launch-1.0 -e pipewiresrc target-object=Vistrel always-copy=true ! "$2" ! filesink location="$work/$1.raw"
  eval "cap_$1=$last"
}
stop_capture() {  # stop_capture NAME : ends the consumer with an end of stream
  local pid
  eval "pid=\$cap_$1"
  stopJob "$pid" INT
}
bytes() { stat -c %s "$1" 2>/dev/null || echo 0; }
at_least() { [ "$(bytes "$1")" -ge "$2" ]; }
# The sent frames decoded by GStreamer, at W x H, as BGRx. Its decoder hands out 4:2:0
# planes that videoconvert widens with its own chroma filter, so sharp colour edges of the
# test picture differ from the camera's RGB decode: about 29 dB at the same size.
reference() {  # reference W H
  gst-launch-1.0 -q multifilesrc location="$work/sent/sent-%06d.jpg" start-index=1 \
    caps=image/jpeg,framerate=25/1 ! jpegdec ! videoconvert ! videoscale \
    ! "video/x-raw,format=BGRx,width=$1,height=$2" ! filesink location="$work/reference-$1.raw" \
    >"$work/reference.log" 2>&1 || fail "reference decode"
}
status=0

# --- 1. bars, then frames, to two consumers at once ----------------------------------
cameraSettings 320 240
spawn "$work/camera.log" "$bin/vistrel-camera" --bind 127.0.0.1
camera=$last
waitNode Vistrel || fail "the node \"Vistrel\" did not appear"
bgrx320="video/x-raw,format=BGRx,width=320,height=240"
capture first "$bgrx320"
waitFor 10 at_least "$work/first.raw" $((320 * 240 * 4 * 5)) || fail "no colour bars for the first consumer"
capture second "$bgrx320"
waitFor 10 at_least "$work/second.raw" $((320 * 240 * 4 * 3)) || fail "no colour bars for the second consumer"
# The command the README gives, while the others stream.
timeout 10 gst-launch-1.0 -q pipewiresrc target-object=Vistrel ! videoconvert ! pngenc snapshot=true \
  ! filesink location="$work/cam.png" >"$work/png.log" 2>&1
if [ "$(head -c 8 "$work/cam.png" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]; then
  echo "the README's snapshot command wrote a PNG picture"
else
  echo "FAIL: the README's snapshot command wrote no PNG"; status=1
fi
mkdir -p "$work/sent"
"$bin/streamfeed" --port "$port" --frames 30 --rate 10 --save "$work/sent" >"$work/feed.log" 2>&1 ||
  fail "the test phone could not send"
sleep 0.5
stop_capture first
stop_capture second
reference 320 240
python3 "$here/check_capture.py" "$work/first.raw" 320 240 320 240 "$work/reference-320.raw" \
  --min-bars 5 --min-frames 25 --psnr 27 --json "$work/first.json" || status=1
python3 "$here/check_capture.py" "$work/second.raw" 320 240 320 240 "$work/reference-320.raw" \
  --min-bars 3 --min-frames 25 --psnr 27 --json "$work/second.json" || status=1
python3 - "$work/first.json" "$work/second.json" <<'PY' || status=1
import json, sys
a, b = (json.load(open(p))["numbers"] for p in sys.argv[1:])
common = sorted(set(a) & set(b))
print(f"both consumers saw {len(common)} of the same frames")
sys.exit(0 if len(common) >= 25 else 1)
PY
stopJob $camera TERM
rc=$?
grep -q "stopping (SIGTERM)" "$work/camera.log" && [ $rc -eq 0 ] || { echo "FAIL: SIGTERM: exit $rc"; status=1; }

# --- 2. sizes and formats within the caps, refusals, consumers coming and going -----
cameraSettings 640 480
spawn "$work/camera-vga.log" "$bin/vistrel-camera" --bind 127.0.0.1
camera=$last
waitNode Vistrel || fail "the node did not come back"
capture vga "video/x-raw,format=BGRx,width=640,height=480"
waitFor 10 at_least "$work/vga.raw" $((640 * 480 * 4 * 3)) || fail "no pictures at 640x480"
rm -rf "$work/sent"
mkdir -p "$work/sent"
"$bin/streamfeed" --port "$port" --frames 15 --rate 10 --save "$work/sent" >"$work/feed-vga.log" 2>&1 ||
  fail "the test phone could not send"
sleep 0.5
stop_capture vga
reference 640 480
python3 "$here/check_capture.py" "$work/vga.raw" 640 480 320 240 "$work/reference-640.raw" \
  --min-bars 3 --min-frames 12 --psnr 27 || status=1

# Each consumer on its own; the last picture stays, so these see the phone's frame.
timeout 15 gst-launch-1.0 -q pipewiresrc target-object=Vistrel num-buffers=3 \
  ! video/x-raw,format=I420,width=320,height=240 ! filesink location="$work/i420.raw" >"$work/i420.log" 2>&1
got=$(bytes "$work/i420.raw")
if [ "$got" -ne $((320 * 240 * 3 / 2 * 3)) ]; then
  echo "FAIL: I420 320x240: $got bytes"; status=1
else
  echo "I420 at 320x240: 3 pictures of $((320 * 240 * 3 / 2)) bytes"
fi
# Beyond the caps: PipeWire finds no common format and fails the link; pipewiresrc then
# waits without a picture (it does not end by itself), and the host carries on.
for caps in "video/x-raw,format=BGRx,width=1280,height=960" "video/x-raw,format=NV12"; do
  rm -f "$work/refused.raw"
  timeout 3 gst-launch-1.0 -q pipewiresrc target-object=Vistrel num-buffers=2 \
    ! "$caps" ! filesink location="$work/refused.raw" >"$work/refused.log" 2>&1
  if [ "$(bytes "$work/refused.raw")" -ne 0 ]; then
    echo "FAIL: a consumer asking $caps got pictures"; status=1
  else
    echo "$caps refused by the negotiation"
  fi
done
grep -q "no more input formats" "$work/pipewire.log" ||
  { echo "FAIL: no failed negotiation in the PipeWire log"; status=1; }
for i in $(seq 1 10); do
  timeout 10 gst-launch-1.0 -q pipewiresrc target-object=Vistrel num-buffers=$((i % 3 + 1)) \
    ! video/x-raw,format=YUY2 ! fakesink >/dev/null 2>&1 || { echo "FAIL: consumer $i"; status=1; }
done
# Consumers killed in the middle of streaming.
for i in 1 2 3; do
  gst-launch-1.0 -q pipewiresrc target-object=Vistrel ! video/x-raw,format=BGRx ! fakesink >/dev/null 2>&1 &
  victim=$!
  sleep 0.4
  kill -KILL $victim
  wait $victim 2>/dev/null
done
timeout 10 gst-launch-1.0 -q pipewiresrc target-object=Vistrel num-buffers=2 ! video/x-raw ! fakesink >/dev/null 2>&1 ||
  { echo "FAIL: no pictures after consumers were killed"; status=1; }
kill -0 $camera 2>/dev/null && echo "ten consumers came and went, three were killed; the host runs" || { echo "FAIL: the host died"; status=1; }
stopJob $camera INT || { echo "FAIL: SIGINT exit"; status=1; }

# --- 3. client of a serving process, then stand-alone once the server is gone ---------
cameraSettings 320 240
spawn "$work/server.log" "$bin/vistrel-pc" --serve
server=$last
waitFor 10 grep -q "opened as the serving process" "$work/server.log" || fail "the serving process did not open"
spawn "$work/camera-client.log" "$bin/vistrel-camera" --bind 127.0.0.1
camera=$last
waitNode Vistrel || fail "no node in client mode"
grep -q "client" "$work/camera-client.log" || { echo "FAIL: the host did not become a client"; status=1; }
capture client "$bgrx320"
waitFor 10 at_least "$work/client.raw" $((320 * 240 * 4 * 3)) || fail "no bars in client mode"
rm -rf "$work/sent"
mkdir -p "$work/sent"
"$bin/streamfeed" --port "$port" --frames 15 --rate 10 --save "$work/sent" >"$work/feed-client.log" 2>&1 ||
  fail "the test phone could not reach the serving process"
sleep 0.5
stop_capture client
python3 "$here/check_capture.py" "$work/client.raw" 320 240 320 240 --min-bars 3 --min-frames 12 || status=1
stopJob $server KILL
capture after "$bgrx320"
waitFor 10 grep -q "serving process is gone" "$work/camera-client.log" ||
  { echo "FAIL: the host did not say the server was gone"; status=1; }
waitFor 10 at_least "$work/after.raw" $((320 * 240 * 4 * 3)) || fail "no bars after the server went"
"$bin/streamfeed" --port "$port" --frames 10 --rate 10 >"$work/feed-after.log" 2>&1 ||
  { echo "FAIL: the host did not receive by itself"; status=1; }
sleep 0.5
stop_capture after
python3 "$here/check_capture.py" "$work/after.raw" 320 240 320 240 --min-bars 3 --min-frames 8 || status=1

# --- 5. the phone leaves: the camera goes on at a steady rate, marked "no signal" ------
capture silent "$bgrx320"
waitFor 10 at_least "$work/silent.raw" $((320 * 240 * 4 * 3)) || fail "no pictures before the phone came"
# The link of the phone before may hold the host until it falls silent: try again.
for _ in $(seq 1 40); do
  "$bin/streamfeed" --port "$port" --frames 10 --rate 10 >"$work/feed-silent.log" 2>&1 && break
  sleep 0.25
done
grep -q "^connected to" "$work/feed-silent.log" || { echo "FAIL: the phone could not send before leaving"; status=1; }
left=$(bytes "$work/silent.raw")
sleep 3.5
pictures=$(( ($(bytes "$work/silent.raw") - left) / (320 * 240 * 4) ))
stop_capture silent
echo "pictures in the 3.5 s after the phone left: $pictures"
[ "$pictures" -ge 20 ] || { echo "FAIL: the camera went silent with the phone"; status=1; }

[ $status -eq 0 ] || showLogs
exit $status
