#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A headless GNOME Shell session (Wayland, with Xwayland) of its own, in
# private PID, mount and network namespaces: its own /tmp, system bus,
# session bus and accessibility bus. Everything started here ends with the
# namespace, also when the test fails or is killed; the machine is not
# changed. An ordinary user gets the namespaces through a user namespace of
# their own.
#
#   gnome-session.sh WIDTHxHEIGHT PROGRAM COMMAND [ARGS...]
#     installs PROGRAM as `quorvel` with its launcher and icon for the
#     session, then runs COMMAND inside it with DISPLAY (Xwayland),
#     WAYLAND_DISPLAY and the session bus set; its exit code is the result.
set -u
# The daemons and printer tools live in /usr/sbin, which an ordinary user's
# PATH leaves out.
PATH=$PATH:/usr/sbin:/sbin
if [ "${1:-}" != --inside ]; then
  for tool in gnome-shell Xwayland dbus-daemon unshare; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool missing" >&2; exit 77; }
  done
  userns=()
  [ "$(id -u)" = 0 ] || userns=(--map-current-user --keep-caps)
  unshare "${userns[@]}" --mount --pid --net --fork true 2>/dev/null || { echo "SKIP: no private namespaces here" >&2; exit 77; }
  exec unshare "${userns[@]}" --mount --pid --net --fork --kill-child --mount-proc "$0" --inside "$@"
fi
shift
size=$1 program=$(realpath "$2")
shift 2

# PID 1 of the namespace: when it ends, the kernel ends every other process in it.
# A /tmp of its own, so Xwayland's sockets and lock files meet no one else's;
# the program and these scripts stay reachable where they were, also when
# they live below /tmp themselves.
root=$(cd "$(dirname "$0")/../.." && pwd)
exec 9</tmp
mount -t tmpfs -o mode=1777 tmpfs /tmp || exit 1
for keep in "$root" "$(dirname "$program")"; do
  case $keep in
    /tmp/*) mkdir -p "$keep" && mount --no-canonicalize --bind "/proc/self/fd/9${keep#/tmp}" "$keep" || exit 1 ;;
  esac
done
exec 9<&-
mkdir -m 1777 /tmp/.X11-unix
ip link set lo up 2>/dev/null
work=/tmp/session
mkdir -p "$work"/{bin,run,home,config,cache,data/applications,data/icons/hicolor/scalable/apps}
chmod 700 "$work/run"
# The cache too: Mesa finds the home folder from the user database, not
# $HOME, and would keep the shell's shader cache in the real one.
export XDG_RUNTIME_DIR=$work/run HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
export XDG_DATA_HOME=$work/data XDG_DATA_DIRS=$work/data:/usr/local/share:/usr/share
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_DESKTOP=gnome
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS GDK_BACKEND
# The program, its launcher and icon, as an install puts them, for the shell
# to match windows to (it ignores a launcher whose program is not on the PATH).
ln -s "$program" "$work/bin/quorvel"
export PATH=$work/bin:$PATH
cp "$root/resources/org.quorvel.Quorvel.desktop" "$work/data/applications/"
cp "$root/resources/quorvel.svg" "$work/data/icons/hicolor/scalable/apps/"

pids=()
stop() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
}
trap stop EXIT
waitfor() {  # seconds, test... (a test answering 2 gives up at once)
  local n=$(($1 * 20)) rc; shift
  for _ in $(seq "$n"); do
    "$@"; rc=$?
    [ "$rc" = 0 ] && return 0
    [ "$rc" = 2 ] && return 1
    sleep 0.05
  done
  return 1
}

dbus-daemon --config-file="$root/tests/support/open-system-bus.conf" --address="unix:path=$work/system_bus" \
  --nofork --nopidfile >"$work/system-bus.log" 2>&1 &
pids+=($!)
dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/session_bus" >"$work/session-bus.log" 2>&1 &
pids+=($!)
waitfor 10 test -S "$work/system_bus" && waitfor 10 test -S "$work/session_bus" || { echo "buses did not start" >&2; exit 1; }
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/system_bus DBUS_SESSION_BUS_ADDRESS=unix:path=$work/session_bus
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/at-spi.log" 2>&1 &
pids+=($!)

# No animations: windows are where they will stay from their first frame.
export GSETTINGS_BACKEND=keyfile
mkdir -p "$XDG_CONFIG_HOME/glib-2.0/settings"
printf '[org/gnome/desktop/interface]\nenable-animations=false\n' >"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"

gnome-shell --headless --wayland --wayland-display=wayland-q --virtual-monitor "$size" >"$work/shell.log" 2>&1 &
pids+=($!)
shell=$!
ready() {
  kill -0 "$shell" 2>/dev/null || return 2
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner org.gnome.Shell 2>/dev/null | grep -q true &&
    [ -S "$XDG_RUNTIME_DIR/wayland-q" ] && ls /tmp/.X11-unix/X* >/dev/null 2>&1 || return 1
}
if ! waitfor 60 ready; then
  echo "GNOME Shell did not start:" >&2
  tail -n 30 "$work/shell.log" >&2
  exit 1
fi
# A session starts in the overview once it is up; the user's first step is to leave it.
overview() {
  gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
    --method org.freedesktop.DBus.Properties.Get org.gnome.Shell OverviewActive 2>/dev/null | grep -q "$1"
}
waitfor 20 overview true
gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
  --method org.freedesktop.DBus.Properties.Set org.gnome.Shell OverviewActive '<false>' >/dev/null
waitfor 10 overview false || echo "the overview stays open" >&2
x=$(ls /tmp/.X11-unix/ | head -n1)
export DISPLAY=":${x#X}" WAYLAND_DISPLAY=wayland-q
export XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* | head -n1)
"$@"
rc=$?
[ "$rc" = 0 ] || { echo "--- shell log" >&2; tail -n 20 "$work/shell.log" >&2; }
exit "$rc"
