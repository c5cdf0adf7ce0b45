#!/bin/bash
# The phone's camera properties as the controls of the PipeWire camera node "Vistrel",
# under a real PipeWire session with the test phone (streamfeed) sending its property
# list: PropInfo lists the offered properties with their values; a Props value set with
# pw-cli reaches the phone as the set-property command with the property's key and the
# value's index (a fraction rounded), and nothing reaches it for a value or name that is
# not offered; a new list from another phone (list_phone.py) replaces the controls, and a
# value that phone reports shows in Props; as the client of a serving process
# (vistrel-pc --serve) the host shows the server's list and sends values through it.
#   controls_e2e.sh BIN_DIR
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../../../tests/lib/session.sh" controls-e2e
. "$here/camera_settings.sh"
bin=$(cd "$1" && pwd)
need pipewire wireplumber pw-cli python3
for b in vistrel-camera streamfeed vistrel-pc; do
  [ -x "$bin/$b" ] || fail "$bin/$b was not built"
done
startPipewire
port=$(freePort)
cameraSettings 320 240
node_id() {  # the id of the node "Vistrel"
  pw-cli ls Node | python3 -c '
import re, sys
text = sys.stdin.read()
for block in re.split(r"\n(?=\s*id \d+)", text):
    m = re.search(r"id (\d+)", block)
    if m and "node.name = \"Vistrel\"" in block:
        print(m.group(1))'
}
spawn "$work/camera.log" "$bin/vistrel-camera" --bind 127.0.0.1
camera=$last
waitNode Vistrel || fail "the node \"Vistrel\" did not appear"
node=$(node_id)
[ -n "$node" ] || fail "no id for the node"

phone() {  # phone LOG : the test phone, connected until killed
  spawn "$work/$1.log" "$bin/streamfeed" --port "$port" --frames 100000 --rate 5 --linger 0
  phone_pid=$last
  waitFor 10 grep -q "^connected to" "$work/$1.log" || fail "the test phone did not connect"
}
propinfo() { pw-cli enum-params "$node" PropInfo 2>&1; }
props() { pw-cli enum-params "$node" Props 2>&1; }

# 1. The list arrives: its offered properties become controls.
phone phone1
waitFor 10 sh -c "pw-cli enum-params $node PropInfo | grep -q Flash" ||
  { propinfo > "$work/propinfo.log"; fail "the phone's properties are not listed as PropInfo"; }
propinfo > "$work/propinfo.txt"
for want in '"Effect"' '"Zoom"' '"Flash"' '"Sepia"' '"150"' '"On"'; do
  grep -q "String $want" "$work/propinfo.txt" || fail "PropInfo lacks $want"
done
echo "PropInfo lists: $(grep -o 'String "[A-Za-z]*"' "$work/propinfo.txt" | sort -u | tr '\n' ' ')"

# 2. Values set with pw-cli reach the phone with the property's key and the index;
#    a value that is not offered and a name no control has send nothing.
pw-cli set-param "$node" Props '{ params = [ "Effect" 2 ] }' > "$work/set1.log" 2>&1 || fail "set-param Effect"
waitFor 5 grep -q "command: set property 257 to index 2" "$work/phone1.log" ||
  fail "the phone did not get Effect (key 257) index 2"
pw-cli set-param "$node" Props '{ params = [ "Zoom" 9 "Brightness" 1 ] }' > "$work/set2.log" 2>&1
pw-cli set-param "$node" Props '{ params = [ "Zoom" 3 ] }' > "$work/set3.log" 2>&1 || fail "set-param Zoom"
waitFor 5 grep -q "command: set property 258 to index 3" "$work/phone1.log" ||
  fail "the phone did not get Zoom (key 258) index 3"
# A number with a fraction is rounded to the nearest index.
pw-cli set-param "$node" Props '{ params = [ "Flash" 0.8 ] }' > "$work/set3b.log" 2>&1 || fail "set-param Flash"
waitFor 5 grep -q "command: set property 259 to index 1" "$work/phone1.log" ||
  { cat "$work/set3b.log"; fail "the phone did not get Flash (key 259) index 1 for 0.8"; }
[ "$(grep -c "command: set property" "$work/phone1.log")" -eq 3 ] ||
  fail "commands for values not offered: $(grep "command:" "$work/phone1.log" | tr '\n' ' ')"
waitFor 5 sh -c "pw-cli enum-params $node Props | grep -A1 'String \"Effect\"' | grep -q 'Int 2'" ||
  { props > "$work/props.log"; fail "Props do not show the chosen Effect"; }
echo "set-param reached the phone: $(grep "command:" "$work/phone1.log" | tr '\n' ' ')"

# 3. Another phone sends another list: the controls are replaced. A long numeric range
#    is a range of indices; a value set in it reaches the phone.
stopJob "$phone_pid"
spawn "$work/phone2.log" python3 "$here/list_phone.py" "$port" range
phone_pid=$last
waitFor 15 sh -c "pw-cli enum-params $node PropInfo | grep -q Exposure" ||
  { propinfo > "$work/propinfo.log"; fail "the new list did not replace the controls"; }
propinfo > "$work/propinfo2.txt"
grep -q '"Effect"' "$work/propinfo2.txt" && fail "the old list's controls are still listed"
grep -A4 'Choice: type Spa:Enum:Choice:Step' "$work/propinfo2.txt" | tr -s ' \n' ' ' |
  grep -Eq 'Int (100|42) Int 0 Int 199 Int 1' || fail "Exposure is not the range 0..199"
# The phone reports a value of its own: Props follows.
waitFor 10 sh -c "pw-cli enum-params $node Props | grep -A1 'String \"Exposure\"' | grep -q 'Int 42'" ||
  { props > "$work/props.log"; fail "Props do not show the value the phone reported"; }
pw-cli set-param "$node" Props '{ params = [ "Exposure" 150 ] }' > "$work/set4.log" 2>&1 || fail "set-param Exposure"
waitFor 5 grep -q "command: set property 513 to index 150" "$work/phone2.log" ||
  fail "the phone did not get Exposure (key 513) index 150"

# 4. A list with nothing to offer leaves no control listed.
stopJob "$phone_pid"
spawn "$work/phone3.log" python3 "$here/list_phone.py" "$port" none
waitFor 15 sh -c "! pw-cli enum-params $node PropInfo | grep -q String" ||
  { propinfo > "$work/propinfo.log"; fail "controls are still listed for a list without any"; }
props | grep -q 'String' && fail "Props still has values"

# 5. The host as the client of a serving process: the list comes from the server, a
#    value goes to the phone through it.
stopJob "$camera"
spawn "$work/server.log" "$bin/vistrel-pc" --serve
waitFor 10 grep -q "opened as the serving process" "$work/server.log" || fail "the serving process did not open"
spawn "$work/camera-client.log" "$bin/vistrel-camera" --bind 127.0.0.1
waitNode Vistrel || fail "no node in client mode"
grep -q "client" "$work/camera-client.log" || fail "the host did not become a client"
node=$(node_id)
phone phone4
waitFor 10 sh -c "pw-cli enum-params $node PropInfo | grep -q Flash" ||
  { propinfo > "$work/propinfo.log"; fail "a client lists no controls"; }
pw-cli set-param "$node" Props '{ params = [ "Flash" 1 ] }' > "$work/set5.log" 2>&1 || fail "set-param Flash"
waitFor 5 grep -q "command: set property 259 to index 1" "$work/phone4.log" ||
  fail "the phone did not get Flash (key 259) index 1 through the serving process"
echo "PASS"
