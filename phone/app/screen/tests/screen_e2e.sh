#!/usr/bin/env bash
# End to end: the device program reads the screen of a virtual X server of its own (Xvfb,
# at 24 and at 16 bits a pixel) and streams it to the PC's frame server (vistrel-receive).
# A window covering the screen shows a known picture: the pictures received show it; with
# "Duplicate" off nothing more arrives while the screen is still and a new picture after
# it changed; a tap at the picture's centre sent by the PC reaches the window as a button
# press at the centre, and a key as that key; an X server that ends and comes back
# mid-capture does not end the device program, and the screen is sent again.
# Usage: screen_e2e.sh BIN_DIR TEST_WINDOW
set -u
BIN=$(cd "$1" && pwd)
WINDOW=$2
WORK=$(mktemp -d /tmp/vistrel-screen.XXXXXX)
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$WORK"/*.log; do echo "== $f"; tail -20 "$f"; done; exit 1; }
for tool in Xvfb xdpyinfo convert compare; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
count() { ls "$1" 2>/dev/null | wc -l; }
# Waits until folder $1 holds at least $2 frames, at most $3 seconds.
wait_frames() {
  local end=$((SECONDS + $3))
  while [ "$SECONDS" -le "$end" ]; do
    [ "$(count "$1")" -ge "$2" ] && return 0
    sleep 0.1
  done
  return 1
}
# Waits until file $1 has a line matching $2, at most $3 seconds.
wait_line() {
  for _ in $(seq $(($3 * 10))); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
# PSNR in dB of received JPEG $1 against picture $2 (at least $3, or fail with $4).
expect_picture() {
  local db
  db=$(compare -metric PSNR "$1" "$2" null: 2>&1 | cut -d' ' -f1)
  echo "  $(basename "$1") against $(basename "$2"): PSNR $db dB"
  python3 -c "import sys; v=sys.argv[1]; sys.exit(0 if v in ('inf','1.#INF') or float(v) >= float(sys.argv[2]) else 1)" \
    "$db" "$3" 2>/dev/null || fail "$4 (PSNR $db dB)"
}

# Two pictures with shapes, shading and text-like detail.
convert -size 320x240 gradient:'#2050e0-#f0c020' -fill white -draw 'circle 160,120 160,70' \
  -fill '#c02020' -draw 'rectangle 20,20 110,90' -fill black -draw 'rectangle 200,150 300,220' \
  -depth 8 "$WORK/one.ppm" || fail "cannot make the first picture"
convert -size 320x240 gradient:'#10a040-#e02080' -fill '#f0f0f0' -draw 'rectangle 60,40 260,200' \
  -fill '#2020c0' -draw 'circle 160,120 160,90' -depth 8 "$WORK/two.ppm" || fail "cannot make the second picture"

run_depth() {
  local depth=$1 extra=$2 dir="$WORK/frames$1"
  echo "== screen at $depth bits $extra"
  # A display number of the server's own choosing, told through a pipe.
  Xvfb -displayfd 3 -screen 0 "320x240x$depth" -nolisten tcp $extra 3>"$WORK/display$depth" \
    >"$WORK/xvfb$depth.log" 2>&1 &
  local server=$!
  PIDS+=("$server")
  for _ in $(seq 100); do [ -s "$WORK/display$depth" ] && break; sleep 0.1; done
  local display
  display=":$(head -1 "$WORK/display$depth")"
  [ "$display" != ":" ] || fail "Xvfb did not start"
  export DISPLAY=$display

  mkfifo "$WORK/window$depth.in"
  "$WINDOW" "$WORK/one.ppm" <"$WORK/window$depth.in" >"$WORK/window$depth.log" 2>&1 &
  local window=$!
  PIDS+=("$window")
  exec 4>"$WORK/window$depth.in"
  wait_line "$WORK/window$depth.log" ready 10 || fail "the test window did not come up"

  local store="$WORK/device$depth.reg" port
  port=$(free_port)
  # The screen alone; no frame buffer device, whatever this machine has.
  export VISTREL_FRAMEBUFFER=
  VISTREL_KEY_STORE="$store" "$BIN/vistrel-headless" --enable Screen --disable Sound \
    >"$WORK/settings$depth.log" 2>&1 || fail "vistrel --enable Screen failed"
  grep -q "enabled sources: Screen" "$WORK/settings$depth.log" || fail "Screen was not enabled"

  mkfifo "$WORK/receive$depth.in"
  VISTREL_KEY_STORE="$WORK/pc.reg" "$BIN/vistrel-receive" --port "$port" --bind 127.0.0.1 --out "$dir" \
    <"$WORK/receive$depth.in" >"$WORK/receive$depth.log" 2>&1 &
  PIDS+=($!)
  exec 5>"$WORK/receive$depth.in"
  wait_line "$WORK/receive$depth.log" listening 10 || fail "vistrel-receive did not listen"
  VISTREL_KEY_STORE="$store" VISTREL_OBJECT_PREFIX="screen$$-$depth-" \
    "$BIN/vistrel-headless" "-p$port" </dev/null >"$WORK/vistrel$depth.log" 2>&1 &
  local device=$!
  PIDS+=("$device")

  wait_frames "$dir" 1 15 || fail "no picture of the screen arrived"
  # The screen is still: after the first picture nothing more goes out.
  sleep 1.5
  local settled
  settled=$(count "$dir")
  sleep 1.5
  [ "$(count "$dir")" -eq "$settled" ] || fail "pictures of a still screen went out ($settled, then $(count "$dir"))"
  local first
  first=$(ls "$dir" | sort | tail -1)
  expect_picture "$dir/$first" "$WORK/one.ppm" 30 "the picture received is not the screen"

  echo "show $WORK/two.ppm" >&4
  wait_line "$WORK/window$depth.log" shown 10 || fail "the window did not change its picture"
  wait_frames "$dir" $((settled + 1)) 10 || fail "no picture after the screen changed"
  sleep 0.5
  local changed
  changed=$(ls "$dir" | sort | tail -1)
  expect_picture "$dir/$changed" "$WORK/two.ppm" 30 "the picture after the change is not the new screen"

  # Input from the PC: a tap at the centre and the key A.
  echo "tap 32768 32768" >&5
  wait_line "$WORK/window$depth.log" "button 1 at 160,120" 10 || fail "the tap did not reach the window at its centre"
  echo "key 65" >&5
  wait_line "$WORK/window$depth.log" "key a" 10 || fail "the key did not reach the window"
  echo "  tap and key arrived: $(grep -E '^(button|key)' "$WORK/window$depth.log" | tr '\n' ';')"

  # The X server goes away mid-capture and comes back: the device program stays and
  # sends the screen again.
  kill "$window" "$server"; wait "$window" "$server" 2>/dev/null
  sleep 1
  kill -0 "$device" 2>/dev/null || fail "the device program ended with the X server"
  local before
  before=$(count "$dir")
  Xvfb "$display" -screen 0 "320x240x$depth" -nolisten tcp $extra >"$WORK/xvfb$depth-again.log" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  "$WINDOW" "$WORK/one.ppm" </dev/null >"$WORK/window$depth-again.log" 2>&1 &
  PIDS+=($!)
  wait_line "$WORK/window$depth-again.log" ready 10 || fail "the test window did not come up again"
  wait_frames "$dir" $((before + 1)) 10 || fail "no picture after the X server came back"
  sleep 0.5
  expect_picture "$dir/$(ls "$dir" | sort | tail -1)" "$WORK/one.ppm" 30 "the picture after the X server came back is not the screen"

  kill -TERM "$device"; wait "$device" 2>/dev/null || true
  exec 4>&- 5>&-
}

run_depth 24 ""
# 16 bits a pixel, and a server without the shared-memory extension (plain GetImage).
run_depth 16 "-extension MIT-SHM"
echo "ok"
