#!/bin/bash
# Benchmark, not a test: feed-to-recorder latency through the PipeWire node (p50, p99)
# and the CPU the orvaneaudio program uses per second of audio, under a private PipeWire
# session.   latency_bench.sh BIN_DIR [SECONDS]
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
bin=$(cd "$1" && pwd)
need pipewire wireplumber pw-cli
start_pipewire || exit 1
node=vistrel-bench-mic
bg "$bin/orvaneaudio" --node-name "$node" --no-alsa >"$work/orvaneaudio.log" 2>&1
oa=${pids[-1]}
wait_node "$node" || exit 1
"$bin/orvaneaudio-latency" --target "$node" --seconds "${2:-20}" --pid "$oa"
