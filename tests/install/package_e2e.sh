#!/usr/bin/env bash
# The Debian package made from the build folder (cpack -G DEB):
#   1. its control fields (name, version, maintainer, description, shared-library
#      dependencies) and maintainer scripts that enable nothing;
#   2. its file list equals the install manifest of `cmake --install` to /usr;
#   3. lintian finds no errors (its warnings are printed);
#   4. its units pass `systemd-analyze verify` in the unpacked tree;
#   5. dpkg installs it into a scratch root and removes it again: every file goes, the
#      settings file stays.
# Arguments: the build folder.
build=$(realpath "$1")
. "$(dirname "$0")/../lib/session.sh" package-e2e
need cpack dpkg-deb dpkg-shlibdeps dpkg

# 1. The package and its control fields.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 || fail "cpack failed"
deb=$(ls "$work"/pkg/vistrel_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack made no vistrel_*.deb"
version=$(sed -n 's/^ *VERSION \([0-9.]*\).*/\1/p' "$build/CMakeCache.txt" | head -1)
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vistrel ] || fail "package name $(field Package)"
[[ "$(field Version)" =~ ^[0-9]+\.[0-9]+(\.[0-9]+)?-1$ ]] || fail "version $(field Version)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@]+@[^\>]+\>$ ]] || fail "maintainer $(field Maintainer)"
[ -n "$(field Description | sed -n 2p)" ] || fail "no long description"
depends=$(field Depends)
for lib in libc6 libstdc++6 libjpeg62-turbo; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib (shlibdeps): $depends"
done
dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
  [ -x "$work/control/$script" ] || fail "$script missing"
  grep -v '^ *#' "$work/control/$script" | grep -Eq 'systemctl[^|]* (enable|start|restart)' \
    && fail "$script enables or starts units"
done
[ ! -e "$work/control/preinst" ] && [ ! -e "$work/control/prerm" ] || fail "maintainer scripts that are not needed"
echo "ok: $(basename "$deb"): Depends: $depends [${SECONDS}s]"

# 2. The file list against the install manifest.
DESTDIR="$work/dest" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 || fail "cmake --install failed"
sed "s|^$work/dest||" "$build/install_manifest.txt" | sort >"$work/manifest"
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|' | sort >"$work/contents"
diff -u "$work/manifest" "$work/contents" >"$work/list-diff.log" || fail "package and manifest differ"
echo "ok: the package holds the $(wc -l <"$work/contents") files of the install manifest [${SECONDS}s]"

# 3. lintian.
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
  grep -q '^E: ' "$work/lintian.log" && fail "lintian reports errors"
  echo "ok: lintian reports no errors; its warnings and notes:"
  sed 's/^/    /' "$work/lintian.log"
else
  echo "note: lintian is not installed; the package was not checked by it"
fi

# 4. The units as systemd reads them, in the unpacked tree.
dpkg-deb -x "$deb" "$work/root"
units=$(cd "$work/root" && find usr/lib/systemd -name '*.service' | sort)
[ -n "$units" ] || fail "no units in the package"
if command -v systemd-analyze >/dev/null; then
  # verify checks that ExecStart= names an executable: a copy of each unit points into the
  # unpacked tree. Manual pages are checked elsewhere (--man=no).
  mkdir -p "$work/units" "$work/run" && chmod 700 "$work/run"
  for unit in $units; do
    copy="$work/units/$(basename "$unit")"
    sed "s|^ExecStart=/|ExecStart=$work/root/|" "$work/root/$unit" >"$copy"
    grep -q "^ExecStart=$work/root/usr/bin/" "$copy" || fail "$unit does not run a program in /usr/bin"
    mode=--system
    [[ "$unit" == */user/* ]] && mode=--user
    XDG_RUNTIME_DIR="$work/run" systemd-analyze "$mode" verify --man=no "$copy" >"$work/verify.log" 2>&1 \
      || fail "systemd-analyze $mode verify $unit"
    grep -q "$(basename "$unit")" "$work/verify.log" && fail "systemd-analyze complains about $unit"
  done
  echo "ok: systemd-analyze verify accepts $(echo $units) [${SECONDS}s]"
else
  echo "note: systemd-analyze is not installed; the units were not verified"
fi

# 5. Installed into a scratch root with dpkg and removed again.
scratch="$work/scratch"
mkdir -p "$scratch/var/lib/dpkg/info" "$scratch/var/lib/dpkg/updates" "$scratch/var/lib/vistrel"
touch "$scratch/var/lib/dpkg/status"
dpkg=(dpkg --root="$scratch" --force-script-chrootless --force-depends --force-not-root
      --log=/dev/null)
"${dpkg[@]}" -i "$deb" >"$work/dpkg-install.log" 2>&1 || fail "dpkg -i into a scratch root failed"
[ -x "$scratch/usr/bin/vistrel" ] || fail "dpkg -i left no /usr/bin/vistrel"
echo '"Port"=dword:000007ff' >"$scratch/var/lib/vistrel/registry.reg"
"${dpkg[@]}" --purge vistrel >"$work/dpkg-purge.log" 2>&1 || fail "dpkg --purge failed"
left=$(cd "$scratch" && while read -r f; do [ -e ".$f" ] && echo "$f"; done <"$work/contents")
[ -z "$left" ] || fail "files left after removal: $left"
[ -s "$scratch/var/lib/vistrel/registry.reg" ] || fail "removal took the settings file"
echo "ok: dpkg installs and purges the package cleanly; the settings file stays [${SECONDS}s]"
echo "all package checks passed"
