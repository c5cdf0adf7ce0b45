#!/bin/bash
# The whole road of sound on the PC: a test phone (streamfeed) sends audio messages over
# TCP to the frame server (vistrel-receive), which feeds the microphone through the
# control device; pw-record records the node and hears the phone's 440 Hz tone.
#   frameserver_e2e.sh BIN_DIR
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
bin=$(cd "$1" && pwd)
need pipewire wireplumber pw-cli pw-record timeout python3
for f in orvaneaudio vistrel-receive streamfeed; do
  if [ ! -x "$bin/$f" ]; then
    echo "SKIP: $f was not built"
    exit $SKIP
  fi
done
start_pipewire || exit 1
node=vistrel-e2e-phone-mic
bg "$bin/orvaneaudio" --node-name "$node" --no-alsa >"$work/orvaneaudio.log" 2>&1
wait_node "$node" || { cat "$work/orvaneaudio.log"; exit 1; }

# A free loopback port for this run.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
bg "$bin/vistrel-receive" --port "$port" --bind 127.0.0.1 --no-files -q </dev/null >"$work/receive.log" 2>&1
# Wait for the port to be in LISTEN state (no probe connection: the server serves one
# phone at a time, and its "listening" line may come before the socket listens).
listening() {
  local hex
  hex=$(printf '%04X' "$port")
  grep -q "^ *[0-9]*: 0100007F:$hex 00000000:0000 0A" /proc/net/tcp
}
wait_for 5 listening || { cat "$work/receive.log"; exit 1; }
"$bin/streamfeed" --port "$port" --frames 45 --rate 10 --audio --linger 200 >"$work/streamfeed.log" 2>&1 &
phone=$!
pids+=($phone)
sleep 0.8
timeout -s INT 3 pw-record --target "$node" --rate 8000 --channels 1 --format s16 "$work/phone.wav"
status=0
python3 "$here/analyze.py" "$work/phone.wav" sine 440 8000 || status=1
wait $phone || { echo "FAILED: streamfeed exited with $?"; status=1; }
if [ $status -ne 0 ]; then
  for f in receive streamfeed orvaneaudio; do echo "--- $f log"; tail -n 20 "$work/$f.log"; done
fi
exit $status
