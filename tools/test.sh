#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up on Debian 12 or 13 and runs every test: the unit suite, the
# window, engine and print tests against a virtual X server with a session
# and accessibility bus and a private CUPS scheduler, clang-tidy, the unit
# suite again under ASan/UBSan, and the fuzzers.
#
#   tools/test.sh [--quick [CTEST ARGS]]
#     --quick skips clang-tidy, the sanitizer build and the fuzzers; what
#     follows goes to ctest (say -R Form. to run only the window tests)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
quick=0
if [ "${1:-}" = --quick ]; then quick=1; shift; fi

"$root/tools/install-deps.sh" run test
# The tests on, also in a build folder tools/run.sh configured without them.
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_TESTS=ON
cmake --build "$root/build"

work=$(mktemp -d /tmp/quorvel-test.XXXXXX)
pids=()
cleanup() {
  local rc=$?
  "$root/tests/cups/cups-harness.sh" stop "$work/cups" >/dev/null 2>&1 || true
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT INT TERM

# Virtual X server with a window manager, so windows are placed, decorated
# and closed as on a desktop.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"

# A session bus with the accessibility bus on it, as every GNOME desktop has:
# GTK programs then talk to the accessibility bus, and the tests read the
# window through it as a screen reader does. Both are this run's own (their
# sockets live in a private runtime folder) and are ended by their PIDs.
export XDG_RUNTIME_DIR="$work/runtime"
# What the desktop's pieces (window manager, buses, GL) cache goes with the
# run, not into the real home folder.
export XDG_CACHE_HOME="$work/cache"
mkdir -m 700 "$XDG_RUNTIME_DIR"
dbus-daemon --session --nofork --address="unix:path=$work/session-bus" --print-address=4 \
  4>"$work/session-bus.address" 2>"$work/dbus.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/session-bus.address" ] && break; sleep 0.05; done
[ -s "$work/session-bus.address" ] || { echo "the session bus did not start" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/session-bus.address")
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/at-spi.log" 2>&1 &
pids+=($!)
a11y_up() {
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1
}
for _ in $(seq 100); do a11y_up && break; sleep 0.05; done
a11y_up || { echo "the accessibility bus did not start" >&2; exit 1; }

openbox >"$work/openbox.log" 2>&1 &
pids+=($!)

# A private print scheduler on a Unix socket; the system's queues are never touched.
export CUPS_SERVER=$("$root/tests/cups/cups-harness.sh" start "$work/cups")
export QUORVEL_CUPS_DIR="$work/cups"
export QUORVEL_CUPS_HARNESS="$root/tests/cups/cups-harness.sh"
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"

ctest --test-dir "$root/build" --output-on-failure --timeout 300 "$@" | tee "$work/ctest.log"
# A test that skips itself (a tool or a namespace missing) has not shown
# anything: on the systems this supports, every test runs.
if grep -q "The following tests did not run" "$work/ctest.log"; then
  sed -n '/The following tests did not run/,/^$/p' "$work/ctest.log" >&2
  echo "Some tests did not run here; see why above." >&2
  exit 1
fi

if [ "$quick" = 0 ]; then
  "$root/tools/tidy.sh" "$root/build"
  "$root/tools/sanitize.sh"
  "$root/tools/fuzz.sh" 60
fi
echo "All tests passed."
