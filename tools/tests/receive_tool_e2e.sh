#!/usr/bin/env bash
# End to end on loopback: streamfeed plays the phone, vistrel-receive the PC. Checks the
# greeting, frames written as valid JPEG files, the property list printed, sound blocks
# counted and the commands arriving at the phone.
set -euo pipefail
receive=$1
feed=$2
work=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; wait "$pid" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- receive log"; cat "$work/receive.log"; echo "--- feed log"; cat "$work/feed.log" 2>/dev/null; exit 1; }

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$receive" --port "$port" --bind 127.0.0.1 --out "$work/frames" --frames 5 \
  --tap 100,200 --key 13 --set 257=2 </dev/null >"$work/receive.log" 2>&1 &
pid=$!

connected=0
for _ in $(seq 1 50); do
  if "$feed" --port "$port" --frames 5 --rate 20 --audio --garbage --linger 1000 >"$work/feed.log" 2>&1; then
    connected=1
    break
  fi
  sleep 0.1
done
[ "$connected" = 1 ] || fail "streamfeed could not connect"
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "vistrel-receive did not end after 5 frames"
wait "$pid" || fail "vistrel-receive failed"
pid=""

count=$(ls "$work/frames" | wc -l)
[ "$count" = 5 ] || fail "expected 5 frame files, found $count"
for f in "$work"/frames/*.jpg; do
  head=$(head -c 10 "$f" | od -An -tx1 | tr -d ' \n')
  [ "$head" = "ffd8ffe000104a464946" ] || fail "$f does not start with the JFIF start: $head"
  tail=$(tail -c 2 "$f" | od -An -tx1 | tr -d ' \n')
  [ "$tail" = "ffd9" ] || fail "$f does not end with end of image"
  if command -v djpeg >/dev/null; then
    djpeg "$f" >/dev/null 2>"$work/djpeg.err" || fail "djpeg refused $f"
    [ ! -s "$work/djpeg.err" ] || fail "djpeg warned about $f: $(cat "$work/djpeg.err")"
  fi
done
grep -q "properties: 3 entries" "$work/receive.log" || fail "property list not printed"
grep -q "0=None  1=Mono  2=Sepia" "$work/receive.log" || fail "property values not readable"
grep -Eq "summary: 5 frames written, 0 refused, [4-5] audio blocks" "$work/receive.log" \
  || fail "summary wrong: $(grep summary "$work/receive.log")"
grep -q "command: tap x=100 y=200" "$work/feed.log" || fail "tap not received"
grep -q "command: key 13" "$work/feed.log" || fail "key not received"
grep -q "command: set property 257 to index 2" "$work/feed.log" || fail "set property not received"
echo "receive tool end to end: ok"
