#!/usr/bin/env bash
# End to end: the device program reads the screen of a virtual X server of its own (Xvfb,
# at 24 and at 16 bits a pixel) and streams it to the PC's frame server (vistrel-receive).
# A window covering the screen shows a known picture: the pictures received show it; with
# "Duplicate" off nothing more arrives while the screen is still and a new picture after
# it changed; a tap at the picture's centre sent by the PC reaches the window as a button
# press at the centre, and a key as that key; an X server that ends and comes back
# mid-capture does not end the device program, and the screen is sent again.
# Usage: screen_e2e.sh BIN_DIR TEST_WINDOW
BIN=$(cd "$1" && pwd)
WINDOW=$2
. "$(dirname "$0")/../../../../tests/lib/session.sh" screen-e2e
need Xvfb xdpyinfo convert compare

count() { ls "$1" 2>/dev/null | wc -l; }
atLeast() { [ "$(count "$1")" -ge "$2" ]; }
# Waits until folder $1 holds at least $2 frames, at most $3 seconds.
wait_frames() { waitFor "$3" atLeast "$1" "$2"; }
# Waits until file $1 has a line matching $2, at most $3 seconds.
wait_line() { waitFor "$3" grep -q "$2" "$1"; }
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
  -depth 8 "$work/one.ppm" || fail "cannot make the first picture"
convert -size 320x240 gradient:'#10a040-#e02080' -fill '#f0f0f0' -draw 'rectangle 60,40 260,200' \
  -fill '#2020c0' -draw 'circle 160,120 160,90' -depth 8 "$work/two.ppm" || fail "cannot make the second picture"

run_depth() {
  local depth=$1 extra=$2 dir="$work/frames$1"
  echo "== screen at $depth bits $extra"
  startXvfb "320x240x$depth" $extra
  local server=$last display=$DISPLAY

  # The script holds each pipe open (read-write, so the open does not wait for a reader).
  mkfifo "$work/window$depth.in"
  exec 4<>"$work/window$depth.in"
  spawn "$work/window$depth.log" "$WINDOW" "$work/one.ppm" <"$work/window$depth.in"
  local window=$last
  wait_line "$work/window$depth.log" ready 10 || fail "the test window did not come up"

  local store="$work/device$depth.reg" port
  port=$(freePort)
  # The screen alone; no frame buffer device, whatever this machine has.
  export VISTREL_FRAMEBUFFER=
  VISTREL_KEY_STORE="$store" "$BIN/vistrel-headless" --enable Screen --disable Sound \
    >"$work/settings$depth.log" 2>&1 || fail "vistrel --enable Screen failed"
  grep -q "enabled sources: Screen" "$work/settings$depth.log" || fail "Screen was not enabled"

  mkfifo "$work/receive$depth.in"
  exec 5<>"$work/receive$depth.in"
  VISTREL_KEY_STORE="$work/pc.reg" spawn "$work/receive$depth.log" "$BIN/vistrel-receive" --port "$port" \
    --bind 127.0.0.1 --out "$dir" <"$work/receive$depth.in"
  waitListening "$port" || fail "vistrel-receive did not listen"
  VISTREL_KEY_STORE="$store" VISTREL_OBJECT_PREFIX="$VISTREL_OBJECT_PREFIX$depth-" \
    spawn "$work/vistrel$depth.log" "$BIN/vistrel-headless" "-p$port" </dev/null
  local device=$last

  wait_frames "$dir" 1 15 || fail "no picture of the screen arrived"
  # The screen is still: after the first picture nothing more goes out.
  sleep 1.5
  local settled
  settled=$(count "$dir")
  sleep 1.5
  [ "$(count "$dir")" -eq "$settled" ] || fail "pictures of a still screen went out ($settled, then $(count "$dir"))"
  local first
  first=$(ls "$dir" | sort | tail -1)
  expect_picture "$dir/$first" "$work/one.ppm" 30 "the picture received is not the screen"

  echo "show $work/two.ppm" >&4
  wait_line "$work/window$depth.log" shown 10 || fail "the window did not change its picture"
  wait_frames "$dir" $((settled + 1)) 10 || fail "no picture after the screen changed"
  sleep 0.5
  local changed
  changed=$(ls "$dir" | sort | tail -1)
  expect_picture "$dir/$changed" "$work/two.ppm" 30 "the picture after the change is not the new screen"

  # Input from the PC: a tap at the centre and the key A.
  echo "tap 32768 32768" >&5
  wait_line "$work/window$depth.log" "button 1 at 160,120" 10 || fail "the tap did not reach the window at its centre"
  echo "key 65" >&5
  wait_line "$work/window$depth.log" "key a" 10 || fail "the key did not reach the window"
  echo "  tap and key arrived: $(grep -E '^(button|key)' "$work/window$depth.log" | tr '\n' ';')"

  # The X server goes away mid-capture and comes back: the device program stays and
  # sends the screen again.
  kill "$window" "$server"
  stopJob "$window"
  stopJob "$server"
  sleep 1
  kill -0 "$device" 2>/dev/null || fail "the device program ended with the X server"
  local before
  before=$(count "$dir")
  spawn "$work/xvfb$depth-again.log" Xvfb "$display" -screen 0 "320x240x$depth" -nolisten tcp $extra
  waitFor 5 xdpyinfo
  spawn "$work/window$depth-again.log" "$WINDOW" "$work/one.ppm" </dev/null
  wait_line "$work/window$depth-again.log" ready 10 || fail "the test window did not come up again"
  wait_frames "$dir" $((before + 1)) 10 || fail "no picture after the X server came back"
  sleep 0.5
  expect_picture "$dir/$(ls "$dir" | sort | tail -1)" "$work/one.ppm" 30 "the picture after the X server came back is not the screen"

  stopJob "$device"
  exec 4>&- 5>&-
}

run_depth 24 ""
# 16 bits a pixel, and a server without the shared-memory extension (plain GetImage).
run_depth 16 "-extension MIT-SHM"
echo "ok"
