#!/usr/bin/env bash
# Sets up a fresh Debian machine for Vistrel, builds it, and runs the main job: the PC's
# stand-alone frame server (vistrel-receive) with the device program (vistrel) streaming
# the built-in test-pattern camera to it over loopback. The received frames land in
# ./frames as JPEG files. Runs until Ctrl-C, or until --frames N were received.
# Options: --frames N (default: run until stopped), --port N (default 2047).
set -euo pipefail
cd "$(dirname "$0")/.."
frames=0
port=2047
while [ $# -gt 0 ]; do
  case "$1" in
    --frames) frames=$2; shift 2 ;;
    --port) port=$2; shift 2 ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) echo "bootstrap.sh: unknown option $1 (see --help)" >&2; exit 1 ;;
  esac
done
if [ "$(id -u)" = 0 ]; then
  pkgs=$(cat .ci/packages/*.txt | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $pkgs
else
  echo "not root: skipping the package install (see .ci/packages/*.txt)" >&2
fi
cmake --preset default
cmake --build --preset default

bin=build/default/bin
receive_args=(--port "$port" --bind 127.0.0.1 --out frames)
[ "$frames" != 0 ] && receive_args+=(--frames "$frames")
"$bin/vistrel-receive" "${receive_args[@]}" </dev/null &
receiver=$!
VISTREL_FRAMESINK_DEVICE=test-pattern "$bin/vistrel" "-p$port" &
device=$!
stop() { kill "$device" "$receiver" 2>/dev/null || true; }
trap stop INT TERM
wait "$receiver" || true
kill "$device" 2>/dev/null || true
wait "$device" 2>/dev/null || true
echo "received frames are in $(pwd)/frames"
