#!/usr/bin/env bash
# Installs what is missing, builds and starts Nirvex. Without a display it runs on a virtual
# one (Xvfb) and saves a screenshot of it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
exe=${NIRVEX_BUILD:-build}/nirvex

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$exe"
fi

mkdir -p screenshots
shot=$PWD/screenshots/nirvex.png
echo "No display found: running Nirvex on a virtual display (Xvfb)."
echo "A screenshot of the window will be saved to $shot. Press Ctrl+C to stop."
export NIRVEX_SCREENSHOT=$shot
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
exec xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" "$exe"
