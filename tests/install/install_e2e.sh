#!/usr/bin/env bash
# The installed programs, moved away from where they were installed and with the build
# tree out of reach: `cmake --install` with DESTDIR into a temporary prefix, the prefix
# copied to another folder, and every program run from the copy inside a mount namespace
# that hides the build and source trees behind empty folders.
#   1. layout, paths made for the prefix, and no installed file naming the build tree;
#   2. every program answers --version, warden --help, each manual page renders cleanly;
#   3. vistrel streams its test-pattern camera to vistrel-pc --serve, a vistrel-pc client
#      receives the frames; lookout shows its window under Xvfb (skipped without Xvfb);
#   4. without device.so, warden, vistrel-pc and lookout say where they looked and fail.
# Arguments: the build folder, the source folder.
build=$(realpath "$1")
source=$(realpath "$2")
. "$(dirname "$0")/../lib/session.sh" install-e2e
unset DISPLAY

# 1. Install into a prefix below DESTDIR.
prefix=/opt/vistrel-e2e
DESTDIR="$work/dest" cmake --install "$build" --prefix "$prefix" --strip >"$work/install.log" 2>&1 \
  || fail "cmake --install failed"
installed="$work/dest$prefix"
libdir=$(cd "$installed" && ls -d lib*/vistrel 2>/dev/null | head -1)
[ -n "$libdir" ] || fail "no module folder lib*/vistrel"
libdir=${libdir%/vistrel}
for f in bin/vistrel bin/vistrel-receive bin/vistrel-pc bin/streamfeed bin/warden \
         "$libdir/vistrel/device.so" "$libdir/vistrel/jpegpress.so" "$libdir/vistrel/framesink.so" \
         "$libdir/vistrel/vistrel.rc" "$libdir/vistrel/vistrel.0407.mui" \
         "$libdir/vistrel/device.rc" "$libdir/vistrel/Lang/res0407.rc" \
         share/vistrel/Vistrel.htm share/man/man1/vistrel.1.gz share/doc/vistrel/copyright; do
  [ -e "$installed/$f" ] || fail "$f is not installed"
done
# The dialogs' window module comes with the viewer (both need Qt).
if [ -e "$installed/bin/lookout" ]; then
  [ -e "$installed/$libdir/vistrel/device_dialogs.so" ] || fail "$libdir/vistrel/device_dialogs.so is not installed"
fi
[ -z "$(find "$installed/bin" -type f ! -perm -u+x)" ] || fail "a program in bin/ is not executable"
[ -z "$(find "$installed/bin" -name '*.rc' -o -name '*.png' -o -name '*.so')" ] || fail "data or modules in bin/"
# Units and configuration files name the prefix installed to.
for unit in $(find "$installed/lib/systemd/user" -name '*.service'); do
  exec=$(sed -n 's/^ExecStart=//p' "$unit")
  [ "${exec%% *}" = "$prefix/bin/$(basename "${exec%% *}")" ] || fail "$unit runs $exec, not from $prefix/bin"
  [ -x "$installed/bin/$(basename "${exec%% *}")" ] || fail "$unit runs $exec, which is not installed"
done
[ -n "$(find "$installed/lib/systemd/user" -name '*.service' 2>/dev/null)" ] || fail "no user units installed"
for conf in $(find "$installed" -name '50-orvaneaudio.conf'); do
  grep -q "lib \"$prefix/$libdir/alsa-lib/libasound_module_pcm_orvaneaudio.so\"" "$conf" \
    || fail "$conf does not name the plugin below $prefix: $(grep lib "$conf")"
done
# No installed file names the build or the source tree (programs, modules, units, pages).
named=$(grep -rlaF -e "$build" -e "$source" "$installed")
[ -z "$named" ] || fail "installed files name the build or source tree: $named"
echo "ok: installed layout below $prefix ($libdir/vistrel, share/vistrel), units name $prefix [${SECONDS}s]"

# The prefix moved elsewhere; the original is gone.
moved="$work/moved/somewhere else"
mkdir -p "$(dirname "$moved")" && cp -a "$installed" "$moved" && rm -rf "$work/dest"
bin="$moved/bin"

# Runs a program with the build and source trees hidden (needs mount namespaces, as root).
hide=()
if unshare -m --propagation private true 2>/dev/null; then
  hide=(unshare -m --propagation private sh -c \
        'mount -t tmpfs tmpfs "$1" && mount -t tmpfs tmpfs "$2" && shift 2 && exec "$@"' hide "$build" "$source")
  echo "ok: the build and source trees are hidden from the programs"
else
  echo "note: no mount namespaces here; the programs run with the build tree in place"
fi
run() { "${hide[@]}" "$@"; }

