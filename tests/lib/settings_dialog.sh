# Reaching the viewer's windows and its settings dialog with X events (xdotool), for the
# end-to-end scripts that source session.sh and start its Xvfb first. Sourced.

windowNamed() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
windowCount() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l; }
hasWindow() { [ -n "$(windowNamed "$1")" ]; }
noWindow() { [ -z "$(windowNamed "$1")" ]; }
openSettings() {  # Tools is the menu right of File; Settings is its last item
  local win; win=$(windowNamed Vistrel)
  xdotool windowfocus --sync "$win" 2>/dev/null || true
  xdotool mousemove --window "$win" 12 10 click 1
  sleep 0.5
  xdotool key --clearmodifiers Right
  sleep 0.3
  xdotool key --clearmodifiers Up Return
}

# Skips the run without Xvfb, xdotool or the viewer; fails (the script's `fail`) when the
# library, its dialogs or one of the further files $2... is missing from bin folder $1.
needViewer() {
  local bin=$1 tool f; shift
  for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (packages xvfb, xdotool)"
  done
  [ -x "$bin/lookout" ] || skip "lookout was not built (Qt 6 Widgets missing)"
  for f in device.so device_dialogs.so device.rc "$@"; do
    [ -e "$bin/$f" ] || fail "$bin/$f is missing"
  done
}

# The PC's settings for the run: port $1, language 1033 (English, also for the locale),
# no launcher at start-up.
writePcSettings() {
  export LANGUAGE= LC_ALL=C LC_MESSAGES= LANG=C
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"Port"=dword:%08x\n"Language"=dword:00000409\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\lookout]\n"ConnectAtStartup"=dword:00000000\n' \
    "$1" >"$VISTREL_KEY_STORE"
}
