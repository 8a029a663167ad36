#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Resident memory of the program against LibreOffice Writer showing the same
# chart, side by side on one virtual X server with a session and an
# accessibility bus, and of the program after a working session.
#
#   bench/memory.sh [RUNS=3] [--settle SEC]   # root: the session part starts a private cupsd
#
# After start-up: each program is started RUNS times (after one warm-up run
# each, not counted); SEC seconds (default 8) after its window is on screen,
# VmRSS, RssAnon and RssFile are read from /proc/PID/status (for Writer, of
# soffice.bin, which holds the document; its small oosplash launcher is left
# out). Medians of the runs. Each run of the program is measured as the first
# GTK program on the display (see forget_gl_probe in common.sh).
# After a session: bench/soak_bench (the real window on the built-in chart)
# with 50 print clicks to a capture queue and 50 window resizes, RUNS times;
# its figures at the end, back at its size at start-up.
# Where the memory goes: /proc/PID/smaps of the last run of each program,
# summed by kind of mapping, and the largest single mappings.
# WRITER_VCL=gtk3 runs Writer with its GTK 3 back end, as GNOME desktops
# have it (package libreoffice-gtk3); default: X11 "gen".
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
runs=3 settle=8
while (($#)); do
  case $1 in
    --settle) settle=$2; shift 2 ;;
    *) runs=$1; shift ;;
  esac
done
[[ $runs =~ ^[1-9][0-9]*$ && $settle =~ ^[0-9]+$ ]] || { echo "usage: $0 [RUNS] [--settle SEC]" >&2; exit 2; }
need "$build/quorvel" "$build/bench/soak_bench" "$build/bench/bench_seed_profile"
command -v soffice >/dev/null || { echo "soffice not found" >&2; exit 2; }
need_writer_vcl
chart=$bench_root/resources/p1.doc
queue=memory

bench_init memory
start_x
start_session_bus
start_cups "$queue"

