#!/usr/bin/env bash
# Makes the Debian package from the build with CPack and checks it without installing it: the
# files and their places under /usr, the Depends field, and, unpacked into a temporary root, the
# programs that the menu entry and the units start, and the programs answering from there.
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

timeout 240 "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" \
  >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
deb=$work/out/nirvex_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$work/out")"
pass

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/files"
for f in bin/nirvex bin/nirvex-host bin/nirvex-relay bin/Nirvex.chm share/nirvex/installed \
         share/applications/nirvex.desktop share/icons/hicolor/{16x16,24x24,32x32}/apps/nirvex.png \
         lib/systemd/system/nirvex-host.service lib/systemd/system/nirvex-relay@.service; do
  grep -qxF "/usr/$f" "$work/files" || fail "/usr/$f is not in the package"
done
outside=$(grep -v -e '^/usr$' -e '^/usr/' "$work/files" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
pass

depends=$(dpkg-deb -f "$deb" Depends)
for p in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6serialport6 libchm1 \
         fonts-ipafont-gothic qt6-qpa-plugins libssl3; do
  [[ ", $depends," == *", $p"[\ ,]* ]] || fail "Depends lacks $p: $depends"
done
pass

root=$work/root
dpkg-deb -x "$deb" "$root"

# The menu entry and each unit start a program of the package, the units by its path.
exec_line=$(grep -m1 '^Exec=' "$root/usr/share/applications/nirvex.desktop") || fail "no Exec line"
program=${exec_line#Exec=}
program=${program%% *}
program=$root/usr/bin/${program#/usr/bin/}
[ -x "$program" ] || fail "the menu entry starts ${exec_line#Exec=}, which is not in /usr/bin"
for unit in "$root"/usr/lib/systemd/system/*.service; do
  starts=$(grep '^ExecStart=' "$unit" | head -n1 | sed 's/^ExecStart=[-@+!:]*//; s/ .*//')
  [[ $starts == /usr/bin/* && -x $root$starts ]] ||
    fail "$(basename "$unit") starts $starts, which is not a program in the package's /usr/bin"
done
pass

# The packaged services answer from the unpacked root.
[ "$(timeout 10 "$root/usr/bin/nirvex-host" --version)" = "nirvex-host $version" ] ||
  fail "the packaged nirvex-host does not answer --version"
timeout 10 "$root/usr/bin/nirvex-relay" --help >/dev/null 2>&1 ||
  fail "the packaged nirvex-relay does not answer --help"
pass

# Started as the menu starts it, the packaged program runs as an installed copy: it is still
# running after a few seconds and keeps its profile in ~/.config/nirvex/.
home=$work/home
mkdir -p "$home"
status=0
env -u XDG_CONFIG_HOME HOME="$home" QT_QPA_PLATFORM=offscreen \
  timeout 5 "$program" >/dev/null 2>&1 || status=$?
[ $status -eq 124 ] || fail "the packaged nirvex ended with status $status within 5 s"
[ -f "$home/.config/nirvex/nirvex.INI" ] || fail "the packaged nirvex kept no profile in ~/.config"
pass
echo "package check: $passed passed, 0 failed"
