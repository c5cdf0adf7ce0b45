#!/usr/bin/env bash
# End to end on a slow link: a private network namespace whose loopback is shaped to
# 256 kbit/s (tbf, MTU 1500); vistrel streams 640x480 test-pattern pictures (about 11 KB each,
# so one takes about 0.37 s to cross) to a receiver that measures each picture's age on
# arrival. A live picture must not fall behind: in the last 5 s of a 14 s run the median age
# stays under 1.5 s (queued pictures made it grow past 5 s before), and pictures keep coming,
# so the link never dropped. Needs root (ip netns, tc).
# Usage: slow_link_e2e.sh BIN_DIR
set -u
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
seconds=14
ns="vistrel-slow-$$"
work=$(mktemp -d /tmp/vistrel-slow.XXXXXX)
rx=""
dev=""
cleanup() {
  [ -n "$dev" ] && kill "$dev" 2>/dev/null
  [ -n "$rx" ] && kill "$rx" 2>/dev/null
  wait 2>/dev/null
  ip netns del "$ns" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$work"/*.log "$work"/ages.txt; do [ -f "$f" ] && { echo "== $f"; tail -40 "$f"; }; done; exit 1; }

[ "$(id -u)" = 0 ] || fail "needs root for a private network namespace"
command -v tc >/dev/null || fail "tc is not installed (iproute2)"
ip netns add "$ns" || fail "cannot make a network namespace"
ip netns exec "$ns" ip link set lo up
ip netns exec "$ns" ip link set lo mtu 1500
ip netns exec "$ns" tc qdisc add dev lo root tbf rate 256kbit burst 4kb latency 400ms \
  || fail "cannot shape the namespace's loopback"

cat > "$work/settings.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Orvane\Vistrel\Camera]
"Resolution"=dword:00000006
REG
port=2047  # the namespace is private: nothing else listens there
ip netns exec "$ns" python3 "$here/stream_latency_receiver.py" "$port" "$seconds" "$work/ages.txt" \
  >"$work/receiver.log" 2>&1 &
rx=$!
sleep 0.5
VISTREL_FRAMESINK_DEVICE=test-pattern VISTREL_KEY_STORE="$work/settings.reg" \
  VISTREL_OBJECT_PREFIX="slowlink$$-" \
  ip netns exec "$ns" "$bin/vistrel" --headless "-p$port" >"$work/vistrel.log" 2>&1 </dev/null &
dev=$!
wait "$rx" || fail "the receiver failed"
rx=""

python3 - "$work/ages.txt" "$seconds" <<'PY' || fail "the picture fell behind"
import sys
rows = [line.split() for line in open(sys.argv[1]) if line.strip()]
seconds = float(sys.argv[2])
sizes = sorted(int(r[2]) for r in rows)
late = sorted(int(r[1]) for r in rows if float(r[0]) > seconds - 5)
print("pictures %d, median size %d bytes" % (len(rows), sizes[len(sizes) // 2] if sizes else 0))
if len(late) < 5:
    sys.exit("only %d pictures in the last 5 s: the link stalled or dropped" % len(late))
p50, p99 = late[len(late) // 2], late[min(len(late) - 1, len(late) * 99 // 100)]
print("age on arrival in the last 5 s: p50 %d ms, p99 %d ms" % (p50, p99))
if p50 > 1500:
    sys.exit("median age %d ms: pictures queue instead of being dropped at the source" % p50)
PY
echo "slow link end to end: ok"
