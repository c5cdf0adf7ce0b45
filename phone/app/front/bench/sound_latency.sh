#!/bin/bash
# Benchmark, not a test: sound latency from the device's microphone to the PC's
# microphone at every "Frame Time", p50 and p99, and in the same run the PC side's own
# share: the same pulses fed straight into the microphone's control device in blocks of
# the same length, as the frame server feeds them. Under a private PipeWire session.
#   sound_latency.sh BIN_DIR [SECONDS_PER_FRAME_TIME]
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../pc/orvaneaudio/tests/e2e/common.sh"
bin=$(cd "$1" && pwd)
seconds=${2:-10}
need pipewire wireplumber pw-cli python3
for f in vistrel vistrel-receive orvaneaudio vistrel-sound-latency; do
  [ -x "$bin/$f" ] || { echo "SKIP: $f was not built"; exit $SKIP; }
done
start_pipewire || exit 1
export VISTREL_OBJECT_PREFIX="sound-bench-$$-"
mic=vistrel-bench-$$-devmic
pcmic=vistrel-bench-$$-pcmic
# A fresh microphone for each measurement: its ring keeps the lag a recorder session
# picked up, and one measurement must not inherit another's.
start_pc_mic() {
  sleep 0.5  # the last one's node leaves the graph
  bg "$bin/orvaneaudio" --node-name "$pcmic" --no-alsa >>"$work/orvaneaudio.log" 2>&1
  oa=${pids[-1]}
  wait_node "$pcmic" || exit 1
}

echo "Frame Time: device microphone -> PC microphone | PC share (block fed -> heard)"
index=0
for ms in 20 40 100 200 500 1000 2000; do
  start_pc_mic
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  bg "$bin/vistrel-receive" --port "$port" --bind 127.0.0.1 --no-files -q </dev/null >"$work/receive-$ms.log" 2>&1
  receive=${pids[-1]}
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\Sound]\n"Device"="pipewire:NODE=%s"\n"Frame Time"=dword:%08x\n' \
    "$mic" "$index" >"$work/device-$ms.reg"
  # Pulses further apart than the longest expected latency, so that each heard pulse is
  # matched to the one that was played, and at least four of them.
  interval=$((ms * 3 + 1500))
  run=$seconds
  [ $((run * 1000)) -lt $((interval * 4)) ] && run=$(((interval * 4 + 999) / 1000))
  "$bin/vistrel-sound-latency" --source "$mic" --target "$pcmic" --seconds "$run" \
    --interval-ms "$interval" >"$work/latency-$ms.log" 2>&1 &
  tool=$!
  wait_node "$mic" || { cat "$work/latency-$ms.log"; exit 1; }
  VISTREL_KEY_STORE="$work/device-$ms.reg" VISTREL_FRAMESINK_DEVICE=test-pattern \
    bg "$bin/vistrel" "-p$port" </dev/null >"$work/vistrel-$ms.log" 2>&1
  device=${pids[-1]}
  wait $tool
  total=$(tail -n 1 "$work/latency-$ms.log")
  stop_bg "$device"
  stop_bg "$receive"
  stop_bg "$oa"
  start_pc_mic
  "$bin/vistrel-sound-latency" --feed-block-ms "$ms" --target "$pcmic" --seconds "$run" \
    --interval-ms "$interval" >"$work/pc-share-$ms.log" 2>&1
  stop_bg "$oa"
  printf '%7s ms: %s | %s\n' "$ms" "$total" "$(tail -n 1 "$work/pc-share-$ms.log")"
  index=$((index + 1))
done
