#!/usr/bin/env bash
# The device program started from the PC over ssh, against a real sshd that the test
# runs on a free loopback port with its own host key, configuration and authorised key.
# The device is this machine; its vistrel uses framesink's test-pattern camera and its
# own settings file. Checks: an engine opening with "ConnectAtStartup" starts vistrel,
# which streams to it; Connect (twice in quick succession) makes one launch with
# -p<port + 65536>; a refused key, an unreachable or silent host and a device without
# the program each end in a clear message within the time limits; with no device set up
# nothing is started and nothing is printed.
# Usage: launcher_ssh_e2e.sh BIN_DIR
BIN=$1
. "$(dirname "$0")/../../../../tests/lib/session.sh" ssh-e2e
SSHD=/usr/sbin/sshd
[ -x "$SSHD" ] || skip "openssh-server is not installed"
need ssh ssh-keygen
if [ ! -e "$BIN/framesink.so" ] || [ ! -x "$BIN/vistrel" ] || [ ! -e "$BIN/rapi.so" ]; then
  skip "vistrel with framesink or rapi.so not built"
fi
chmod 755 "$work"
export VISTREL_DEVICE_PREFIX="$work/dev-"  # no virtual microphone
PC_STORE=$work/pc.reg
DEVICE_STORE=$work/device.reg
# The device program is started by sshd, not by this script: it is found by the
# prefix of its named objects, which is this run's own.
device_pids() {
  for d in /proc/[0-9]*; do
    [ "$(cat "$d/comm" 2>/dev/null)" = vistrel ] || continue
    tr '\0' '\n' < "$d/environ" 2>/dev/null | grep -qx "VISTREL_OBJECT_PREFIX=$VISTREL_OBJECT_PREFIX" && echo "${d#/proc/}"
  done
}
endDevicePrograms() {
  local p pids i
  pids=$(device_pids)
  for p in $pids; do kill "$p" 2>/dev/null; done
  # A device program saves its settings as it ends: wait for it (5 s at most), so that
  # the session's folder is removed after that write, not during it.
  for p in $pids; do
    for i in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
  done
}
atExit endDevicePrograms

SSH_PORT=$(freePort)
PC_PORT=$(freePort)
ssh-keygen -q -t ed25519 -N '' -C vistrel-test-host -f "$work/host_key" || fail "no host key"
ssh-keygen -q -t ed25519 -N '' -C vistrel-test-user -f "$work/user_key" || fail "no user key"
ssh-keygen -q -t ed25519 -N '' -C vistrel-test-other -f "$work/other_key" || fail "no second key"
cp "$work/user_key.pub" "$work/authorized_keys"
chmod 600 "$work/authorized_keys"
echo "[127.0.0.1]:$SSH_PORT $(cat "$work/host_key.pub")" > "$work/known_hosts"
USER_NAME=$(id -un)
cat > "$work/sshd_config" <<CONF
Port $SSH_PORT
ListenAddress 127.0.0.1
HostKey $work/host_key
AuthorizedKeysFile $work/authorized_keys
PidFile $work/sshd.pid
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
AllowUsers $USER_NAME
LogLevel VERBOSE
SetEnv VISTREL_KEY_STORE=$DEVICE_STORE VISTREL_OBJECT_PREFIX=$VISTREL_OBJECT_PREFIX VISTREL_DEVICE_PREFIX=$VISTREL_DEVICE_PREFIX VISTREL_FRAMESINK_DEVICE=test-pattern
CONF
[ "$(id -u)" -ne 0 ] || mkdir -p /run/sshd  # sshd's privilege separation folder
spawn "$work/sshd.log" "$SSHD" -D -e -f "$work/sshd_config"
waitFor 5 grep -q "Server listening" "$work/sshd.log" || fail "sshd did not start"

# The device's settings: where the program is installed.
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Security\\AppInstall\\Orvane Vistrel]\n"InstallDir"="%s"\n' \
  "$BIN" > "$DEVICE_STORE"
# The PC's settings: its port on loopback and the device (given as name=value lines,
# strings unless dword:).
pc_settings() {
  {
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n'
    printf '"Port"=dword:%08x\n"ListenAddress"="127.0.0.1"\n' "$PC_PORT"
    if [ $# -gt 0 ]; then
      printf '\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\RemoteDevice]\n'
      for pair in "$@"; do
        case "${pair#*=}" in
          dword:*) printf '"%s"=%s\n' "${pair%%=*}" "${pair#*=}" ;;
          *) printf '"%s"="%s"\n' "${pair%%=*}" "${pair#*=}" ;;
        esac
      done
    fi
  } > "$PC_STORE"
}
DEVICE_OK=(Host=127.0.0.1 "User=$USER_NAME" "Port=dword:$(printf %08x "$SSH_PORT")"
           "IdentityFile=$work/user_key" "KnownHostsFile=$work/known_hosts")
logins() { grep -c "Accepted publickey" "$work/sshd.log"; }

