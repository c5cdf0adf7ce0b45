#!/bin/bash
# Benchmark, not a test: feed-to-recorder latency through the PipeWire node (p50, p99)
# and the CPU the orvaneaudio program uses per second of audio, under a private PipeWire
# session.   latency_bench.sh BIN_DIR [SECONDS]
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../tests/lib/session.sh" mic-bench
bin=$(cd "$1" && pwd)
need pipewire wireplumber pw-cli
startPipewire
node=vistrel-bench-mic
spawn "$work/orvaneaudio.log" "$bin/orvaneaudio" --node-name "$node" --no-alsa
oa=$last
waitNode "$node" || fail "the node $node did not appear"
"$bin/orvaneaudio-latency" --target "$node" --seconds "${2:-20}" --pid "$oa"
