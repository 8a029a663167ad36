#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How the real program ends when it is killed or its window is closed at an
# awkward moment: exit code, leftover processes and files.
#
#   lifecycle.sh PROGRAM DOC CASE
#     CASE: term | int | hup | kill | close-while-loading | close-during-question |
#           close-during-fronts on DOC;
#           close-before-live | term-before-live on the built-in chart, whose
#           picture is up while the engine is still starting
set -u
program=$1 doc=$2 case=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d /tmp/quorvel-life.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  rm -rf "$work" "$work-log"
}
trap cleanup EXIT

# The program on the test document; start_builtin: on its own chart, whose
# picture is up while the engine starts.
run_program() {
  TMPDIR="$work" "$program" "$@" >>"$work-log" 2>&1 &
  pid=$!
  pids+=("$pid")
}
start() { run_program --doc "$doc"; }
start_builtin() { run_program; }
window() {
  win=
  for _ in $(seq 200); do
    win=$(xdotool search --onlyvisible --pid "$pid" --name '^Quorvel - автор Vostrel$' 2>/dev/null | head -n1)
    [ -n "$win" ] && return 0
    sleep 0.02
  done
  fail "no window"
}
# Waits for the process to end by itself; returns its exit code.
ended() {
  for _ in $(seq 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "$1: the program is still running"
  [ -z "$(ps -o pid= --ppid "$pid" 2>/dev/null)" ] || fail "$1: a child process survived"
  wait "$pid"
}
ours() { find "$work" -mindepth 1 -maxdepth 1 -name "quorvel-$1-*"; }
# A queue of the test scheduler (MODE as tests/cups/cups-harness.sh has
# them), the program started, and all pages printed two-sided by hand with
# the mouse; `at X Y` clicks the window there (layout pixels).
two_sided_print() {
  [ -n "${QUORVEL_CUPS_DIR:-}" ] || { echo "no test print scheduler; skipped"; exit 77; }
  queue=aaa_lifecycle_$$
  "$QUORVEL_CUPS_HARNESS" add-queue "$QUORVEL_CUPS_DIR" "$queue" "$1" || fail "cannot add the queue"
  trap '"$QUORVEL_CUPS_HARNESS" delete-queue "$QUORVEL_CUPS_DIR" "$queue"; cleanup' EXIT
  start; window; sleep 4
  eval "$(xdotool getwindowgeometry --shell "$win")"
  at() { xdotool mousemove --window "$win" $(($1 * WIDTH / 726)) $(($2 * WIDTH / 726)) click 1; sleep 0.4; }
  at 227 16; xdotool key Home Return; sleep 0.4
  at 27 58          # "все"
  at 209 49         # two-sided
  at 449 126        # print: the fronts go, then the question
}
captured() { grep -l "^printer=$queue\$" "$QUORVEL_CUPS_DIR"/out/*.meta 2>/dev/null | wc -l; }
close() { xdotool windowactivate --sync "$1" key alt+F4; }

case $case in
  term | int | hup)
    # The engine has the chart open: the program ends as if closed, and the
    # engine's own teardown crashes nothing on the way out.
    sig=${case^^}
    start; window; sleep 3
    kill -"$sig" "$pid"
    ended "after SIG$sig"; rc=$?
    [ "$rc" -eq 0 ] || fail "exit code $rc after SIG$sig"
    [ -z "$(ls -A "$work")" ] || fail "left after SIG$sig: $(ls -A "$work")"
    ! grep -E 'Fatal exception|Signal [0-9]+|CRITICAL|WARNING' "$work-log" || fail "said so on the terminal"
    ;;
  kill)
    start; window; sleep 3
    killed=$pid
    kill -KILL "$pid"; wait "$pid" 2>/dev/null
    [ -n "$(ours "$killed")" ] || fail "the killed run had no private folder to leave behind"
    start; window
    for _ in $(seq 50); do [ -z "$(ours "$killed")" ] && break; sleep 0.1; done
    [ -z "$(ours "$killed")" ] || fail "the next start did not remove what the killed run left"
    close "$win"
    ended "after closing"; rc=$?
    [ "$rc" -eq 0 ] || fail "exit code $rc"
    [ -z "$(ls -A "$work")" ] || fail "left behind: $(ls -A "$work")"
    ;;
  close-while-loading | close-before-live)
    # Closed as soon as the window is up: the document is still loading, or
    # (the built-in chart) its picture is up and the engine is still starting.
    if [ "$case" = close-before-live ]; then start_builtin; else start; fi
    window
    close "$win"
    ended "closed before the chart was live"; rc=$?
    [ "$rc" -eq 0 ] || fail "exit code $rc"
    [ -z "$(ls -A "$work")" ] || fail "left behind: $(ls -A "$work")"
    ;;
  term-before-live)
    start_builtin; window
    kill -TERM "$pid"
    ended "after SIGTERM before the chart was live"; rc=$?
    [ "$rc" -eq 0 ] || fail "exit code $rc after SIGTERM"
    [ -z "$(ls -A "$work")" ] || fail "left after SIGTERM: $(ls -A "$work")"
    ;;
  close-during-question)
    two_sided_print capture
    sleep 2
    # Alt+F4 goes to the question, which is up front: that answers "cancel",
    # so only the fronts went, and the program goes on.
    close "$win"
    sleep 1.5
    kill -0 "$pid" 2>/dev/null || fail "the program ended when the question was closed"
    [ "$(captured)" -eq 1 ] || fail "expected the fronts only, got $(captured) jobs"
    # Asked again, and killed politely while the question is up: it ends cleanly.
    at 449 126
    sleep 2
    kill -TERM "$pid"
    ended "killed during the question"; rc=$?
    [ "$rc" -eq 0 ] || fail "exit code $rc"
    [ -z "$(ls -A "$work")" ] || fail "left behind: $(ls -A "$work")"
    ;;
  close-during-fronts)
    # A slow printer: the progress box is up while the fronts print.
    two_sided_print slow/2
    active() { lpstat -o "$queue" 2>/dev/null | wc -l; }
    sleep 1.5
    # Alt+F4 goes to the box, which is up front: that is its "Отмена", so the
    # fronts are taken back, and the program goes on.
    xdotool key alt+F4
    sleep 1.5
    kill -0 "$pid" 2>/dev/null || fail "the program ended when the box was closed"
    [ "$(active)" -eq 0 ] || fail "the fronts are still queued after the box was closed"
    # Again, and this time the window itself is closed by the window manager:
    # the program ends at once and leaves the job it sent to the printer.
    at 449 126
    sleep 1.5
    wmctrl -i -c "$win"
    ended "closed while the fronts printed"; rc=$?
    [ "$rc" -eq 0 ] || fail "exit code $rc"
    [ -z "$(ls -A "$work")" ] || fail "left behind: $(ls -A "$work")"
    for _ in $(seq 150); do [ "$(captured)" -ge 1 ] && break; sleep 0.1; done
    [ "$(captured)" -eq 1 ] || fail "expected the fronts printed once, got $(captured) jobs"
    ;;
  *) fail "unknown case $case" ;;
esac
echo "PASS: $case"
