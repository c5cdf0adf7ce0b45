#!/usr/bin/env bash
# End to end: vistrel, headless, with the test-pattern camera and the target "FTP" keeps a
# picture on a real vsftpd on loopback. Three successive pictures arrive under the fixed
# name, each a whole JPEG whose stamp (frame number and time, read back from the picture)
# advances; one control connection carries them all.
# Usage: ftp_upload_e2e.sh VISTREL
VISTREL=$1
. "$(dirname "$0")/lib/session.sh" ftp-e2e

[ -x /usr/sbin/vsftpd ] || fail "vsftpd is not installed (/usr/sbin/vsftpd)"
command -v djpeg > /dev/null || fail "djpeg is not installed (libjpeg-turbo-progs)"
[ -e "$(dirname "$VISTREL")/framesink.so" ] || fail "vistrel was built without framesink (no test-pattern camera)"

PORT=$(freePort)
mkdir -p "$work/root" "$work/empty"
cat > "$work/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$PORT
run_as_launching_user=YES
anonymous_enable=YES
local_enable=NO
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_umask=022
anon_root=$work/root
secure_chroot_dir=$work/empty
ftp_username=$(id -un)
connect_from_port_20=NO
log_ftp_protocol=YES
xferlog_enable=YES
vsftpd_log_file=$work/vsftpd.log
seccomp_sandbox=NO
background=NO
CONF
# A process group of its own, so that the processes it starts per connection end with it.
spawn "$work/vsftpd-out.log" setsid /usr/sbin/vsftpd "$work/vsftpd.conf"
atExit kill -KILL -- "-$last"
waitFor 10 python3 -c "import socket,sys; s=socket.create_connection(('127.0.0.1',$PORT),1); sys.exit(0 if s.recv(3)==b'220' else 1)" ||
  fail "vsftpd did not start on port $PORT"

printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\r\n"Mode"="FTP"\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\FTP]\r\n"Server"="127.0.0.1"\r\n"Port"=dword:%08x\r\n"Password"="e2e@"\r\n"Directory"="cam"\r\n"Interval"=dword:00000001\r\n"UseTempFile"=dword:00000001\r\n' "$PORT" > "$work/device.reg"
VISTREL_FRAMESINK_DEVICE=test-pattern VISTREL_KEY_STORE="$work/device.reg" \
  spawn "$work/vistrel.log" "$VISTREL" </dev/null
DEV_PID=$last

# Watches the remote file; every new content must be a whole JPEG with a later stamp.
python3 - "$work/root/cam/webcam.jpg" <<'PY' || fail "three advancing pictures did not arrive"
import subprocess, sys, time
path = sys.argv[1]

def stamp(jpeg):
    pgm = subprocess.run(["djpeg", "-grayscale", "-pnm"], input=jpeg, capture_output=True, check=True).stdout
    parts = pgm.split(maxsplit=4)
    w, h = int(parts[1]), int(parts[2])
    luma = parts[4]
    cw, ch = w // 16, h // 24
    rows = []
    for r in range(5):
        v = 0
        for c in range(16):
            cx, cy, dx, dy = c * cw + cw // 2, r * ch + ch // 2, cw // 4, ch // 4
            s = sum(luma[y * w + x] for x, y in ((cx, cy), (cx - dx, cy), (cx + dx, cy), (cx, cy - dy), (cx, cy + dy)))
            v = v << 1 | (1 if s > 5 * 125 else 0)
        rows.append(v)
    frame, ms = rows[0] << 16 | rows[1], rows[2] << 16 | rows[3]
    assert rows[4] == (frame ^ ms ^ 0x5A5A) & 0xFFFF, "stamp check bits do not match"
    return frame, ms

seen, last = [], None
end = time.time() + 40
while time.time() < end and len(seen) < 3:
    try:
        b = open(path, "rb").read()
    except OSError:
        time.sleep(0.05)
        continue
    if b != last:
        assert b[:2] == b"\xff\xd8" and b[-2:] == b"\xff\xd9", "not a whole JPEG under the final name"
        s = stamp(b)
        assert not seen or (s[0] > seen[-1][0] and s[1] > seen[-1][1]), ("stamp did not advance", seen, s)
        seen.append(s)
        last = b
        print("picture %d: frame %d at %d ms, %d bytes" % (len(seen), s[0], s[1], len(b)))
    time.sleep(0.05)
sys.exit(0 if len(seen) >= 3 else 1)
PY

stopJob "$DEV_PID" || fail "vistrel did not end cleanly"
DEV_PID=""
LOGINS=$(grep -c '"USER anonymous"' "$work/vsftpd.log")
[ "$LOGINS" -eq 1 ] || fail "expected one log-in for all pictures, saw $LOGINS"
grep -q '"RNTO webcam.jpg"' "$work/vsftpd.log" || fail "no rename of wcp.tmp to webcam.jpg"
grep -q 'Error' "$work/vistrel.log" && fail "vistrel reported an error"
grep -q '"Mode"="FTP"' "$work/device.reg" || fail "the target was not saved"
echo "PASS"
