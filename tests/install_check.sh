#!/usr/bin/env bash
# Installs the build into a temporary prefix and starts the installed program as a user who cannot
# write there: the help file must sit beside it and the profile must land in ~/.config/nirvex/.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*"; exit 1; }
for f in bin/nirvex bin/nirvex-host bin/Nirvex.chm share/applications/nirvex.desktop \
         share/icons/hicolor/16x16/apps/nirvex.png share/icons/hicolor/24x24/apps/nirvex.png \
         share/icons/hicolor/32x32/apps/nirvex.png; do
  [ -f "$prefix/$f" ] || fail "$f was not installed"
done

home=$work/home
mkdir -p "$home"
run=()
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1; then
  chown nobody "$home"
  chmod 755 "$work" "$prefix" "$prefix/bin"
  run=(runuser -u nobody --)
else
  chmod 555 "$prefix/bin"
fi
"${run[@]}" env -u XDG_CONFIG_HOME HOME="$home" QT_QPA_PLATFORM=offscreen \
  timeout 5 "$prefix/bin/nirvex" >/dev/null 2>&1 || true

[ -f "$home/.config/nirvex/nirvex.INI" ] || fail "no profile in ~/.config/nirvex"
[ ! -e "$prefix/bin/nirvex.INI" ] || fail "a profile was written into the install folder"
echo "install check: 2 passed, 0 failed"
