#!/bin/bash
# The microphone through its ALSA plugin, with no PipeWire at all: a sine fed through
# the control device is recorded by arecord (two recorders started at different times,
# mmap access, and plug: conversion to 16 kHz stereo); after the feed stops arecord gets
# silence at real-time rate; a later recorder hears only what was fed after it started;
# a recorder that stops reading gets an overrun.
#   alsa_e2e.sh BIN_DIR
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../tests/lib/session.sh" mic-alsa-e2e
bin=$(cd "$1" && pwd)
need arecord timeout python3
for f in orvaneaudio libasound_module_pcm_orvaneaudio.so; do
  [ -e "$bin/$f" ] || skip "$f was not built (PipeWire or ALSA development files missing at configure time)"
done
export HOME="$work"
unset ALSA_CONFIG_PATH
cat >"$HOME/.asoundrc" <<CONF
pcm_type.orvaneaudio { lib "$bin/libasound_module_pcm_orvaneaudio.so" }
pcm.orvaneaudio { type orvaneaudio hint { show on description "Vistrel Microphone" } }
CONF
spawn "$work/orvaneaudio.log" "$bin/orvaneaudio" --no-pipewire
waitFor 5 grep -q serving "$work/orvaneaudio.log" || fail "orvaneaudio did not start serving"

rec() {  # rec WHOLE_SECONDS FILE [arecord options]
  local s=$1 f=$2
  shift 2
  timeout 20 arecord -q -D orvaneaudio -f S16_LE -r 8000 -c 1 -d "$s" "$@" "$f"
}

status=0
"$bin/orvaneaudio-feed" --sine 440 --amplitude 8000 --seconds 4.5 --block-ms 20 &
feeder=$!
track $feeder
sleep 0.3
rec 3 "$work/first.wav" &
first=$!
sleep 0.8
rec 2 "$work/second.wav" &
second=$!
rec 2 "$work/mmap.wav" -M &
mmap=$!
timeout 20 arecord -q -D plug:orvaneaudio -f S16_LE -r 16000 -c 2 -d 2 "$work/plug.wav" &
plug=$!
for p in $first $second $mmap $plug; do wait $p || { echo "FAILED: a recorder exited with $?"; status=1; }; done
for f in first second mmap; do
  python3 "$here/analyze.py" "$work/$f.wav" sine 440 8000 || status=1
done
if ! python3 - "$work/plug.wav" <<'PY'; then status=1; fi
import sys, wave
w = wave.open(sys.argv[1])
ok = (w.getnchannels(), w.getframerate(), w.getnframes()) == (2, 16000, 32000)
print("%s: plug.wav: %d channels, %d Hz, %d frames" % ("ok" if ok else "FAILED", w.getnchannels(),
      w.getframerate(), w.getnframes()))
sys.exit(0 if ok else 1)
PY

wait $feeder
forget $feeder
sleep 0.3
# No feed: 3 s of silence take about 3 s, neither less nor for ever.
t0=$(date +%s%N)
rec 3 "$work/silence.wav" || status=1
ms=$((($(date +%s%N) - t0) / 1000000))
python3 "$here/analyze.py" "$work/silence.wav" silence 3 || status=1
if [ $ms -lt 2800 ] || [ $ms -gt 4500 ]; then
  echo "FAILED: 3 s of silence took $ms ms"; status=1
else
  echo "ok: 3 s of silence took $ms ms"
fi

# A new recorder hears only what is fed after it starts: the ring still holds the 440 Hz
# tone and the silence, the new feed is 880 Hz.
"$bin/orvaneaudio-feed" --sine 880 --amplitude 8000 --seconds 2.6 --block-ms 20 &
feeder=$!
track $feeder
sleep 0.3
rec 2 "$work/later.wav" || status=1
python3 "$here/analyze.py" "$work/later.wav" sine 880 8000 || status=1
wait $feeder
forget $feeder

# A recorder held still for longer than its buffer (0.5 s) reports an overrun.
# (No timeout wrapper here: the signals must reach arecord itself; clean-up reaps it.)
arecord -D orvaneaudio -f S16_LE -r 8000 -c 1 -B 500000 -d 3 "$work/held.wav" 2>"$work/held.log" &
held=$!
track $held
sleep 0.5
kill -STOP $held
sleep 1.2
kill -CONT $held
wait $held
forget $held
if grep -q 'overrun' "$work/held.log"; then
  echo "ok: held recorder reported: $(grep -m1 overrun "$work/held.log")"
else
  echo "FAILED: no overrun reported"; cat "$work/held.log"; status=1
fi

[ $status -eq 0 ] || showLogs
exit $status
