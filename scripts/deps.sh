#!/usr/bin/env bash
# Installs the Debian packages Nirvex needs to build, run and test, when any is missing;
# further package names given as arguments are installed too.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev
  fonts-ipafont-gothic
  xvfb xauth socat
  openssl libssl3
  iproute2 nftables
  openbox x11-utils xdotool wmctrl imagemagick
  fp-utils libchm-dev
  clang libclang-rt-14-dev
  dpkg-dev file
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null; then
  as_root=(sudo)
else
  echo "These packages are missing and this is not root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
