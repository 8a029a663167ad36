#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Drives the real program with the mouse as a person would: picks the
# printer, "только нечетные" and "двусторонняя печать", clicks the button,
# answers the question with OK, types into the chart, resizes and closes the
# window; then checks what the queue received, the exit code, that nothing
# was left behind, and that nothing was said on the terminal.
#
#   drive_print.sh PROGRAM DOC.doc     (needs DISPLAY and the variables tools/test.sh sets)
set -u
program=$1 doc=$2
here=$(cd "$(dirname "$0")" && pwd)
queue=aaa_driven_by_mouse_$$
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -n "${QUORVEL_CUPS_DIR:-}" ] || { echo "no test print scheduler; skipped"; exit 77; }

work=$(mktemp -d /tmp/quorvel-drive.XXXXXX)
pid=
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  "$QUORVEL_CUPS_HARNESS" delete-queue "$QUORVEL_CUPS_DIR" "$queue" 2>/dev/null
  rm -rf "$work" "$work-log"
}
trap cleanup EXIT
"$QUORVEL_CUPS_HARNESS" add-queue "$QUORVEL_CUPS_DIR" "$queue" || fail "cannot add the queue"

out="$QUORVEL_CUPS_DIR/out"
# Only jobs of this run count: earlier runs may have used the same queue name.
before=$(ls "$out" | grep -c '\.meta$')
ours() { ls "$out"/*.meta 2>/dev/null | sort -V | tail -n +$((before + 1)) | xargs -r grep -l "^printer=$queue\$"; }
count() { ours | wc -l; }

TMPDIR="$work" "$program" --doc "$doc" >"$work-log" 2>&1 &
pid=$!

win=
for _ in $(seq 200); do
  win=$(xdotool search --onlyvisible --name '^Quorvel - автор Vostrel$' 2>/dev/null | head -n1)
  [ -n "$win" ] && break
  sleep 0.05
done
[ -n "$win" ] || fail "no window"
# The engine opens the chart after the window appears; give it time.
sleep 4

eval "$(xdotool getwindowgeometry --shell "$win")"
# Positions of the layout at 96 dpi, scaled as the window was.
at() { xdotool mousemove --window "$win" $(($1 * WIDTH / 726)) $(($2 * WIDTH / 726)) click 1; sleep 0.4; }
at 227 16                     # the printer list opens
xdotool key Home Return; sleep 0.4
[ -n "${QUORVEL_DRIVE_SHOTS:-}" ] && import -window root "$QUORVEL_DRIVE_SHOTS-1.png"
at 27 100                     # "только нечетные"
at 209 49                     # "двусторонняя печать"
[ -n "${QUORVEL_DRIVE_SHOTS:-}" ] && import -window root "$QUORVEL_DRIVE_SHOTS-2.png"
at 449 126                    # the print button

for _ in $(seq 200); do [ "$(count)" -ge 1 ] && break; sleep 0.1; done
[ "$(count)" -eq 1 ] || fail "expected the front sides as one job, got $(count)"
# The question about the back sides is up now: OK is its default button.
sleep 1
[ -n "${QUORVEL_DRIVE_SHOTS:-}" ] && import -window root "$QUORVEL_DRIVE_SHOTS-question.png"
xdotool key Return
for _ in $(seq 200); do [ "$(count)" -ge 2 ] && break; sleep 0.1; done
[ "$(count)" -eq 2 ] || fail "expected two jobs after OK, got $(count)"

pages=()
for meta in $(ours); do
  file=$(sed -n 's/^file=//p' "$meta")
  pages+=("$(pdftotext "$out/$file" - | grep -o 'QMARK-PAGE-[0-9]*' | tr '\n' ' ')")
done
[ "${pages[0]}" = "QMARK-PAGE-01 QMARK-PAGE-05 " ] || fail "front job held: ${pages[0]}"
[ "${pages[1]}" = "QMARK-PAGE-03 " ] || fail "back job held: ${pages[1]}"

# An edit and a resize, as people make them.
at 300 300
xdotool type --delay 50 "abc"; xdotool key BackSpace BackSpace BackSpace
xdotool windowsize --sync "$win" 900 700; sleep 0.5
xdotool windowsize --sync "$win" 800 600; sleep 1

# Alt+F4 asks the window manager to close the window, like the close box.
xdotool windowactivate --sync "$win" key alt+F4
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end after its window was closed"
wait "$pid"; rc=$?
pid=
[ "$rc" -eq 0 ] || fail "exit code $rc"
[ -z "$(ls -A "$work")" ] || fail "left behind: $(ls -A "$work")"
# A whole session in ordinary use says nothing on the terminal: no warning,
# no critical, no crash, no line of the engine's. This test program's own
# sign that the view is ready is the only line.
said=$(grep -v -x -e 'engine view ready' "$work-log")
[ -z "$said" ] || fail "said on the terminal: $(head -c 2000 <<<"$said")"
echo "PASS: odd pages two-sided by hand: fronts ${pages[0]}, backs ${pages[1]}"
