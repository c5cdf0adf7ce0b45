# The camera host's settings for its end-to-end scripts. Sourced after tests/lib/session.sh.

# cameraSettings WIDTH HEIGHT : the key store with the port ($port) and the output size.
cameraSettings() {
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel]\n"Port"=dword:%08x\n\n[HKEY_LOCAL_MACHINE\\Software\\Orvane\\Vistrel\\vistrel-camera]\n"Width"=dword:%08x\n"Height"=dword:%08x\n' \
    "$port" "$1" "$2" >"$VISTREL_KEY_STORE"
}
