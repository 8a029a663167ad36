#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Start-up time of the program against LibreOffice Writer opening the same
# chart, on a virtual X server of its own.
#
#   bench/startup.sh [RUNS=5]
#
# For each run, measured from the exec by bench/firstpaint (which watches the
# screen every 5 ms):
#   quorvel   its window viewable on screen; the chart's coloured cells drawn
#             ("visible": the picture, before the engine runs); the chart live
#             (a click into the chart and a letter typed right when it holds
#             still, and the time the document answers on screen)
#   Writer    soffice --norestore -env:UserInstallation=... resources/p1.doc,
#             until the chart's coloured cells are drawn
# Every run of the program is measured as the first GTK program on the
# display (see forget_gl_probe in common.sh).
# Writer runs twice per round: on one profile seeded like the program's and
# reused from run to run, and on a newly seeded profile each run (the program
# itself always starts on a new profile). One warm-up run of each comes first
# and is not counted. Every program is ended by its PID after its run and
# waited for.
# BASELINE_BUILD_DIR=DIR also runs DIR/quorvel in every round, right after the
# program, and reports it beside it: a before/after comparison that meets
# the same machine (on a busy one, runs minutes apart differ by 20 %).
# WRITER_VCL=gtk3 runs Writer with its GTK 3 back end (default: X11 "gen").
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
runs=${1:-5}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }
need "$build/quorvel" "$build/bench/firstpaint" "$build/bench/bench_seed_profile"
baseline=${BASELINE_BUILD_DIR:+$BASELINE_BUILD_DIR/quorvel}
[ -z "$baseline" ] || need "$baseline"
command -v soffice >/dev/null || { echo "soffice not found" >&2; exit 2; }
need_writer_vcl
chart=$bench_root/resources/p1.doc

bench_init startup
start_x
start_session_bus