# 1. With no device set up, an engine opening starts nothing and says nothing about it.
pc_settings
mkdir -p "$work/none"
VISTREL_KEY_STORE="$PC_STORE" timeout 10 "$BIN/vistrel-pc" -t 2 -o "$work/none" > "$work/none.log" 2>&1
grep -qi "phone program\|device program\|launch" "$work/none.log" && fail "an engine start without a device printed about launching"
[ "$(logins)" -eq 0 ] || fail "ssh was used with no device set up"
VISTREL_KEY_STORE="$PC_STORE" timeout 10 "$BIN/vistrel-launch" --connect > "$work/launch-none.log" 2>&1
[ $? -eq 1 ] || fail "Connect with no device set up did not fail"
grep -q "No device is set up" "$work/launch-none.log" || fail "no clear message for Connect with no device set up"
echo "no device set up: nothing started; Connect says: $(cat "$work/launch-none.log")"

# 2. "ConnectAtStartup" (the default): the engine opening starts vistrel -p<port> over ssh,
#    and its test-pattern frames reach that engine.
pc_settings "${DEVICE_OK[@]}"
mkdir -p "$work/frames"
VISTREL_KEY_STORE="$PC_STORE" spawn "$work/pc.log" "$BIN/vistrel-pc" -o "$work/frames"
PC_PID=$last
frameCount() { ls "$work/frames" | wc -l; }
atLeast() { [ "$(frameCount)" -ge "$1" ]; }
waitFor 15 atLeast 5 || fail "no frames from the device program started over ssh"
[ "$(device_pids | wc -l)" -eq 1 ] || fail "not one device program running: $(device_pids)"
DEVICE_PID=$(device_pids)
tr '\0' ' ' < "/proc/$DEVICE_PID/cmdline" | grep -q "^$BIN/vistrel -p$PC_PORT $" \
  || fail "device program command line: $(tr '\0' ' ' < "/proc/$DEVICE_PID/cmdline")"
[ "$(logins)" -eq 2 ] || fail "expected 2 ssh logins (settings, start), sshd saw $(logins)"
echo "ConnectAtStartup: vistrel -p$PC_PORT started over ssh, $(ls "$work/frames" | wc -l) frames reached the engine"

# 3. Connect, twice in quick succession: one launch, with the port plus 65536; the
#    running copy takes it over and keeps streaming.
VISTREL_KEY_STORE="$PC_STORE" timeout 20 "$BIN/vistrel-launch" --connect --times 2 > "$work/connect.log" 2>&1 \
  || fail "Connect did not start the device program"
grep -q "2 start requests, 1 launch" "$work/connect.log" || fail "two quick requests did not make one launch"
grep -q "started $BIN/vistrel -p$((PC_PORT + 65536)) on the device" "$work/connect.log" || fail "Connect's command line"
[ "$(logins)" -eq 4 ] || fail "two quick Connects made $(( $(logins) - 2 )) ssh logins, not 2"
BEFORE=$(ls "$work/frames" | wc -l)
waitFor 10 atLeast $((BEFORE + 5)) || fail "frames stopped after Connect"
[ "$(device_pids)" = "$DEVICE_PID" ] || fail "Connect left other than the one running device program"
echo "Connect: $(cat "$work/connect.log" | tr '\n' ' ')"
stopJob "$PC_PID"

# 4. What goes wrong where the user pressed Connect: a clear message, no hang.
connect_fails() {  # connect_fails NAME EXPECTED-TEXT LIMIT-SECONDS
  local start=$SECONDS
  VISTREL_KEY_STORE="$PC_STORE" timeout 30 "$BIN/vistrel-launch" --connect > "$work/$1.log" 2>&1
  local status=$? took=$((SECONDS - start))
  [ "$status" -eq 1 ] || fail "$1: ended with $status, not 1"
  grep -q "$2" "$work/$1.log" || fail "$1: no message \"$2\""
  [ "$took" -le "$3" ] || fail "$1: took $took s"
  echo "$1 ($took s): $(cat "$work/$1.log")"
}
pc_settings Host=127.0.0.1 "User=$USER_NAME" "Port=dword:$(printf %08x "$SSH_PORT")" \
  "IdentityFile=$work/other_key" "KnownHostsFile=$work/known_hosts"
connect_fails refused-key "refused the login" 8
CLOSED=$(freePort)
pc_settings Host=127.0.0.1 "Port=dword:$(printf %08x "$CLOSED")" "IdentityFile=$work/user_key" \
  "KnownHostsFile=$work/known_hosts"
connect_fails unreachable "did not answer" 8
# A host that accepts the connection and never says a word: the 4096 ms limit ends it.
python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(4)
print(s.getsockname()[1], flush=True)
time.sleep(60)' > "$work/silent.port" &
track $!
waitFor 5 test -s "$work/silent.port" || fail "no silent host"
pc_settings Host=127.0.0.1 "Port=dword:$(printf %08x "$(cat "$work/silent.port")")" "IdentityFile=$work/user_key" \
  "KnownHostsFile=$work/known_hosts"
connect_fails silent-host "did not answer" 7
pc_settings "${DEVICE_OK[@]}"
mkdir -p "$work/empty"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Security\\AppInstall\\Orvane Vistrel]\n"InstallDir"="%s"\n' \
  "$work/empty" > "$DEVICE_STORE"
connect_fails no-program "could not be started on the device" 8
grep -q "no such program" "$work/no-program.log" || fail "no-program: the reason is missing"
echo "PASS"
