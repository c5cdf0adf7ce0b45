#!/usr/bin/env bash
# The PC library across real processes: a serving process and clients sharing frames,
# stand-alone receivers, the in-use message, a killed server, per-program settings.
# Arguments: the bin folder of the build (vistrel-pc, device.so, streamfeed).
bin=$1
. "$(dirname "$0")/lib/session.sh" engine-e2e
port=$(freePort)
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"Port"=dword:%08x\n' \
  "$port" >"$VISTREL_KEY_STORE"

start() {  # start NAME ARGS... : runs vistrel-pc in the background, log in NAME.log
  local name=$1; shift
  spawn "$work/$name.log" "$bin/vistrel-pc" "$@"
}
opened() {  # opened NAME [listening] : waits until that program has its engine open (and
  # receives the phone itself)
  waitFor 10 grep -q "waiting for frames" "$work/$1.log" || fail "$1 did not open its engine"
  [ -z "${2:-}" ] || waitListening "$port" || fail "$1 does not listen on port $port"
}
feed() {  # feed NAME FRAMES : a phone sending frames, retried until it gets connected
  local name=$1 frames=$2
  mkdir -p "$work/$name-sent"
  for _ in $(seq 1 100); do
    # The receiver may end the link once it has its frames; that is no failure here.
    "$bin/streamfeed" --port "$port" --frames "$frames" --rate 20 --linger 600 \
      --save "$work/$name-sent" >"$work/$name.log" 2>&1
    grep -q "^connected to" "$work/$name.log" && return 0
    sleep 0.1
  done
  return 1
}

# 1. A server and a client: the client gets the phone's frames through the shared block.
start server --serve --no-files -q
server=$last
opened server listening
start client --frames 3 --jpeg -o "$work/client" -S 160x120
client=$last
opened client
feed phone1 8 || fail "phone could not connect to the serving process"
waitFor 10 stopped "$client" || fail "client did not get 3 frames"
reap "$client" || fail "client failed"
[ "$(ls "$work/client"/*.bmp | wc -l)" = 3 ] || fail "client wrote no 3 pictures"
for f in "$work"/client/*.jpg; do
  match=0
  for s in "$work"/phone1-sent/*.jpg; do cmp -s "$f" "$s" && match=1 && break; done
  [ "$match" = 1 ] || fail "client frame $f is none of the frames sent"
done
size=$(stat -c %s "$work/client/frame-000001.bmp")
[ "$size" = $((54 + 160 * 3 * 120)) ] || fail "160x120 BMP has $size bytes"
grep -q "Camera device is used" "$work/client.log" && fail "a client must not show the in-use message"
echo "ok: server and client share frames"

# 2. The server killed: the next program becomes stand-alone and listens by itself.
stopJob "$server" KILL
start alone1 --frames 2 -o "$work/alone1"
alone1=$last
opened alone1 listening
sleep 0.5  # the next start must find it using the camera; no output says when that is recorded
start alone2 --seconds 3 --no-files
alone2=$last
feed phone2 6 || fail "phone could not connect to the stand-alone process"
waitFor 10 stopped "$alone1" || fail "stand-alone process did not receive 2 frames"
[ "$(ls "$work/alone1"/*.bmp | wc -l)" = 2 ] || fail "stand-alone wrote no 2 pictures"
waitFor 10 stopped "$alone2"
grep -q "Camera device is used by another application:" "$work/alone2.log" \
  || fail "second stand-alone process got no in-use message"
grep -q "vistrel-pc" "$work/alone2.log" || fail "the in-use message does not name the first program"
echo "ok: killed server, stand-alone receiver and in-use message"

# The in-use message in the selected language: German, from the language module.
sed -i 's/^"Port"=.*/&\n"Language"=dword:00000407/' "$VISTREL_KEY_STORE"
start alone3 --seconds 3 --no-files
alone3=$last
opened alone3 listening
sleep 0.5  # the next start must find it using the camera; no output says when that is recorded
start alone4 --seconds 1 --no-files
alone4=$last
waitFor 10 stopped "$alone4"
grep -q "Das Kameragerät wird von einer anderen Anwendung verwendet:" "$work/alone4.log" \
  || fail "with German selected the in-use message is not German"
waitFor 10 stopped "$alone3"
echo "ok: the in-use message speaks the selected language"

# 3. Per-program settings: two program files keep their own rotation, share the port.
mkdir -p "$work/progs"
cp "$bin/vistrel-pc" "$work/progs/my.app.exe"
cp "$bin/vistrel-pc" "$work/progs/conf.exe"
cp "$bin/device.so" "$work/progs/"
cat >>"$VISTREL_KEY_STORE" <<REG

[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\my.app]
"Rotation"=dword:00000001
"Width"=hex:40,01

[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\conf]
"Rotation"=dword:00000000
REG
spawn "$work/myapp.log" "$work/progs/my.app.exe" --frames 1 -o "$work/myapp"
myapp=$last
feed phone3 4 || fail "phone could not reach my.app.exe"
waitFor 10 stopped "$myapp" || fail "my.app.exe got no frame"
spawn "$work/conf.log" "$work/progs/conf.exe" --frames 1 -o "$work/conf"
conf=$last
feed phone4 4 || fail "phone could not reach conf.exe"
waitFor 10 stopped "$conf" || fail "conf.exe got no frame"
# The streamfeed picture is 320x240: turned a quarter it shows as 240x320.
grep -q "frame 1: 240x320 JPEG" "$work/myapp.log" || fail "my.app did not use its rotation"
grep -q "frame 1: 320x240 JPEG" "$work/conf.log" || fail "conf did not keep its own rotation"
echo "ok: per-program settings"
# 4. The server killed while a client runs: the client receives the phone by itself.
start server4 --serve --no-files -q
server4=$last
opened server4 listening
start keeper --no-files --seconds 30
keeper=$last
opened keeper
feed phone5 5 || fail "phone could not connect to the serving process"
waitFor 10 grep -q "^frame 1:" "$work/keeper.log" || fail "the client got no frame from the server"
before=$(grep -c "^frame" "$work/keeper.log")
stopJob "$server4" KILL
killed=$(date +%s%N)
feed phone6 5 || fail "phone could not connect to the former client"
taken=$(( ($(date +%s%N) - killed) / 1000000 ))
echo "the former client took the phone ${taken} ms after the server was killed"
waitFor 10 eval '[ "$(grep -c "^frame" "$work/keeper.log")" -gt "$before" ]' \
  || fail "the client received nothing by itself"
[ "$taken" -lt 3000 ] || fail "the client took ${taken} ms to listen"
kill -0 "$keeper" || fail "the client ended"
echo "ok: a client outlives its server and receives by itself"
echo "engine end to end: all passed"
