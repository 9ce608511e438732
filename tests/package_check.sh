#!/usr/bin/env bash
# Makes the Debian package from the build with CPack and checks it without installing it: the
# files and their places under /usr, the Depends field, and, unpacked into a temporary root, the
# menu entry's program, the units' programs and the services answering from there.
# Arguments: the build folder, the cpack program, the version the package must carry.
set -euo pipefail
build=$1
cpack=$2
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
fail() { echo "FAIL: $*"; exit 1; }
pass() { passed=$((passed + 1)); }

timeout 240 "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
deb=$work/out/nirvex_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$work/out")"
pass

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/files"
for f in /usr/bin/nirvex /usr/bin/nirvex-host /usr/bin/nirvex-relay /usr/bin/Nirvex.chm \
         /usr/share/nirvex/installed /usr/share/applications/nirvex.desktop \
         /usr/share/icons/hicolor/16x16/apps/nirvex.png /usr/share/icons/hicolor/24x24/apps/nirvex.png \
         /usr/share/icons/hicolor/32x32/apps/nirvex.png \
         /usr/lib/systemd/system/nirvex-host.service /usr/lib/systemd/system/nirvex-relay@.service; do
  grep -qxF "$f" "$work/files" || fail "$f is not in the package"
done
outside=$(grep -v -e '^/usr$' -e '^/usr/' "$work/files" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
pass

[ "$(dpkg-deb -f "$deb" Package)" = nirvex ] || fail "the package is not named nirvex"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6serialport6 libchm1 \
         fonts-ipafont-gothic qt6-qpa-plugins; do
  [[ ", $depends," == *", $p"[\ ,]* ]] || fail "Depends lacks $p: $depends"
done
pass

root=$work/root
dpkg-deb -x "$deb" "$root"

# The menu entry names a program and an icon of the package.
entry=$root/usr/share/applications/nirvex.desktop
exec_line=$(grep -m1 '^Exec=' "$entry") || fail "the menu entry has no Exec line"
program=${exec_line#Exec=}
program=${program%% *}
program=$root/usr/bin/${program#/usr/bin/}
[ -x "$program" ] || fail "the menu entry starts ${exec_line#Exec=}, which is not in /usr/bin"
icon=$(grep -m1 '^Icon=' "$entry" | cut -d= -f2)
[ -f "$root/usr/share/icons/hicolor/32x32/apps/$icon.png" ] || fail "the menu entry's icon $icon is missing"
pass

# Each unit starts a program of the package, by its path under /usr.
for unit in "$root"/usr/lib/systemd/system/*.service; do
  starts=$(grep '^ExecStart=' "$unit" | head -n1 | sed 's/^ExecStart=[-@+!:]*//; s/ .*//')
  [[ $starts == /usr/bin/* ]] || fail "$(basename "$unit") starts $starts, not a program in /usr/bin"
  [ -x "$root$starts" ] || fail "$(basename "$unit") starts $starts, which the package lacks"
done
pass

# The packaged services answer from the unpacked root.
[ "$(timeout 10 "$root/usr/bin/nirvex-host" --version)" = "nirvex-host $version" ] ||
  fail "the packaged nirvex-host does not answer --version"
timeout 10 "$root/usr/bin/nirvex-relay" --help >"$work/relay-help" 2>&1 ||
  fail "the packaged nirvex-relay does not answer --help"
pass

# Started as the menu starts it, the packaged program runs as an installed copy: it is still
# running after a few seconds and keeps its profile in ~/.config/nirvex/.
home=$work/home
mkdir -p "$home"
status=0
env -u XDG_CONFIG_HOME HOME="$home" QT_QPA_PLATFORM=offscreen timeout 5 "$program" >/dev/null 2>&1 || status=$?
[ $status -eq 124 ] || fail "the packaged nirvex ended with status $status within 5 s"
[ -f "$home/.config/nirvex/nirvex.INI" ] || fail "the packaged nirvex kept no profile in ~/.config/nirvex"
[ ! -e "$root/usr/bin/nirvex.INI" ] || fail "the packaged nirvex wrote a profile beside itself"
pass
echo "package check: $passed passed, 0 failed"
