#!/usr/bin/env bash
# Installs the build into a temporary prefix, where the service units must start the programs
# installed with them, and starts the installed program as a user who cannot write there and, when
# this runs as root, as root: the help file must sit beside it and the profile must land in
# ~/.config/nirvex/, never in the install folder. A profile left beside the program by an earlier
# version is copied to ~/.config/nirvex/ byte for byte and left in place.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

passed=0
fail() { echo "FAIL: $*"; exit 1; }
pass() { passed=$((passed + 1)); }
for f in bin/nirvex bin/nirvex-host bin/Nirvex.chm share/applications/nirvex.desktop \
         share/icons/hicolor/16x16/apps/nirvex.png share/icons/hicolor/24x24/apps/nirvex.png \
         share/icons/hicolor/32x32/apps/nirvex.png share/nirvex/installed \
         bin/nirvex-relay lib/systemd/system/nirvex-host.service \
         lib/systemd/system/nirvex-relay@.service; do
  [ -f "$prefix/$f" ] || fail "$f was not installed"
done
for program in nirvex-host nirvex-relay; do
  grep -q "^ExecStart=$prefix/bin/$program " "$prefix"/lib/systemd/system/$program*.service ||
    fail "the installed unit does not start the installed $program"
done
pass

# Runs the installed program with the home folder $1, as the user that the rest names.
start() {
  local home=$1
  shift
  mkdir -p "$home"
  [ $# -eq 0 ] || chown nobody "$home"
  "$@" env -u XDG_CONFIG_HOME HOME="$home" QT_QPA_PLATFORM=offscreen \
    timeout 5 "$prefix/bin/nirvex" >/dev/null 2>&1 || true
}
user=()
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1; then
  chmod 755 "$work" "$prefix" "$prefix/bin"
  user=(runuser -u nobody --)
else
  chmod 555 "$prefix/bin"
fi

start "$work/user" "${user[@]}"
[ -f "$work/user/.config/nirvex/nirvex.INI" ] || fail "no profile in ~/.config/nirvex"
[ ! -e "$prefix/bin/nirvex.INI" ] || fail "a profile was written into the install folder"
pass

if [ "$(id -u)" -eq 0 ]; then
  start "$work/root"
  [ -f "$work/root/.config/nirvex/nirvex.INI" ] || fail "no profile in root's ~/.config/nirvex"
  [ ! -e "$prefix/bin/nirvex.INI" ] || fail "root wrote a profile into the install folder"
  pass
fi

# An earlier version's profile beside the program, in Shift-JIS with CR LF line ends.
chmod u+w "$prefix/bin"
printf '[Settings]\r\ntxtID=Old\r\n[Memo]\r\n\x83\x81\x83\x82=\x93\xfa\x96\x7b\r\n' \
  >"$prefix/bin/nirvex.INI"
cp "$prefix/bin/nirvex.INI" "$work/earlier.INI"
[ ${#user[@]} -gt 0 ] || chmod 555 "$prefix/bin"
start "$work/moved" "${user[@]}"
moved=$work/moved/.config/nirvex/nirvex.INI
[ -f "$moved" ] || fail "the earlier profile was not copied to ~/.config/nirvex"
LC_ALL=C grep -q $'^txtID=Old\r$' "$moved" || fail "the copied profile lost the earlier settings"
LC_ALL=C grep -q $'^\x83\x81\x83\x82=\x93\xfa\x96\x7b\r$' "$moved" || fail "the copy changed the earlier bytes"
cmp -s "$prefix/bin/nirvex.INI" "$work/earlier.INI" || fail "the earlier profile was changed"
pass
echo "install check: $passed passed, 0 failed"
