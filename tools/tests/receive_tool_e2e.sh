#!/usr/bin/env bash
# End to end on loopback: streamfeed plays the phone, vistrel-receive the PC. Checks the
# greeting, frames written as valid JPEG files and rendered BMP pictures, the property list printed, sound blocks
# counted and the commands arriving at the phone.
receive=$1
feed=$2
. "$(dirname "$0")/../../tests/lib/session.sh" receive-tool-e2e
set -e

# A bind value that is no address is refused at start, not retried for ever.
for bad in foo localhost 127.0.0.1:80; do
  status=0
  timeout 5 "$receive" --bind "$bad" --no-files </dev/null >"$work/bad.log" 2>&1 || status=$?
  [ "$status" = 1 ] || fail "--bind $bad: status $status, not a refusal at start (1)"
  grep -q "numeric IPv4 or IPv6 address" "$work/bad.log" || fail "--bind $bad: no clear message"
done

port=$(freePort)
spawn "$work/receive.log" "$receive" --port "$port" --bind 127.0.0.1 --out "$work/frames" --bmp 240x320 \
  --rotation 1 --tap 100,200 --key 13 --set 257=2 </dev/null
pid=$last
# The phone starts once the tool listens, so that every frame reaches its loop.
waitListening "$port" || fail "vistrel-receive does not listen"

# When frames arrive in a burst only the newest is handed over, so under load fewer
# frames may be written than were sent; every one written must be whole.
connected=0
for _ in $(seq 1 50); do
  if "$feed" --port "$port" --frames 10 --rate 20 --audio --garbage --linger 1000 >"$work/feed.log" 2>&1; then
    connected=1
    break
  fi
  sleep 0.1
done
[ "$connected" = 1 ] || fail "streamfeed could not connect"
stopJob "$pid" INT || fail "vistrel-receive failed"

ls "$work"/frames/*.jpg >/dev/null 2>&1 || fail "no frame was written"
count=$(ls "$work"/frames/*.jpg | wc -l)
bmps=$(ls "$work"/frames/*.bmp | wc -l)
[ "$bmps" = "$count" ] || fail "expected $count rendered pictures, found $bmps"
size=$(stat -c %s "$work/frames/frame-000001.bmp")
[ "$size" = $((54 + 240 * 3 * 320)) ] || fail "a 240x320 BMP has $size bytes"
[ "$count" -ge 1 ] && [ "$count" -le 10 ] || fail "expected 1 to 10 frame files, found $count"
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
grep -Eq "summary: $count frames written, 0 refused, [1-9][0-9]* audio blocks" "$work/receive.log" \
  || fail "summary wrong: $(grep summary "$work/receive.log")"
grep -q "command: tap x=100 y=200" "$work/feed.log" || fail "tap not received"
grep -q "command: key 13" "$work/feed.log" || fail "key not received"
grep -q "command: set property 257 to index 2" "$work/feed.log" || fail "set property not received"
echo "receive tool end to end: ok"