# 2. --version, --help and the manual pages.
for p in "$bin"/*; do
  name=$(basename "$p")
  out=$(run "$p" --version 2>&1) || fail "$name --version failed: $out"
  [[ "$out" =~ ^$name\ [0-9]+\.[0-9]+ ]] || fail "$name --version printed: $out"
  [ -e "$moved/share/man/man1/$name.1.gz" ] || fail "$name has no manual page"
done
# The device program's resource scripts come from the installed module folder: a missing
# vistrel.rc would be reported ("using the built-in resources").
run "$bin/vistrel-texts" texts >"$work/texts.log" 2>&1 || fail "vistrel-texts texts failed"
grep -q "built-in" "$work/texts.log" && fail "vistrel-texts did not find the installed vistrel.rc"
run "$bin/warden" --help >"$work/warden-help.log" 2>&1 || fail "warden --help failed"
grep -q "^Usage: warden" "$work/warden-help.log" || fail "warden --help shows no usage"
if command -v man >/dev/null; then
  for page in "$moved"/share/man/man*/*; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man -l $(basename "$page"): $warnings"
    LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$page" 2>/dev/null | grep -q "^NAME" \
      || fail "man -l $(basename "$page") shows no NAME section"
  done
  echo "ok: every program answers --version and has a manual page that renders without warnings [${SECONDS}s]"
else
  echo "note: man is not installed; the pages were not rendered"
fi

# 3. The device streams to the serving process; a client receives.
port=$(freePort)
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"Port"=dword:%08x\n' \
  "$port" >"$VISTREL_KEY_STORE"
start() {  # start NAME PROGRAM ARGS... : in the background with the trees hidden
  local name=$1; shift
  spawn "$work/$name.log" "${hide[@]}" "$@"  # the program itself (exec), so that $last is it
}
start server "$bin/vistrel-pc" --serve --no-files -q
server=$last
waitFor 10 grep -q "opened as the serving process" "$work/server.log" || fail "vistrel-pc --serve did not open"
start client "$bin/vistrel-pc" --frames 3 --jpeg -o "$work/client" -S 160x120
client=$last
waitFor 10 grep -q "waiting for frames" "$work/client.log" || fail "the client did not open"
VISTREL_FRAMESINK_DEVICE=test-pattern start device "$bin/vistrel" "-p$port"
device=$last
waitFor 30 stopped "$client" || fail "the client did not receive 3 frames from vistrel"
reap "$client" || fail "the client failed"
[ "$(ls "$work/client"/*.bmp 2>/dev/null | wc -l)" = 3 ] || fail "the client wrote no 3 pictures"
for f in "$work"/client/*.jpg; do
  [ "$(head -c 2 "$f" | od -An -tx1 | tr -d ' ')" = ffd8 ] || fail "$f is no JPEG file"
done
grep -q "built-in" "$work/device.log" && fail "vistrel did not find the installed vistrel.rc"
echo "ok: installed vistrel streams the test pattern to vistrel-pc --serve, a client receives it [${SECONDS}s]"

if [ -x "$bin/lookout" ] && command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
  startXvfb 800x600x24
  start viewer "$bin/lookout"
  viewer=$last
  window() { xdotool search --onlyvisible --name '^Vistrel$' 2>/dev/null | head -1; }
  waitFor 20 eval '[ -n "$(window)" ]' || fail "the installed lookout shows no window"
  grep -q "cannot\|lookout.rc" "$work/viewer.log" && fail "lookout complained: $(cat "$work/viewer.log")"
  stopJob "$viewer"; code=$?
  [ "$code" = 0 ] || fail "lookout ended with code $code after SIGTERM"
  unset DISPLAY
  echo "ok: installed lookout shows its window under Xvfb, with its resource script [${SECONDS}s]"
else
  echo "note: lookout, Xvfb or xdotool missing; the viewer was not started"
fi
stopJob "$device"
stopJob "$server"

# 4. A module missing from the installation: a clear message and a failure.
rm "$moved/$libdir/vistrel/device.so"
expectMissing() {  # expectMissing CODE PROGRAM ARGS...
  local want=$1 name; name=$(basename "$2"); shift
  run "$@" >"$work/missing-$name.log" 2>&1; local code=$?
  [ "$code" = "$want" ] || fail "$name without device.so ended with code $code, not $want"
  grep -qF "cannot load device.so (looked in $bin, $moved/$libdir/vistrel and the library path)" \
    "$work/missing-$name.log" || fail "$name does not say where it looked: $(cat "$work/missing-$name.log")"
}
expectMissing 255 "$bin/warden"
expectMissing 2 "$bin/vistrel-pc" --no-files --frames 1
[ -x "$bin/lookout" ] && expectMissing 1 "$bin/lookout"
echo "ok: without device.so the programs say where they looked and fail [${SECONDS}s]"
echo "all install checks passed"
