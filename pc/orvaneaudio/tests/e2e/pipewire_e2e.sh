#!/bin/bash
# The microphone under a real PipeWire session: a sine fed through the control device is
# recorded by pw-record (two recorders, started at different times) and, when they are
# installed, by parecord (pipewire-pulse) and arecord (pipewire-alsa); after the feed
# stops, recorders keep getting silence at real-time rate; when PipeWire restarts, the
# node comes back by itself.
#   pipewire_e2e.sh BIN_DIR
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../tests/lib/session.sh" mic-e2e
bin=$(cd "$1" && pwd)
need pipewire wireplumber pw-cli pw-record timeout python3
[ -x "$bin/orvaneaudio" ] || skip "orvaneaudio was not built (libpipewire-0.3-dev missing at configure time)"
pulse=""
if command -v pipewire-pulse >/dev/null && command -v parecord >/dev/null && command -v pactl >/dev/null; then
  pulse=pulse
fi
startPipewire $pulse
node=vistrel-e2e-mic
spawn "$work/orvaneaudio.log" "$bin/orvaneaudio" --node-name "$node" --description "Vistrel e2e microphone"
waitNode "$node" || fail "the node $node did not appear"

record() {  # record SECONDS FILE
  timeout -s INT "$1" pw-record --target "$node" --rate 8000 --channels 1 --format s16 "$2"
}

status=0
"$bin/orvaneaudio-feed" --sine 440 --amplitude 8000 --seconds 4.5 --block-ms 20 &
feeder=$!
track $feeder
sleep 0.3
record 3.5 "$work/first.wav" &
first=$!
sleep 1
record 2 "$work/second.wav" &
second=$!
if [ -n "$pulse" ]; then
  timeout -s INT 2 parecord -d "$node" --rate=8000 --channels=1 --format=s16le \
    --latency-msec=20 --file-format=wav "$work/pulse.wav" &
  pulsepid=$!
fi
pwalsa=""
if command -v arecord >/dev/null && [ -n "$(ls /usr/lib/*/alsa-lib/libasound_module_pcm_pipewire.so 2>/dev/null)" ]; then
  pwalsa=pwalsa
  timeout 20 arecord -q -D "pipewire:NODE=$node" -f S16_LE -r 8000 -c 1 -d 2 "$work/pwalsa.wav" &
  pwalsapid=$!
fi
wait $first $second
[ -n "$pulse" ] && wait $pulsepid
[ -n "$pwalsa" ] && wait $pwalsapid
for f in first second ${pulse:+pulse} ${pwalsa:+pwalsa}; do
  python3 "$here/analyze.py" "$work/$f.wav" sine 440 8000 || status=1
done
[ -z "$pulse" ] && echo "note: pipewire-pulse or parecord missing, Pulse recording not checked"
[ -z "$pwalsa" ] && echo "note: pipewire-alsa or arecord missing, ALSA-through-PipeWire not checked"

wait $feeder
forget $feeder
sleep 0.3
# The feed has stopped: a recorder still gets samples, all silent, at real-time rate,
# counted from its first samples on (its start-up is slow on a busy machine).
pw-record --target "$node" --rate 8000 --channels 1 --format s16 "$work/silence.wav" &
recorder=$!
track $recorder
recording() { [ "$(stat -c %s "$work/silence.wav" 2>/dev/null || echo 0)" -gt 1000 ]; }
waitFor 10 recording || { echo "FAILED: the recorder got no samples"; status=1; }
sleep 3.1
stopJob $recorder INT
python3 "$here/analyze.py" "$work/silence.wav" silence 2.6 || status=1

# PipeWire restarts under the program: the node comes back by itself and plays again.
stopPipewire
startPipewire
if waitNode "$node"; then
  "$bin/orvaneaudio-feed" --sine 660 --amplitude 8000 --seconds 2 --block-ms 20 &
  feeder=$!
  track $feeder
  sleep 0.3
  record 1.5 "$work/restarted.wav"
  python3 "$here/analyze.py" "$work/restarted.wav" sine 660 8000 || status=1
  wait $feeder
  forget $feeder
else
  echo "FAILED: the node did not come back after PipeWire restarted"; status=1
fi

[ $status -eq 0 ] || showLogs
exit $status
