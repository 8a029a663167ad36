#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command on a virtual X server of its own, with a window manager and
# the resolution given (Xft.dpi, as desktops set it), so tests can see the
# window at 144 or 192 dpi without touching the shared test display.
# --no-frames: the window manager draws no frame round any window (and says
# so, with four zeros, when asked for its frame).
#
#   own-display.sh [--dpi N] [--screen WxH] [--no-frames] -- COMMAND [ARGS...]
set -u
dpi=96 screen=1280x1024 frames=1
while [ $# -gt 0 ]; do
  case $1 in
    --dpi) dpi=$2; shift 2 ;;
    --screen) screen=$2; shift 2 ;;
    --no-frames) frames=0; shift ;;
    --) shift; break ;;
    *) echo "usage: $0 [--dpi N] [--screen WxH] [--no-frames] -- COMMAND..." >&2; exit 2 ;;
  esac
done
command -v Xvfb >/dev/null && command -v openbox >/dev/null && command -v xrdb >/dev/null || {
  echo "SKIP: Xvfb, openbox or xrdb missing" >&2; exit 77; }

work=$(mktemp -d /tmp/quorvel-display.XXXXXX)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# The window manager's rc file, when it is to draw no frames.
wm=(openbox)
if [ "$frames" = 0 ]; then
  cat >"$work/rc.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><keepBorder>no</keepBorder></theme>
  <applications><application class="*"><decor>no</decor></application></applications>
</openbox_config>
XML
  wm+=(--config-file "$work/rc.xml")
fi
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# One try at a server and its window manager; the caller ends what a failed
# try left running.
start_display() {
  : >"$work/display"
  exec 3<> "$work/display"
  # -noreset: a server made with -displayfd, when it has had to skip numbers
  # in use, refused the window manager as its first client now and then
  # (8 starts in 650 with two other servers up; none in 550 with -noreset).
  Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  local xvfb=$! _
  for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
  exec 3>&-
  [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
  # The window manager first: the server forgets its resources when its last
  # client leaves, and xrdb is a client that leaves at once.
  "${wm[@]}" >"$work/openbox.log" 2>&1 &
  pids+=($!)
  local wm_pid=$!
  # A busy machine can take seconds; without it the resolution would be lost.
  for _ in $(seq 400); do
    wm_up && return 0
    # Gone already (it could not open the display): no use waiting on.
    kill -0 "$wm_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "openbox did not start on $DISPLAY (Xvfb $(kill -0 "$xvfb" 2>/dev/null && echo running || echo gone))" >&2
  return 1
}

# Should a window manager still fail on a fresh server, a new server is
# cheap and a failed test run is not.
for try in 1 2 3; do
  start_display && break
  cat "$work/xvfb.log" "$work/openbox.log" >&2
  [ "$try" = 3 ] && exit 1
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  pids=()
done
echo "Xft.dpi: $dpi" | xrdb -nocpp -merge
xrdb -query | grep -qx "Xft.dpi:[[:space:]]*$dpi" || { echo "the display did not keep Xft.dpi $dpi" >&2; exit 1; }
export QUORVEL_TEST_DPI=$dpi
"$@"
