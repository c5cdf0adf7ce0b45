#!/usr/bin/env bash
# End to end: the device program (over the synthetic test camera) streams to the PC's
# frame server (the dump tool) on loopback. Checks order and content of the frames, the
# property list, reconnection after the PC side restarts, the hand-over of a second
# start to the running copy, and the "Crashed" marker after a kill -9.
# Usage: device_program_e2e.sh VISTREL_SYNTHETIC VISTREL_RECEIVE [VISTREL]
lib="$(cd "$(dirname "$0")" && pwd)/../../../../tests/lib"
. "$lib/session.sh" device-e2e
. "$lib/device_frames.sh"
DEVICE=$1
RECEIVE=$2
export VISTREL_DEVICE_PREFIX="$work/dev-"
DEVICE_STORE="$work/device.reg"
PC_STORE="$work/pc.reg"

# Starts the PC side on port $1 writing into $2; sets RECV_PID.
start_pc() {
  mkdir -p "$2"
  VISTREL_KEY_STORE="$PC_STORE" spawn "$work/recv-$1-$(basename "$2").log" "$RECEIVE" --port "$1" \
    --bind 127.0.0.1 --out "$2" </dev/null
  RECV_PID=$last
  waitListening "$1" || fail "the PC side does not listen on port $1"
}
start_device() {  # appends to device.log, which is read across runs
  VISTREL_KEY_STORE="$DEVICE_STORE" "$DEVICE" "$@" </dev/null >>"$work/device.log" 2>&1 &
  DEV_PID=$!
  track "$DEV_PID"
}
frameCount() { ls "$1" 2>/dev/null | wc -l; }
atLeastFrames() { [ "$(frameCount "$1")" -ge "$2" ]; }
# Waits until folder $1 holds at least $2 frames, at most $3 seconds.
wait_frames() { waitFor "$3" atLeastFrames "$1" "$2"; }
# Every frame file is a whole JPEG and the numbers in their comments rise.
check_frames() {
  python3 - "$1" "${2:-}" <<'PY' || fail "frames in $1 are not whole or not in order"
import os, sys
d = sys.argv[1]
contiguous = sys.argv[2] == "contiguous"
last = -1
files = sorted(os.listdir(d))
for name in files:
    b = open(os.path.join(d, name), 'rb').read()
    assert b[:10] == bytes.fromhex('ffd8ffe000104a464946'), name
    assert b[-2:] == b'\xff\xd9', name
    i = b.find(b'vistrel-frame ')
    assert i > 0, name
    n = int(b[i + 14:i + 20])
    assert n > last, (name, n, last)
    assert not contiguous or n == last + 1, ("frame lost", name, n, last)
    last = n
print(f"{len(files)} frames in order, last number {last}")
PY
}

P1=$(freePort)
P2=$(freePort)

# 1. Frames arrive in order, with the property list.
start_pc "$P1" "$work/a"; PC1=$RECV_PID
start_device "-p$P1"; DEV=$DEV_PID
wait_frames "$work/a" 10 10 || fail "no frames from the device"
check_frames "$work/a" contiguous
grep -q "properties: 2 entries" "$work"/recv-"$P1"-a.log || fail "no property list"
grep -q "Frame Rate" "$work"/recv-"$P1"-a.log || fail "property list without Frame Rate"

# 2. The PC side ends and comes back: the device reconnects by itself.
stopJob "$PC1"
start_pc "$P1" "$work/b"
START=$SECONDS
wait_frames "$work/b" 5 10 || fail "no reconnection after the PC side restarted"
echo "reconnected within $((SECONDS - START)) s"
check_frames "$work/b"
grep -q "properties: 2 entries" "$work"/recv-"$P1"-b.log || fail "no property list after reconnecting"
PC2=$RECV_PID

# 3. A second start hands its command line over and ends; the running copy moves.
start_pc "$P2" "$work/c"
VISTREL_KEY_STORE="$DEVICE_STORE" timeout 10 "$DEVICE" "-p$P2" >> "$work/second.log" 2>&1
[ $? -eq 0 ] || fail "the second start did not end with 0"
kill -0 "$DEV" || fail "the running copy ended"
wait_frames "$work/c" 5 10 || fail "the running copy did not move to the new port"
check_frames "$work/c"
echo "second start handed over -p$P2"

# 4. kill -9 leaves the marker. Headless, one crashed run does not disable the camera;
#    three in a row do, with a message that says how to enable it again.
for RUN in 1 2 3; do
  stopJob "$DEV" KILL
  grep -q '"Crashed"=dword:00000001' "$DEVICE_STORE" || fail "no Crashed marker while running"
  BEFORE=$(ls "$work/c" | wc -l)
  start_device "-p$P2"; DEV=$DEV_PID
  [ "$RUN" -eq 3 ] && break
  wait_frames "$work/c" $((BEFORE + 3)) 10 || fail "camera disabled after $RUN crashed run(s)"
done
waitFor 5 grep -q "Please select source." "$work/device.log" || fail "camera not disabled after three crashed runs"
grep -q "the last 3 runs ended without saving" "$work/device.log" || fail "no message about the crashed runs"
sleep 1
[ "$(ls "$work/c" | wc -l)" -eq "$BEFORE" ] || fail "frames came from a disabled camera"
stopJob "$DEV"
grep -q '"Crashed"=dword:00000000' "$DEVICE_STORE" || fail "a clean exit left the marker"
echo "crash marker behaves"

