#!/bin/bash
# Benchmark, not a test: sound latency from the device's microphone to the PC's
# microphone at every "Frame Time", p50 and p99, and the PC side's own share (the frame
# server's feed to the microphone's recorder, timed by orvaneaudio-latency) in the same
# run, under a private PipeWire session.
#   sound_latency.sh BIN_DIR [SECONDS_PER_FRAME_TIME]
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../pc/orvaneaudio/tests/e2e/common.sh"
bin=$(cd "$1" && pwd)
seconds=${2:-10}
need pipewire wireplumber pw-cli python3
for f in vistrel vistrel-receive orvaneaudio orvaneaudio-latency vistrel-sound-latency; do
  [ -x "$bin/$f" ] || { echo "SKIP: $f was not built"; exit $SKIP; }
done
start_pipewire || exit 1
export VISTREL_OBJECT_PREFIX="sound-bench-$$-"
mic=vistrel-bench-$$-devmic
pcmic=vistrel-bench-$$-pcmic
bg "$bin/orvaneaudio" --node-name "$pcmic" --no-alsa >"$work/orvaneaudio.log" 2>&1
oa=${pids[-1]}
wait_node "$pcmic" || exit 1

echo "PC share (feed to the microphone's recorder, 20 ms blocks):"
"$bin/orvaneaudio-latency" --target "$pcmic" --seconds "$seconds" --pid "$oa" | sed 's/^/  /'

echo "device microphone to PC microphone:"
printf '  %-10s %s\n' "Frame Time" "result"
index=0
for ms in 20 40 100 200 500 1000 2000; do
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  bg "$bin/vistrel-receive" --port "$port" --bind 127.0.0.1 --no-files -q </dev/null >"$work/receive-$ms.log" 2>&1
  receive=${pids[-1]}
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\Sound]\n"Device"="pipewire:NODE=%s"\n"Frame Time"=dword:%08x\n' \
    "$mic" "$index" >"$work/device-$ms.reg"
  # Pulses further apart than the longest expected latency, so that each is matched.
  interval=$((ms * 2 + 500))
  [ $interval -lt 700 ] && interval=700
  "$bin/vistrel-sound-latency" --source "$mic" --target "$pcmic" --seconds "$seconds" \
    --interval-ms "$interval" >"$work/latency-$ms.log" 2>&1 &
  tool=$!
  wait_node "$mic" || { cat "$work/latency-$ms.log"; exit 1; }
  VISTREL_KEY_STORE="$work/device-$ms.reg" VISTREL_FRAMESINK_DEVICE=test-pattern \
    bg "$bin/vistrel" "-p$port" </dev/null >"$work/vistrel-$ms.log" 2>&1
  device=${pids[-1]}
  wait $tool
  printf '  %-10s %s\n' "$ms ms" "$(tail -n 1 "$work/latency-$ms.log")"
  stop_bg "$device"
  stop_bg "$receive"
  index=$((index + 1))
done
