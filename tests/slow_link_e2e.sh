#!/usr/bin/env bash
# End to end on a slow link: a private network namespace whose loopback is shaped to
# 256 kbit/s (tbf, MTU 1500); vistrel streams 640x480 test-pattern pictures (about 11 KB each,
# so one takes about 0.37 s to cross) to a receiver that measures each picture's age on
# arrival. A live picture must not fall behind: in the last 5 s of a 14 s run the median age
# stays under 1.5 s (queued pictures made it grow past 5 s before), and pictures keep coming,
# so the link never dropped. Needs root (ip netns, tc).
# Usage: slow_link_e2e.sh BIN_DIR
bin=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib/session.sh" slow-link
seconds=14
ns="vistrel-slow-$$"
failContext() { [ -f "$work/ages.txt" ] && { echo "--- ages.txt"; tail -40 "$work/ages.txt"; }; }

[ "$(id -u)" = 0 ] || fail "needs root for a private network namespace"
command -v tc >/dev/null || fail "tc is not installed (iproute2)"
ip netns add "$ns" || fail "cannot make a network namespace"
atExit ip netns del "$ns"
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
spawn "$work/receiver.log" ip netns exec "$ns" python3 "$here/stream_latency_receiver.py" "$port" "$seconds" "$work/ages.txt"
rx=$last
# The namespace's own socket table shows the receiver listening.
waitFor 10 ip netns exec "$ns" grep -q ":$(printf %04X "$port") 00000000:0000 0A" /proc/net/tcp ||
  fail "the receiver does not listen"
VISTREL_FRAMESINK_DEVICE=test-pattern VISTREL_KEY_STORE="$work/settings.reg" \
  spawn "$work/vistrel.log" ip netns exec "$ns" "$bin/vistrel" --headless "-p$port" </dev/null
reap "$rx" $((seconds + 15)) || fail "the receiver failed"

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
