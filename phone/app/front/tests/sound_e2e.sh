#!/bin/bash
# End to end: the device's microphone reaches the PC's microphone. A private PipeWire
# session holds the device's capture device, a loopback whose source side is fed a
# 440 Hz sine by pw-cat. The device program (headless, test-pattern camera, sound source
# enabled, the capture device named in its settings) records it through pipewire-alsa and
# streams sound and video to the frame server (vistrel-receive), which feeds the virtual
# microphone (orvaneaudio); pw-record records that and the sound is checked for 440 Hz,
# level and gaps, while the video frames and sound blocks that arrived are counted.
#   sound_e2e.sh BIN_DIR
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../tests/lib/session.sh" sound-e2e
bin=$(cd "$1" && pwd)
need pipewire wireplumber pw-cli pw-record pw-cat pw-loopback timeout python3
for f in vistrel vistrel-receive orvaneaudio; do
  [ -x "$bin/$f" ] || skip "$f was not built"
done
[ -e /usr/share/alsa/alsa.conf.d/50-pipewire.conf ] || [ -e /etc/alsa/conf.d/50-pipewire.conf ] ||
  skip "pipewire-alsa is not installed"
startPipewire

# The device's microphone: what is played into "$mic-in" comes out of the source "$mic".
mic=vistrel-e2e-$$-devmic
pcmic=vistrel-e2e-$$-pcmic
spawn "$work/loopback.log" pw-loopback -m '[ MONO ]' --capture-props="media.class=Audio/Sink node.name=$mic-in" \
  --playback-props="media.class=Audio/Source node.name=$mic"
waitNode "$mic" || fail "no loopback source"
python3 - "$work/sine.wav" <<'PY'
import math, struct, sys, wave
w = wave.open(sys.argv[1], "wb")
w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(2 * math.pi * 440 * i / 8000)))
                       for i in range(8000 * 30)))
PY
spawn "$work/pw-cat.log" pw-cat --playback --target "$mic-in" "$work/sine.wav"

# The PC: the microphone, then the frame server on a free loopback port.
spawn "$work/orvaneaudio.log" "$bin/orvaneaudio" --node-name "$pcmic" --no-alsa
waitNode "$pcmic" || fail "no PC microphone"
port=$(freePort)
spawn "$work/receive.log" "$bin/vistrel-receive" --port "$port" --bind 127.0.0.1 --no-files -q </dev/null
receive_pid=$last
waitListening "$port" || fail "the frame server does not listen"

# The device: its settings name the capture device; nothing else is saved, so the camera
# (first source) and the sound source are enabled by default.
cat >"$work/device.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\Sound]
"Device"="pipewire:NODE=$mic"
EOF
VISTREL_KEY_STORE="$work/device.reg" VISTREL_FRAMESINK_DEVICE=test-pattern \
  spawn "$work/vistrel.log" "$bin/vistrel" "-p$port" </dev/null
device_pid=$last

# Once the link is up and the first blocks have arrived, record the PC microphone.
waitFor 20 grep -q "connected to 127.0.0.1:$port" "$work/vistrel.log" || fail "the device did not reach the frame server"
sleep 1
timeout -s INT 5 pw-record --target "$pcmic" --rate 8000 --channels 1 --format s16 "$work/pc.wav"
status=0
# A dropped 100 ms block, or one late on a busy machine, may leave a gap of a block or two.
python3 "$here/sound_check.py" "$work/pc.wav" 440 8000 300 || status=1

stopJob "$device_pid"
stopJob "$receive_pid" INT
summary=$(grep '^summary:' "$work/receive.log")
echo "frame server: $summary"
frames=$(echo "$summary" | sed -n 's/^summary: \([0-9]*\) frames written.*/\1/p')
blocks=$(echo "$summary" | sed -n 's/.*, \([0-9]*\) audio blocks.*/\1/p')
# About 6 s of capture: the test pattern at its default rate, sound in 100 ms blocks.
[ "${frames:-0}" -ge 30 ] || { echo "FAILED: only ${frames:-0} video frames"; status=1; }
[ "${blocks:-0}" -ge 40 ] || { echo "FAILED: only ${blocks:-0} sound blocks"; status=1; }
grep -q "Could not start source" "$work/vistrel.log" && { echo "FAILED: a source did not start"; status=1; }
[ $status -eq 0 ] || showLogs
exit $status