# The first viewable window of process PID, waited for up to 60 s.
wait_window() {
  local _
  for _ in $(seq 1200); do
    xdotool search --onlyvisible --pid "$1" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

# Reads VmRSS, RssAnon and RssFile (kB) of PID into $line; keeps its smaps as FILE.
sample() {
  line=$(awk '/^(VmRSS|RssAnon|RssFile):/ { printf "%s=%s ", $1, $2 }' "/proc/$1/status" | tr -d :)
  cp "/proc/$1/smaps" "$2"
}

# One run of the program: start it, wait, sample, close it politely.
ours() {
  forget_gl_probe
  setsid "$build/quorvel" >>"$work/quorvel.log" 2>&1 &
  current=$! current_group=$!
  wait_window "$current" || { echo "quorvel: no window" >&2; exit 1; }
  sleep "$settle"
  sample "$current" "$work/quorvel.smaps"
  stop_current
  # The program removes its private folder when it ends; anything left is a fault.
  if [ -n "$(ls -A "$TMPDIR")" ]; then
    echo "quorvel left files in its temporary folder: $(ls -A "$TMPDIR")" >&2
    rm -rf -- "${TMPDIR:?}"/*
  fi
}

writer() {
  mkdir -p "$work/lotmp"
  restore_gl_probe
  TMPDIR="$work/lotmp" SAL_USE_VCLPLUGIN=$writer_vcl setsid soffice --norestore "-env:UserInstallation=file://$profile" "$chart" \
    >>"$work/writer.log" 2>&1 &
  current=$! current_group=$!
  # soffice.bin may start over once (a new profile): the one with the window.
  local office= candidate _
  for _ in $(seq 1200); do
    for candidate in $(pgrep -g "$current_group" -x soffice.bin || true); do
      xdotool search --onlyvisible --pid "$candidate" >/dev/null 2>&1 && office=$candidate
    done
    [ -n "$office" ] && break
    sleep 0.05
  done
  [ -n "$office" ] || { echo "Writer: no window" >&2; exit 1; }
  sleep "$settle"
  sample "$office" "$work/writer.smaps"
  keep_gl_probe
  stop_current
  rm -rf -- "$work/lotmp"
  remove_writer_pipes
}

session() {
  forget_gl_probe
  run "$build/bench/soak_bench" "$queue" "$cups_dir/out" --clicks 50 --resizes 50 >"$work/soak.out" 2>>"$work/soak.log"
  [ "$run_rc" = 0 ] || [ "$run_rc" = 3 ] || { echo "soak_bench failed ($run_rc):" >&2; tail "$work/soak.log" >&2; exit 1; }
  line="VmRSS=$(field rss_end_kb "$(grep rss_end_kb "$work/soak.out")")"
  line+=" RssAnon=$(field rss_anon_end_kb "$(grep rss_anon_end_kb "$work/soak.out")")"
  line+=" RssFile=$(field rss_file_end_kb "$(grep rss_file_end_kb "$work/soak.out")")"
  start_rss=$(field rss_start_kb "$(grep rss_start_kb "$work/soak.out")")
}

# Resident memory of an smaps file summed by kind of mapping: kB in all,
# of it anonymous (private, written) and of it file pages.
breakdown() {
  awk -v exe="$2" '
    function kind(name) {
      if (name == "") return "anonymous: thread arenas of malloc, stacks, other"
      if (name == "[heap]") return "anonymous: main heap of malloc"
      if (name ~ /^\[/) return "anonymous: other ([stack], [vvar] ...)"
      if (name == exe) return "the program itself"
      if (name ~ /SYSV|^\/dev\/shm|memfd/) return "shared memory (X image transfer)"
      if (name ~ /^\/usr\/lib\/libreoffice\//) return "LibreOffice: libraries and type data"
      if (name ~ /lib(gtk-3|gdk-3|gtkmm|gdkmm|glibmm|giomm|atkmm|pangomm|cairomm|sigc|atk-1|atk-bridge|atspi|epoxy|gdk_pixbuf)/)
        return "GTK 3, GDK, ATK and the C++ bindings (gtkmm ...)"
      if (name ~ /\.so/) return "other shared libraries"
      if (name ~ /\/fonts\/|fontconfig/) return "fonts and their caches"
      return "other files (icon and MIME caches, locale data ...)"
    }
    /^[0-9a-f]+-[0-9a-f]+ / { name = $6; k = kind(name); next }
    /^Rss:/ { rss[k] += $2; total += $2 }
    /^Anonymous:/ { anon[k] += $2 }
    END {
      for (k in rss) printf "%9d %9d %9d  %s\n", rss[k], anon[k], rss[k] - anon[k], k
      printf "%9d %9s %9s  %s\n", total, "", "", "total"
    }' "$1" | sort -rn
}

largest() {
  awk '/^[0-9a-f]+-[0-9a-f]+ / { name = $6 == "" ? "[anonymous]" : $6; next }
       /^Rss:/ { rss[name] += $2 }
       END { for (n in rss) printf "%9d  %s\n", rss[n], n }' "$1" | sort -rn | head -n "$2"
}

profile=$work/lo-profile
"$build/bench/bench_seed_profile" "$profile"

machine
echo "runs: $runs (after one warm-up run of each, not counted); sampled $settle s after the window is on screen"
echo "Writer's back end: $writer_vcl"
ours
writer
printf '%-4s %10s %10s %10s   %10s %10s %10s   %10s %10s %10s\n' run q_rss q_anon q_file w_rss w_anon w_file \
  s_rss s_anon s_file
q=() qa=() qf=() w=() wa=() wf=() s=() sa=() sf=() s0=()
for r in $(seq "$runs"); do
  ours
  q+=("$(field VmRSS "$line")") qa+=("$(field RssAnon "$line")") qf+=("$(field RssFile "$line")")
  writer
  w+=("$(field VmRSS "$line")") wa+=("$(field RssAnon "$line")") wf+=("$(field RssFile "$line")")
  session
  s+=("$(field VmRSS "$line")") sa+=("$(field RssAnon "$line")") sf+=("$(field RssFile "$line")")
  s0+=("$start_rss")
  printf '%-4s %10s %10s %10s   %10s %10s %10s   %10s %10s %10s\n' "$r" "${q[-1]}" "${qa[-1]}" "${qf[-1]}" \
    "${w[-1]}" "${wa[-1]}" "${wf[-1]}" "${s[-1]}" "${sa[-1]}" "${sf[-1]}"
done
mq=$(median "${q[@]}") mqa=$(median "${qa[@]}") mqf=$(median "${qf[@]}")
mw=$(median "${w[@]}") mwa=$(median "${wa[@]}") mwf=$(median "${wf[@]}")
ms=$(median "${s[@]}") msa=$(median "${sa[@]}") msf=$(median "${sf[@]}")
echo
echo "medians over $runs runs (kB):          VmRSS    RssAnon    RssFile"
printf '  quorvel after start-up           %9s  %9s  %9s\n' "$mq" "$mqa" "$mqf"
printf '  Writer (soffice.bin), same chart %9s  %9s  %9s\n' "$mw" "$mwa" "$mwf"
printf '  quorvel after 50 clicks + 50 resizes (soak_bench; %s at its start) %9s  %9s  %9s\n' \
  "$(median "${s0[@]}")" "$ms" "$msa" "$msf"
echo "ratio quorvel / Writer after start-up: VmRSS $(ratio "$mq" "$mw"), RssAnon $(ratio "$mqa" "$mwa")," \
  "RssFile $(ratio "$mqf" "$mwf")"
echo "ratio quorvel / Writer after the session: VmRSS $(ratio "$ms" "$mw"), RssAnon $(ratio "$msa" "$mwa")," \
  "RssFile $(ratio "$msf" "$mwf")"
echo
echo "where it goes (last run, kB): resident, of it anonymous, of it file pages"
echo "quorvel:"
breakdown "$work/quorvel.smaps" "$build/quorvel"
echo "Writer (soffice.bin):"
breakdown "$work/writer.smaps" /usr/lib/libreoffice/program/soffice.bin
echo
echo "largest mappings, quorvel:"
largest "$work/quorvel.smaps" 12
echo "largest mappings, Writer:"
largest "$work/writer.smaps" 12
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