# firstpaint LABEL CMD...: one measured run; sets $line.
measure() {
  local label=$1
  shift
  local probing=()
  [ "$label" != writer ] && probing=(--probe "$probe")
  run "$build/bench/firstpaint" --timeout 90 "${probing[@]}" -- "$@" >"$work/line" 2>>"$work/$label.log"
  line=$(cat "$work/line")
  if [ "$run_rc" != 0 ]; then
    echo "$label: the chart was not seen (${line:-no output}); see the log:" >&2
    tail -n 20 "$work/$label.log" >&2
    exit 1
  fi
  # The program removes its private folder when it ends; anything left is a fault.
  if [ "$label" != writer ] && [ -n "$(ls -A "$TMPDIR")" ]; then
    echo "quorvel left files in its temporary folder: $(ls -A "$TMPDIR")" >&2
    rm -rf -- "${TMPDIR:?}"/*
  fi
}

# Where the chart is clicked: into a cell in the middle of the table, away
# from the control strip (which the window manager's focus redraws).
probe=0.5,0.62
ours() {
  forget_gl_probe
  measure quorvel "$build/quorvel"
}
before() {
  forget_gl_probe
  measure baseline "$baseline"
}
writer() {
  local profile=$1
  # Writer's temporary files go to a folder of their own, emptied after each run.
  mkdir -p "$work/lotmp"
  restore_gl_probe
  TMPDIR="$work/lotmp" SAL_USE_VCLPLUGIN=$writer_vcl measure writer soffice --norestore "-env:UserInstallation=file://$profile" "$chart"
  keep_gl_probe
  rm -rf -- "$work/lotmp"
  remove_writer_pipes
}

reused=$work/lo-profile
"$build/bench/bench_seed_profile" "$reused"

machine
echo "runs: $runs (after one warm-up run of each, not counted); Writer's back end: $writer_vcl"
[ -z "$baseline" ] || echo "baseline: $baseline, run right after the program in every round"
echo "profile: quorvel seeds a new engine profile in its private folder at every start;"
echo "  Writer (reused) runs on one profile seeded the same way, filled by the warm-up run and reused;"
echo "  Writer (new) gets a newly seeded profile every run, as the program does."
ours
[ -z "$baseline" ] || before
writer "$reused"
printf '%-4s %10s %10s %10s %10s %14s %14s %10s %10s\n' run q_mapped q_visible q_live q_settled \
  w_reused_drawn w_new_drawn q_close_ms w_close_ms
mapped=() drawn=() live=() settled=() lo=() losettled=() lofresh=() closeq=() closew=()
bmapped=() bdrawn=() blive=()
for r in $(seq "$runs"); do
  ours
  mapped+=("$(field mapped_ms "$line")") drawn+=("$(field drawn_ms "$line")")
  settled+=("$(field settled_ms "$line")") closeq+=("$(field close_ms "$line")")
  live+=("$(field live_ms "$line")")
  [ "${live[-1]}" != -1.0 ] || { echo "quorvel: the chart never answered the click ($line)" >&2; exit 1; }
  if [ -n "$baseline" ]; then
    before
    bmapped+=("$(field mapped_ms "$line")") bdrawn+=("$(field drawn_ms "$line")") blive+=("$(field live_ms "$line")")
  fi
  writer "$reused"
  lo+=("$(field drawn_ms "$line")") losettled+=("$(field settled_ms "$line")")
  closew+=("$(field close_ms "$line")")
  fresh="$work/lo-new-$r"
  "$build/bench/bench_seed_profile" "$fresh"
  writer "$fresh"
  lofresh+=("$(field drawn_ms "$line")")
  rm -rf -- "$fresh"
  printf '%-4s %10s %10s %10s %10s %14s %14s %10s %10s\n' "$r" "${mapped[-1]}" "${drawn[-1]}" "${live[-1]}" \
    "${settled[-1]}" "${lo[-1]}" "${lofresh[-1]}" "${closeq[-1]}" "${closew[-1]}"
  [ -z "$baseline" ] || echo "     baseline: mapped ${bmapped[-1]} visible ${bdrawn[-1]} live ${blive[-1]}"
done

m_mapped=$(median "${mapped[@]}") m_drawn=$(median "${drawn[@]}") m_settled=$(median "${settled[@]}")
m_live=$(median "${live[@]}")
m_lo=$(median "${lo[@]}") m_losettled=$(median "${losettled[@]}") m_lofresh=$(median "${lofresh[@]}")
echo
echo "medians over $runs runs (ms from exec):"
echo "  quorvel: window mapped           $m_mapped"
echo "  quorvel: chart visible           $m_drawn"
echo "  quorvel: chart live (editable)   $m_live"
echo "  quorvel: chart drawing settled   $m_settled"
echo "  quorvel: close after SIGTERM     $(median "${closeq[@]}")"
echo "  Writer, reused profile: chart drawn   $m_lo"
echo "  Writer, reused profile: settled       $m_losettled"
echo "  Writer, reused profile: close after SIGTERM  $(median "${closew[@]}")"
echo "  Writer, new profile:    chart drawn   $m_lofresh"
if [ -n "$baseline" ]; then
  echo "  baseline: window mapped          $(median "${bmapped[@]}")"
  echo "  baseline: chart visible          $(median "${bdrawn[@]}")"
  echo "  baseline: chart live (editable)  $(median "${blive[@]}")"
  echo "ratio chart visible baseline / Writer drawn (reused profile): $(ratio "$(median "${bdrawn[@]}")" "$m_lo")"
  echo "ratio chart live baseline / Writer drawn (reused profile):    $(ratio "$(median "${blive[@]}")" "$m_lo")"
fi
echo "ratio chart visible quorvel / Writer drawn (reused profile): $(ratio "$m_drawn" "$m_lo")"
echo "ratio chart visible quorvel / Writer drawn (new profile):    $(ratio "$m_drawn" "$m_lofresh")"
echo "ratio chart live quorvel / Writer drawn (reused profile):    $(ratio "$m_live" "$m_lo")"
echo "ratio chart live quorvel / Writer drawn (new profile):       $(ratio "$m_live" "$m_lofresh")"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
