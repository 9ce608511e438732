#!/usr/bin/env bash
# Runs the nirvex program (build folder $1) under Xvfb with the openbox window manager, closing
# every window the way its title bar's close box does:
# - the splash is mapped and painted before the main window maps;
# - the main and connection list windows come back run after run with the stored place and outer
#   size, and their stored values do not change when the user neither moves nor resizes;
# - a main window closed maximised stores that frame and comes back as a normal window of it.
set -euo pipefail
exe=$1/nirvex
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null && kill -CONT "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() {
  echo "FAIL: $*" >&2
  [ -s "$work/log" ] && tail -20 "$work/log" >&2
  exit 1
}
failed=0
# Compares what was seen ($2) with what was expected ($3) and goes on either way.
expect() {
  [ "$2" = "$3" ] && return
  echo "FAIL: $1: $2, expected $3" >&2
  failed=1
}
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb
mkdir -m 700 -p "$HOME" "$XDG_RUNTIME_DIR" "$work/run"

# Bounded wait: polls the command every 0.1 s for at most $1 seconds.
until_true() {
  local tries=$(($1 * 10))
  shift
  while ((tries-- > 0)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
pids+=($!)
until_true 20 grep -q '[0-9]' "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(tr -dc 0-9 <"$work/display")
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
until_true 20 wmctrl -m >/dev/null 2>&1 || fail "openbox did not start"

cp "$exe" "$work/run/nirvex"
ini=$work/run/nirvex.INI

# The first viewable window of process $1 titled $2 that is not the splash, if any.
window_of() {
  local w type
  for w in $(xdotool search --all --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null); do
    type=$(xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null) || continue # gone meanwhile
    [[ $type == *SPLASH* ]] || { echo "$w"; return; }
  done
}
has_window() { [ -n "$(window_of "$@")" ]; }

# Outer (frame) place and size of window $1 in pixels: "left top width height".
outer() {
  local l=0 r=0 t=0 b=0 x y w h
  read -r l r t b < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ,) || true
  read -r x y w h < <(xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $4}
    /Absolute upper-left Y/ {y = $4} /^ +Width:/ {w = $2} /^ +Height:/ {h = $2}
    END {print x, y, w, h}')
  echo "$((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))"
}

# Waits until window $1 keeps one outer geometry for half a second and prints it.
settled() {
  local last="" now same=0 tries=100
  while ((tries-- > 0)); do
    now=$(outer "$1")
    if [ "$now" = "$last" ]; then
      ((++same >= 5)) && break
    else
      same=0
      last=$now
    fi
    sleep 0.1
  done
  echo "$last"
}

# The stored geometry of the window whose keys start with $1, in pixels (15 twips each).
stored() {
  local k v out=""
  for k in Left Top Width Height; do
    v=$(sed -n "s/^$1$k=//p" "$ini" | tr -d '\r')
    [[ $v =~ ^-?[0-9]+$ ]] || fail "$1$k is stored as '$v', not in plain decimal twips"
    out+="$((v / 15)) "
  done
  echo "${out% }"
}

start() {
  "$work/run/nirvex" >>"$work/log" 2>&1 &
  pid=$!
  pids+=("$pid")
  until_true 60 has_window "$pid" Nirvex || fail "no main window"
  main=$(window_of "$pid" Nirvex)
}

# Asks the window manager to close window $1, as the close box does.
close_window() {
  wmctrl -i -c "$1"
}

# True once process $1 has ended (a zombie until waited for).
ended() {
  local state
  state=$(ps -o stat= -p "$1") || return 0
  [[ $state == Z* ]]
}

stop() {
  close_window "$main"
  until_true 60 ended "$pid" || fail "nirvex did not end on a close request"
  wait "$pid" || fail "nirvex ended with a failure"
}

seed() {
  printf '[Ports]\nCOM1=%s/no-device\n[Settings]\n' "$work" >"$ini"
  printf '%s\n' "$@" >>"$ini"
}

# First run without a profile: the window holds its whole design layout, a client area of
# 706 x 470 px under the menu bar (the destination frame ends at 689 px, the status bar at 470).
rm -f "$ini"
start
settled "$main" >/dev/null
read -r inner_w inner_h < <(xwininfo -id "$main" | awk '/^ +Width:/ {w = $2} /^ +Height:/ {h = $2}
  END {print w, h}')
((inner_w >= 706 && inner_h >= 470)) || expect "first window's inside" "$inner_w x $inner_h" ">= 706 x 470"
first=$(settled "$main")
stop
echo "first run: on screen $first, stored $(stored Main) (px)"
expect "first window stored" "$(stored Main)" "$first"
expect "first window's place" "$(cut -d' ' -f1-2 <<<"$first")" "67 67"

# Main window: five runs closed without moving or resizing.
seed MainLeft=1500 MainTop=1200 MainWidth=9000 MainHeight=7500
for run in 1 2 3 4 5; do
  start
  shown=$(settled "$main")
  stop
  echo "main run $run: on screen $shown, stored $(stored Main) (px)"
  expect "main window on screen, run $run" "$shown" "100 80 600 500"
  expect "main window stored, run $run" "$(stored Main)" "100 80 600 500"
done

# Maximised at close: the next start shows a normal window with that outer frame.
start
settled "$main" >/dev/null
wmctrl -i -r "$main" -b add,maximized_vert,maximized_horz
until_true 10 eval 'xprop -id "$main" _NET_WM_STATE | grep -q MAXIMIZED_HORZ' ||
  fail "the window manager did not maximise"
maximised=$(settled "$main")
stop
expect "main window closed maximised, stored" "$(stored Main)" "$maximised"
for run in 1 2; do
  start
  shown=$(settled "$main")
  state=$(xprop -id "$main" _NET_WM_STATE)
  expect "maximised after a maximised close, run $run" "$(grep -c MAXIMIZED <<<"$state")" 0
  stop
  echo "after maximised close, run $run: on screen $shown, stored $(stored Main) (px)"
  expect "on screen after a maximised close, run $run" "$shown" "$maximised"
  expect "stored after a maximised close, run $run" "$(stored Main)" "$maximised"
done

# Connection list window: shown with F8 once a client connection stands, closed by its close box.
# The source port is one end of a pseudo-terminal pair; the peer takes the connection and reads.
socat -d -d pty,raw,echo=0 pty,raw,echo=0 2>"$work/pty.log" &
pids+=($!)
socat -u -d -d TCP-LISTEN:0,bind=127.0.0.1,fork OPEN:/dev/null 2>"$work/socat.log" &
pids+=($!)
until_true 20 grep -q 'PTY is' "$work/pty.log" || fail "socat made no pseudo-terminal"
until_true 20 grep -q 'listening on' "$work/socat.log" || fail "socat did not listen"
tty=$(sed -n 's/.*PTY is //p' "$work/pty.log" | head -n 1)
port=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/socat.log" | head -n 1)
seed MainLeft=1500 MainTop=1200 MainWidth=9000 MainHeight=7500 \
  ListLeft=4500 ListTop=3000 ListWidth=6000 ListHeight=4500 \
  シリアルポート=1 DestType=3 DestMode=2 Server0=127.0.0.1 ServerPort="$port"
sed -i "s|^COM1=.*|COM1=$tty|" "$ini"
for run in 1 2 3 4 5; do
  start
  settled "$main" >/dev/null
  # The run button, 3600 twips right and 720 below the top of the area under the menu bar.
  xdotool mousemove --window "$main" 272 95 click 1
  list=""
  for attempt in 1 2 3 4 5; do
    timeout 5 xdotool windowactivate --sync "$main" key F8 2>/dev/null || true
    until_true 3 has_window "$pid" 接続一覧 && break
  done
  list=$(window_of "$pid" 接続一覧)
  [ -n "$list" ] || fail "F8 did not show the connection list"
  shown=$(settled "$list")
  close_window "$list"
  until_true 10 eval '! has_window "$pid" 接続一覧' || fail "the list did not close"
  stop
  echo "list run $run: on screen $shown, stored $(stored List) (px)"
  expect "list window on screen, run $run" "$shown" "300 200 400 300"
  expect "list window stored, run $run" "$(stored List)" "300 200 400 300"
done

# Splash: mapped and painted before the main window maps. The program starts stopped and runs in
# slices of about 10 ms (SIGCONT, SIGSTOP); between slices its windows are looked at, so that a
# fast load cannot hide the splash.
seed MainLeft=1500 MainTop=1200 MainWidth=9000 MainHeight=7500
(
  kill -STOP "$BASHPID"
  exec "$work/run/nirvex"
) >>"$work/log" 2>&1 &
pid=$!
pids+=("$pid")
until_true 10 eval '[[ $(ps -o stat= -p "$pid") == T* ]]' || fail "the program did not stop"
painted=0
for ((i = 0; i < 3000; i++)); do
  kill -CONT "$pid"
  sleep 0.01
  kill -STOP "$pid"
  main=""
  for w in $(xdotool search --all --onlyvisible --pid "$pid" --name '^Nirvex$' 2>/dev/null); do
    type=$(xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null) || continue
    if [[ $type != *SPLASH* ]]; then
      main=$w
    elif ((!painted)); then
      colours=$(import -silent -window "$w" png:- 2>/dev/null | identify -format %k -) ||
        colours=0
      ((colours < 16)) || painted=1
    fi
  done
  if ((painted)) || [ -n "$main" ]; then
    break
  fi
done
kill -CONT "$pid"
until_true 60 has_window "$pid" Nirvex || fail "no main window after the splash"
main=$(window_of "$pid" Nirvex)
((painted)) || fail "the splash was not on screen painted before the main window mapped"
stop
((failed == 0)) || exit 1
echo "PASS"
