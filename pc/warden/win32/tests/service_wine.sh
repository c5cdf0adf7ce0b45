#!/bin/sh
# warden.exe in Wine's service control manager: service_wine.sh WINE-RUN PREFIX WARDEN
# "/i" installs and starts "Vistrel Service" (exit 0), the service reports its state, a
# second "/i" fails (2) and leaves
# it installed, "/u" removes it (0), and a second "/u" fails (2).
set -u
run=$1 prefix=$2 warden=$3
fail() { echo "FAIL: $*"; "$run" "$prefix" warden.exe /u >/dev/null 2>&1; exit 1; }
query() { "$run" "$prefix" sc query "Vistrel Service" 2>&1; }
cd "$(dirname "$warden")" || exit 1

# A service left over from an interrupted run goes first.
"$run" "$prefix" warden.exe /u >/dev/null 2>&1

"$run" "$prefix" warden.exe /i; rc=$?
[ "$rc" -eq 0 ] || fail "/i exited with $rc"
out=$(query)
echo "$out" | grep -q "SERVICE_NAME: Vistrel Service" || fail "sc query does not list it after /i: $out"
# The service ran its main through the service manager: it reports running, or, while
# device.ax offers no entry table (DllGetData) on Windows, stopped with the exit code
# 0xFFFFFFFF of a library that cannot be opened.
ran=
for _ in 1 2 3 4 5 6 7 8 9 10; do
  out=$(query)
  if echo "$out" | grep -q "STATE *: 4 *RUNNING" ||
     { echo "$out" | grep -q "STATE *: 1 *STOPPED" && echo "$out" | grep -qi "WIN32_EXIT_CODE *: 4294967295"; }; then
    ran=1; break
  fi
  sleep 1
done
[ -n "$ran" ] || fail "the service did not report running or its start failure: $out"
"$run" "$prefix" warden.exe /i 2>/dev/null; rc=$?
[ "$rc" -eq 2 ] || fail "a second /i exited with $rc, not 2"
query | grep -q "SERVICE_NAME: Vistrel Service" || fail "the second /i removed the service"
"$run" "$prefix" warden.exe /u; rc=$?
[ "$rc" -eq 0 ] || fail "/u exited with $rc"
out=$(query)
echo "$out" | grep -q "SERVICE_NAME: Vistrel Service" && fail "sc query still lists it after /u: $out"
"$run" "$prefix" warden.exe /u 2>/dev/null; rc=$?
[ "$rc" -eq 2 ] || fail "a second /u exited with $rc, not 2"
echo "PASS"