# 5. The device program itself with framesink's test-pattern camera, when it is built.
REAL=${3:-}
if [ -n "$REAL" ] && [ -x "$REAL" ] && [ -e "$(dirname "$REAL")/framesink.so" ]; then
  P3=$(freePort)
  export VISTREL_FRAMESINK_DEVICE=test-pattern
  # The settings command: bad input is refused, a resolution is chosen and saved.
  VISTREL_KEY_STORE="$work/real.reg" "$REAL" --frobnicate > "$work/settings.log" 2>&1
  [ $? -eq 2 ] || fail "an unknown option was not refused"
  VISTREL_KEY_STORE="$work/real.reg" "$REAL" --set "Camera/Resolution=9x9" >> "$work/settings.log" 2>&1
  [ $? -eq 1 ] || fail "a resolution the camera lacks was not refused"
  grep -q 'Camera/Resolution: "9x9" is none of' "$work/settings.log" || fail "no clear message for 9x9"
  VISTREL_KEY_STORE="$work/real.reg" "$REAL" --set "Camera/Resolution=320x240" --settings \
    >> "$work/settings.log" 2>&1 || fail "the settings command failed"
  grep -q "Camera/Resolution = 320x240" "$work/settings.log" || fail "the resolution was not set"
  grep -q "Resolution = 320x240" "$work/settings.log" || fail "--settings does not list the new resolution"
  # The PC's end takes its commands from a pipe that the script holds open.
  mkfifo "$work/pc.in"
  exec 9<>"$work/pc.in"
  mkdir -p "$work/d"
  VISTREL_KEY_STORE="$PC_STORE" spawn "$work/recv-$P3-d.log" "$RECEIVE" --port "$P3" --bind 127.0.0.1 \
    --out "$work/d" <"$work/pc.in"
  waitListening "$P3" || fail "the PC side does not listen on port $P3"
  VISTREL_KEY_STORE="$work/real.reg" spawn "$work/real.log" "$REAL" "-p$P3" </dev/null
  REAL_PID=$last
  wait_frames "$work/d" 5 15 || fail "no frames from vistrel with the test-pattern camera"
  SIZES=$(frame_sizes "$work/d" 0) || fail "test-pattern frames are not whole JPEG pictures"
  [ "$(echo "$SIZES" | sort -u)" = "320x240" ] || fail "frames before the choice: $(echo "$SIZES" | sort -u | tr '\n' ' ')"
  grep -q "properties: 6 entries" "$work"/recv-"$P3"-d.log || fail "no camera property list from vistrel"
  # The PC chooses 640x480 for the device's Resolution: the device applies it (its
  # camera restarts at the new size), reports it and saves it.
  read -r KEY INDEX < <(python3 - "$work/recv-$P3-d.log" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
m = re.search(r"\[key (\d+)\] Resolution\n(.*)\n", text)
choice = re.search(r"(\d+)=640x480", m.group(2))
print(m.group(1), choice.group(1))
PY
  ) || fail "no 640x480 among the Resolution values the PC got"
  BEFORE=$(ls "$work/d" | wc -l)
  echo "set $KEY $INDEX" >&9
  has640() { frame_sizes "$work/d" "$BEFORE" 2>/dev/null | grep -q 640x480; }
  waitFor 15 has640
  AFTER=$(ls "$work/d" | wc -l)
  sleep 1
  SIZES=$(frame_sizes "$work/d" "$AFTER") || fail "frames after the choice are not whole"
  [ -n "$SIZES" ] && [ "$(echo "$SIZES" | sort -u)" = "640x480" ] \
    || fail "frames after the choice: $(echo "$SIZES" | sort -u | tr '\n' ' ')"
  [ "$(camera_value "$work/real.reg" Resolution)" = "$INDEX" ] \
    || fail "the device's settings file does not hold Resolution $INDEX"
  echo "the PC's Resolution choice (key $KEY, index $INDEX) reached the device: frames of 640x480, saved"
  # A key no setting has and an index past the values change nothing.
  echo "set 987654 1" >&9
  echo "set $KEY 4000" >&9
  sleep 1
  SIZES=$(frame_sizes "$work/d" "$AFTER") || fail "frames after bad choices are not whole"
  [ "$(echo "$SIZES" | sort -u)" = "640x480" ] || fail "a bad choice changed the frames"
  [ "$(camera_value "$work/real.reg" Resolution)" = "$INDEX" ] || fail "a bad choice changed the saved Resolution"
  # A setting handed to the running copy while it captures.
  VISTREL_KEY_STORE="$work/real.reg" timeout 10 "$REAL" --set "Camera/Quality=90" > "$work/second-real.log" 2>&1 \
    || fail "the running copy refused --set"
  waitFor 3 grep -q "Camera/Quality = 90" "$work/real.log"
  grep -q "Camera/Quality = 90" "$work/real.log" || fail "the running copy did not apply --set"
  grep -q "Camera/Quality = 90" "$work/second-real.log" || fail "the second start did not print what was done"
  # --settings handed over: the listing is printed by the second start, not the running copy.
  VISTREL_KEY_STORE="$work/real.reg" timeout 10 "$REAL" --settings > "$work/listing.txt" 2> "$work/listing-err.log" \
    || fail "--settings handed over failed"
  grep -q "^    Quality = 90 " "$work/listing.txt" || fail "the second start printed no listing with the new quality"
  grep -q "Sources (\* enabled)" "$work/real.log" && fail "the running copy printed the listing itself"
  stopJob "$REAL_PID" || fail "vistrel did not end cleanly"
  grep -q '"Crashed"=dword:00000000' "$work/real.reg" || fail "vistrel left the marker"
else
  echo "vistrel with framesink not built: test-pattern run skipped"
fi
echo "PASS"
