#!/bin/bash
# The whole road of sound on the PC: a test phone (streamfeed) sends audio messages over
# TCP to the frame server (vistrel-receive), which feeds the microphone through the
# control device; pw-record records the node and hears the phone's 440 Hz tone.
#   frameserver_e2e.sh BIN_DIR
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../tests/lib/session.sh" mic-server-e2e
bin=$(cd "$1" && pwd)
need pipewire wireplumber pw-cli pw-record timeout python3
for f in orvaneaudio vistrel-receive streamfeed; do
  [ -x "$bin/$f" ] || skip "$f was not built"
done
startPipewire
node=vistrel-e2e-phone-mic
spawn "$work/orvaneaudio.log" "$bin/orvaneaudio" --node-name "$node" --no-alsa
waitNode "$node" || fail "the node $node did not appear"

port=$(freePort)
spawn "$work/receive.log" "$bin/vistrel-receive" --port "$port" --bind 127.0.0.1 --no-files -q </dev/null
# The listening socket itself, not its "listening" line, which may come first; no probe
# connection, as the server serves one phone at a time.
waitListening "$port" || fail "the frame server does not listen"
"$bin/streamfeed" --port "$port" --frames 45 --rate 10 --audio --linger 200 >"$work/streamfeed.log" 2>&1 &
phone=$!
track $phone
sleep 0.8
timeout -s INT 3 pw-record --target "$node" --rate 8000 --channels 1 --format s16 "$work/phone.wav"
status=0
python3 "$here/analyze.py" "$work/phone.wav" sine 440 8000 || status=1
wait $phone || { echo "FAILED: streamfeed exited with $?"; status=1; }
forget $phone
[ $status -eq 0 ] || showLogs
exit $status
