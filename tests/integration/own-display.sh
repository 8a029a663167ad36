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

exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
exec 3>&-
# The window manager first: the server forgets its resources when its last
# client leaves, and xrdb is a client that leaves at once.
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
"${wm[@]}" >"$work/openbox.log" 2>&1 &
pids+=($!)
wm_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
# A busy machine can take seconds; without it the resolution would be lost.
for _ in $(seq 400); do wm_up && break; sleep 0.05; done
wm_up || { echo "openbox did not start" >&2; cat "$work/openbox.log" >&2; exit 1; }
echo "Xft.dpi: $dpi" | xrdb -nocpp -merge
xrdb -query | grep -qx "Xft.dpi:[[:space:]]*$dpi" || { echo "the display did not keep Xft.dpi $dpi" >&2; exit 1; }
export QUORVEL_TEST_DPI=$dpi
"$@"
