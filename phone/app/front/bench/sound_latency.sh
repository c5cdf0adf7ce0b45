#!/bin/bash
# Benchmark, not a test: sound latency from the device's microphone to the PC's
# microphone at every "Frame Time", p50 and p99, and in the same run the PC side's own
# share: the same pulses fed straight into the microphone's control device in blocks of
# the same length, as the frame server feeds them. Under a private PipeWire session.
#   sound_latency.sh BIN_DIR [SECONDS_PER_FRAME_TIME]
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../tests/lib/session.sh" sound-bench
bin=$(cd "$1" && pwd)
seconds=${2:-10}
need pipewire wireplumber pw-cli python3
for f in vistrel vistrel-receive orvaneaudio vistrel-sound-latency; do
  [ -x "$bin/$f" ] || skip "$f was not built"
done
startPipewire
mic=vistrel-bench-$$-devmic
pcmic=vistrel-bench-$$-pcmic
# A fresh microphone for each measurement: its ring keeps the lag a recorder session
# picked up, and one measurement must not inherit another's.
start_pc_mic() {  # start_pc_mic NAME
  # The last one's node leaves the graph first.
  waitFor 5 sh -c "! pw-cli ls Node | grep -q 'node.name = \"$pcmic\"'"
  spawn "$work/orvaneaudio-$ms-$1.log" "$bin/orvaneaudio" --node-name "$pcmic" --no-alsa
  oa=$last
  waitNode "$pcmic" || fail "no PC microphone"
}

echo "Frame Time: device microphone -> PC microphone | PC share (block fed -> heard)"
index=0
for ms in 20 40 100 200 500 1000 2000; do
  start_pc_mic device
  port=$(freePort)
  spawn "$work/receive-$ms.log" "$bin/vistrel-receive" --port "$port" --bind 127.0.0.1 --no-files -q </dev/null
  receive=$last
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
  waitNode "$mic" || fail "the latency tool's source did not appear"
  VISTREL_KEY_STORE="$work/device-$ms.reg" VISTREL_FRAMESINK_DEVICE=test-pattern \
    spawn "$work/vistrel-$ms.log" "$bin/vistrel" "-p$port" </dev/null
  device=$last
  wait $tool
  total=$(tail -n 1 "$work/latency-$ms.log")
  stopJob "$device"
  stopJob "$receive"
  stopJob "$oa"
  start_pc_mic share
  "$bin/vistrel-sound-latency" --feed-block-ms "$ms" --target "$pcmic" --seconds "$run" \
    --interval-ms "$interval" >"$work/pc-share-$ms.log" 2>&1
  stopJob "$oa"
  printf '%7s ms: %s | %s\n' "$ms" "$total" "$(tail -n 1 "$work/pc-share-$ms.log")"
  index=$((index + 1))
done
