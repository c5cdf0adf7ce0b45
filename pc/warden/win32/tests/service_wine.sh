#!/bin/sh
# warden.exe in Wine's service control manager:
#   service_wine.sh WINE-RUN PREFIX WARDEN SERVICE-CLIENT [STREAMFEED]
# "/i" installs and starts "Vistrel Service" (exit 0) with this run's key store and object
# names (the installer's VISTREL_* variables, kept in the service's "Environment" value);
# the service reaches running and owns the phone's port; the client program plays the
# phone and, as a second process, receives its pictures through device.ax as the
# service's client and sends the reload request (128) (before that, lookout.exe, started
# beside a phone the service owns, shows its pictures as the service's client and its
# click reaches the phone); then the Linux build's streamfeed
# (run natively, with garbage between its messages) sends to the service while the client
# program runs device.ax's filter in a graph and compares what it shows with the frames
# streamfeed saved; a second "/i" fails (2) and leaves it installed, "/u" removes it (0),
# and a second "/u" fails (2). Exit status 77 when all that ran passed but streamfeed was
# not found (no Linux build beside this one).
set -u
run=$1 prefix=$2 warden=$3 client=$4 streamfeed=${5:-}
export VISTREL_KEY_STORE="Software\\VistrelTest\\warden_service_$$"
export VISTREL_OBJECT_PREFIX="warden_service_$$_"
frames=
feeder=
cleanup() {
  [ -n "$feeder" ] && kill "$feeder" 2>/dev/null && wait "$feeder" 2>/dev/null
  [ -n "$frames" ] && rm -rf "$frames"
  "$run" "$prefix" "$client" cleanup >/dev/null 2>&1
}
fail() { echo "FAIL: $*"; "$run" "$prefix" warden.exe /u >/dev/null 2>&1; cleanup; exit 1; }
query() { "$run" "$prefix" sc query "Vistrel Service" 2>&1; }
cd "$(dirname "$warden")" || exit 1

# A service left over from an interrupted run goes first.
"$run" "$prefix" warden.exe /u >/dev/null 2>&1
port=$("$run" "$prefix" "$client" prepare | tr -d '\r') || fail "the client could not write this run's settings"

"$run" "$prefix" warden.exe /i; rc=$?
[ "$rc" -eq 0 ] || fail "/i exited with $rc"
out=$(query)
echo "$out" | grep -q "SERVICE_NAME: Vistrel Service" || fail "sc query does not list it after /i: $out"
running=
for _ in 1 2 3 4 5 6 7 8 9 10; do
  out=$(query)
  if echo "$out" | grep -q "STATE *: 4 *RUNNING"; then running=1; break; fi
  sleep 1
done
[ -n "$running" ] || fail "the service did not reach running: $out"
# The viewer first: the phases' own phones wait for the service to greet them, streamfeed
# does not, so the phase before it leaves the service time to drop its phone.
"$run" "$prefix" "$client" viewer || fail "lookout.exe did not show the phone as the service's client"
"$run" "$prefix" "$client" receive || fail "the service did not serve the phone to a second process"
query | grep -q "STATE *: 4 *RUNNING" || fail "the service stopped after the reload request: $(query)"
fed=
if [ -n "$streamfeed" ] && [ -x "$streamfeed" ]; then
  # Beside the programs (the script's folder), so that the Windows program finds it by the
  # same relative name.
  frames=streamfeed_frames_$$
  mkdir -p "$frames"
  "$streamfeed" -p "$port" -n 300 -r 15 --garbage --save "$frames" --linger 0 >/dev/null 2>&1 &
  feeder=$!
  "$run" "$prefix" "$client" graph "$frames" || fail "device.ax's filter in a graph did not show streamfeed's frames"
  fed=1
fi
"$run" "$prefix" warden.exe /i 2>/dev/null; rc=$?
[ "$rc" -eq 2 ] || fail "a second /i exited with $rc, not 2"
query | grep -q "SERVICE_NAME: Vistrel Service" || fail "the second /i removed the service"
"$run" "$prefix" warden.exe /u; rc=$?
[ "$rc" -eq 0 ] || fail "/u exited with $rc"
out=$(query)
echo "$out" | grep -q "SERVICE_NAME: Vistrel Service" && fail "sc query still lists it after /u: $out"
"$run" "$prefix" warden.exe /u 2>/dev/null; rc=$?
[ "$rc" -eq 2 ] || fail "a second /u exited with $rc, not 2"
cleanup
if [ -z "$fed" ]; then
  echo "SKIP: all else passed, but streamfeed (${streamfeed:-not given}) was not found: build the Linux build first"
  exit 77
fi
echo "PASS"
