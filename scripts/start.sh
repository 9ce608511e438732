#!/usr/bin/env bash
# Installs what is missing, builds and starts Nirvex. Without a display it runs on a virtual
# one (Xvfb) and saves a screenshot of it; Ctrl+C, or SIGTERM or SIGHUP to this script, closes
# Nirvex the way its close box does (so its settings are stored) before Xvfb stops.
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

work=$(mktemp -d)
xvfb='' nirvex='' stopping=''
stop_xvfb() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
  rm -rf "$work"
}
on_signal() {
  stopping=1
  if [ -n "$nirvex" ]; then
    kill -TERM "$nirvex" 2>/dev/null || true
  fi
}
trap on_signal INT TERM HUP

# Xvfb writes the number of the display it took to the descriptor given with -displayfd. It runs
# in a session of its own, so that the Ctrl+C of the terminal does not end it before Nirvex.
setsid Xvfb -displayfd 3 -screen 0 1280x800x24 -dpi 96 -nolisten tcp \
  3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 300); do
  if [ -s "$work/display" ] || [ -n "$stopping" ] || ! kill -0 "$xvfb" 2>/dev/null; then
    break
  fi
  sleep 0.1
done
if [ -n "$stopping" ] || [ ! -s "$work/display" ]; then
  [ -n "$stopping" ] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; }
  stop_xvfb
  exit 1
fi

DISPLAY=:$(head -n 1 "$work/display") "$exe" &
nirvex=$!
# A trapped signal ends wait early: wait again until Nirvex has ended, then take its status.
while kill -0 "$nirvex" 2>/dev/null; do
  wait "$nirvex" || true
done
status=0
wait "$nirvex" || status=$?
stop_xvfb
exit "$status"
