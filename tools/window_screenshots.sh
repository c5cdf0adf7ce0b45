#!/usr/bin/env bash
# Makes the screenshots of the device program's window shown in docs/window.md: vistrel
# with the built-in test-pattern camera under a private Xvfb, driven by X key events, in
# English and in German.
# Usage: tools/window_screenshots.sh BIN_DIR [OUT_DIR]   (OUT_DIR: docs/screenshots)
# Needs Xvfb, xdotool, x11-utils and ImageMagick (import, convert).
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:?usage: $0 BIN_DIR [OUT_DIR]}" && pwd)
out=${2:-$here/../docs/screenshots}
mkdir -p "$out" && out=$(cd "$out" && pwd)
# shellcheck source=../tests/lib/session.sh
. "$here/../tests/lib/session.sh" screenshots
fail() { echo "screenshots: $*" >&2; showLogs >&2; exit 1; }
for tool in Xvfb xdotool xwininfo import convert; do
  command -v "$tool" >/dev/null || fail "$tool is not installed"
done
[ -x "$bin/vistrel" ] || fail "$bin/vistrel is missing"
export VISTREL_FRAMESINK_DEVICE=test-pattern
startXvfb

window() {  # the id of the program's window titled $1
  xwininfo -root -tree 2>/dev/null | sed -n "s/^ *\(0x[0-9a-f]*\) \"$1\": (\"vistrel\" \"vistrel\").*/\1/p" | head -1
}
hasWindow() { [ -n "$(window "$1")" ]; }
opened() {  # waits for the window titled $1 and gives it the keyboard
  waitFor 10 hasWindow "$1" || fail "no window \"$1\""
  sleep 0.3
  xdotool windowfocus --sync "$(window "$1")" 2>/dev/null || true
  sleep 0.2
}
key() { xdotool key --delay 150 "$@"; sleep 0.5; }
shotWindow() { import -window "$(window "$1")" "$out/$2"; }  # TITLE FILE
shotArea() { import -window root -crop "$1" +repage "$out/$2"; }  # WxH+X+Y FILE
run() {  # run NAME : vistrel with its window, until ended
  spawn "$work/$1.log" "$bin/vistrel" --window
  vistrel=$last
  opened Vistrel
  xdotool mousemove 700 500
  sleep 1.5  # a few preview pictures
}
end() {
  xdotool windowfocus --sync "$(window Vistrel)" 2>/dev/null; key ctrl+q
  waitFor 10 stopped "$vistrel" || fail "vistrel did not end"
}

# English: the preview, the menu, the setting editor with its "Advanced" popup.
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"Languages"="0407,"\n"Source"=";Camera;"\n' \
  >"$VISTREL_KEY_STORE"
run english
shotWindow Vistrel main-en.png
key F2
key Down Down Down Right
shotArea 480x280+0+0 menu-en.png
key Return
opened vistrel
key Down Right
shotArea 480x320+0+0 editor-en.png
key Escape Escape Escape
end

# German, with the FTP uploader as the target: the preview, "About", the FTP settings.
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"Languages"="0407,"\n"Current Language"=dword:00000407\n"Quelle"=";Kamera;"\n"Modus"="FTP"\n' \
  >"$VISTREL_KEY_STORE"
run german
shotWindow Vistrel main-de.png
key F2
key Down Down Down Down Return
opened Info
shotWindow Info about-de.png
key F1
opened Vistrel
key F2
key Down Down Down Right Down Return
opened FTP
shotWindow FTP ftp-de.png
key F1
end
echo "screenshots written to $out: $(cd "$out" && ls | tr '\n' ' ')"
