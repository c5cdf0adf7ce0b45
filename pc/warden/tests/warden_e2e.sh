#!/usr/bin/env bash
# The service as systemd runs it: the real warden with the real device.so, a test phone
# sending frames over TCP, a client program getting them through the shared block, SIGHUP
# after a port change, SIGTERM, a second copy, and a missing library.
# Argument: the bin folder of the build (warden, device.so, streamfeed, vistrel-pc).
bin=$1
. "$(dirname "$0")/../../../tests/lib/session.sh" warden-e2e
for p in warden device.so streamfeed vistrel-pc; do
  [ -e "$bin/$p" ] || fail "$bin/$p is not built"
done

# device.so keeps a few process-wide objects on purpose (its engine lock, the event
# state that detached threads share); once a program unloads the library nothing points
# at them any more and the leak checker of a sanitizer build reports them. Programs that
# unload it (the service at stop, the client at exit) run here without that check.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
setPort() {  # setPort PORT [LISTEN_ADDRESS]
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"Port"=dword:%08x\n' \
    "$1" >"$VISTREL_KEY_STORE"
  [ -z "${2:-}" ] || printf '"ListenAddress"="%s"\n' "$2" >>"$VISTREL_KEY_STORE"
}
feed() {  # feed NAME PORT FRAMES [HOST] : a phone, retried until it got connected
  local name=$1 port=$2 frames=$3 host=${4:-127.0.0.1}
  for _ in $(seq 1 50); do
    "$bin/streamfeed" --host "$host" --port "$port" --frames "$frames" --rate 20 --linger 300 >"$work/$name.log" 2>&1
    grep -q "^connected to" "$work/$name.log" && return 0
    sleep 0.1
  done
  return 1
}
# systemd's side of the notification protocol: one datagram per state report.
notifyListener() {  # notifyListener SOCKET LOG
  python3 -u -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
print("bound", flush=True)
while True:
    data = s.recv(4096).decode()
    print(data.replace("\n", "|"), flush=True)
' "$1" >"$2" 2>&1 &
  track $!
  waitFor 5 grep -q bound "$2" || fail "no notification socket"
}

portA=$(freePort)
portB=$(freePort)
setPort "$portA"
notifyListener "$work/notify" "$work/notify.log"

# 1. Service mode: ready once the library is open, and serving the phone.
NOTIFY_SOCKET="$work/notify" spawn "$work/warden.log" "$bin/warden"
warden=$last
waitFor 10 grep -q "READY=1" "$work/notify.log" || fail "warden never reported running"
grep -q "^EXTEND_TIMEOUT_USEC=4000000|STATUS=Starting (checkpoint 1)|" "$work/notify.log" || fail "no start pending report first"
spawn "$work/client.log" "$bin/vistrel-pc" --frames 2 --no-files
client=$last
waitFor 10 grep -q "waiting for frames" "$work/client.log" || fail "the client did not open its engine"
feed phone1 "$portA" 10 || fail "the phone could not connect to the service on port $portA"
waitFor 10 stopped "$client" || fail "the client got no 2 frames from the service"
reap "$client" || fail "the client failed"
grep -q "summary: 2 frames" "$work/client.log" || fail "the client counted no 2 frames"
echo "ok: the service serves the phone's frames to a client"

# 2. A second copy: the service already runs.
NOTIFY_SOCKET="$work/notify" "$bin/warden" >"$work/second.log" 2>&1
[ $? = 255 ] || fail "a second warden did not end with 255"
grep -q "already runs" "$work/second.log" || fail "the second warden did not say why"
kill -0 "$warden" || fail "the second warden hurt the first"
echo "ok: a second copy ends with 255 and leaves the first alone"

# 3. A changed port and listening address, then SIGHUP: the service listens there only.
setPort "$portB" "::1"
kill -HUP "$warden"
feed phone2 "$portB" 3 ::1 || fail "after SIGHUP the service does not listen on [::1]:$portB"
python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1)' "$portB" 2>/dev/null &&
  fail "with \"ListenAddress\"=\"::1\" the service still answers on 127.0.0.1"
kill -0 "$warden" || fail "SIGHUP ended the service"
echo "ok: SIGHUP applies a changed port and listening address"

# 3b. The same through the control endpoint, as the PC library asks for it: code 128
# reloads; the stop code is not taken from there.
control() {  # control CODE : one request datagram to the service's endpoint
  python3 -c '
import socket, struct, sys, os
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.sendto(b"VSCC" + struct.pack("<I", int(sys.argv[1])),
         b"\0vistrel-service/" + os.environ["VISTREL_OBJECT_PREFIX"].encode() + b"Vistrel Service")
' "$1"
}
portC=$(freePort)
setPort "$portC"
control 1 || fail "the control endpoint is not there"
control 128 || fail "the control endpoint is not there"
feed phone3 "$portC" 3 || fail "after a reload request the service does not listen on port $portC"
kill -0 "$warden" || fail "a stop request through the endpoint ended the service"
echo "ok: the reload request through the control endpoint applies a changed port"

# 4. SIGTERM (twice, as an impatient manager may): stop pending, stopped, exit status 0.
kill -TERM "$warden"; kill -TERM "$warden"
waitFor 10 stopped "$warden" || fail "SIGTERM did not end the service"
reap "$warden"; status=$?
[ "$status" = 0 ] || fail "the service ended with $status after SIGTERM"
grep -q "^STOPPING=1|STATUS=Stopping (checkpoint 2)" "$work/notify.log" || fail "no stop pending report"
waitFor 5 grep -q "^STATUS=Stopped|" "$work/notify.log" || fail "no stopped report"
echo "ok: SIGTERM stops the service cleanly"

# 5. No library beside the program: stopped with the failure code, status 255.
mkdir "$work/alone"
cp "$bin/warden" "$work/alone/warden"
: >"$work/notify.log"
NOTIFY_SOCKET="$work/notify" "$work/alone/warden" >"$work/alone.log" 2>&1
status=$?
[ "$status" = 255 ] || fail "warden without device.so ended with $status"
grep -q "cannot load device.so" "$work/alone.log" || fail "no clear message about the missing library"
grep -q "exit code 0xFFFFFFFF" "$work/alone.log" || fail "no failure exit code in the message"
waitFor 5 grep -q "STATUS=Stopped, failed: cannot load device.so" "$work/notify.log" \
  || fail "systemd was not told that the library is missing"
grep -q "READY=1" "$work/notify.log" && fail "a service without its library reported running"
echo "ok: a missing library gives the failure status"
echo "warden end to end: all passed"
