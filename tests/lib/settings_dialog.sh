# Reaching the viewer's windows and its settings dialog with X events (xdotool), for the
# end-to-end scripts that source x_session.sh first. Sourced.

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
