# What the end-to-end scripts read of the device program's pictures and settings file.
# Sourced; needs python3.

# Prints the size (WxH) of every whole JPEG picture in folder $1 from file number $2 on
# (in name order), one line each; fails on a file that is not a whole JPEG picture.
# $3, when given, is the file name pattern (default: every file); $4 the number of files
# to read (default: all; a writer's newest file may be unfinished).
frame_sizes() {
  python3 - "$1" "$2" "${3:-*}" "${4:--1}" <<'PY'
import fnmatch, os, sys
d, first, pattern, count = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
names = sorted(n for n in os.listdir(d) if fnmatch.fnmatch(n, pattern))[first:]
for name in names if count < 0 else names[:count]:
    b = open(os.path.join(d, name), 'rb').read()
    assert b[:10] == bytes.fromhex('ffd8ffe000104a464946') and b[-2:] == b'\xff\xd9', name
    i = b.find(b'\xff\xc0')
    assert i > 0, name
    print(f"{int.from_bytes(b[i + 7:i + 9], 'big')}x{int.from_bytes(b[i + 5:i + 7], 'big')}")
PY
}

# Prints value $2 of the device program's Camera key in its settings file $1.
camera_value() {
  python3 - "$1" "$2" <<'PY'
import re, sys
text = open(sys.argv[1], encoding='utf-8-sig').read()
section = re.search(r'^\[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\Camera\]\n((?:".*\n)*)', text, re.M | re.I)
value = re.search(r'^"' + sys.argv[2] + r'"=dword:([0-9a-f]{8})$', section.group(1), re.M | re.I)
print(int(value.group(1), 16))
PY
}
