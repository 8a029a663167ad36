#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Print time of the program against LibreOffice printing the same document
# from the command line and against lp sending a PDF rendered beforehand,
# all to a capture queue of a private CUPS scheduler.
#
#   bench/print.sh [RUNS=5]
#
# For the chart (resources/p1.doc) and the 20-page tests/data/pages20.doc:
#   quorvel       bench/print_bench: the real window on the document, "все"
#                 chosen, RUNS clicks; each timed from the click until CUPS has
#                 accepted the job (the engine is already running), beside the
#                 longest stall of the window's main loop during the click
#   soffice --pt  soffice --headless --pt QUEUE DOC, wall time of the whole
#                 command: engine start-up, loading, rendering and sending
#   lp            lp -d QUEUE DOC.pdf with the PDF rendered once beforehand
# Each job is checked to have arrived in the queue (outside the timing).
# Then the chart to a driverless network printer never used before (inside
# tests/netprint/netprint-fixture.sh: DNS-SD, ippeveprinter), its first job
# (CUPS creates the queue) in each of NET_ROUNDS=5 fixtures, and RUNS later
# ones in the first: quorvel, and lp of the PDF.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
runs=${1:-5}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }
need "$build/bench/print_bench" "$build/bench/bench_seed_profile"
command -v soffice >/dev/null || { echo "soffice not found" >&2; exit 2; }
queue=bench

bench_init print
start_x
start_cups "$queue"
profile=$work/lo-profile
"$build/bench/bench_seed_profile" "$profile"
jobs=0

# The next job must arrive, and hold PAGES pages when that is given.
expect_job() {
  jobs=$((jobs + 1))
  wait_captured "$jobs" || { echo "job $jobs did not arrive" >&2; exit 1; }
  if [ -n "${1:-}" ]; then
    local meta file got
    meta=$(ls "$cups_dir/out"/*.meta | sort -V | tail -n1)
    file=$(sed -n 's/^file=//p' "$meta")
    got=$(pdfinfo "$cups_dir/out/$file" 2>/dev/null | awk '/^Pages:/ { print $2 }')
    [ "$got" = "$1" ] || { echo "job $jobs has ${got:-no} pages, expected $1" >&2; exit 1; }
  fi
}

ours() { # DOC PAGES CLICKS
  run "$build/bench/print_bench" "$1" "$queue" "$3" >"$work/ours.out" 2>>"$work/ours.log"
  if [ "$run_rc" != 0 ]; then
    echo "print_bench failed on $1:" >&2
    cat "$work/ours.out" >&2
    tail -n 20 "$work/ours.log" >&2
    exit 1
  fi
  local i
  for ((i = 0; i < $3; i++)); do expect_job "$2"; done
}

soffice_pt() { # DOC PAGES; sets $took
  mkdir -p "$work/lotmp"
  local t0
  t0=$(now_ms)
  TMPDIR="$work/lotmp" DISPLAY= group soffice --headless --norestore \
    "-env:UserInstallation=file://$profile" --pt "$queue" "$1" >>"$work/soffice.log" 2>&1
  took=$(($(now_ms) - t0))
  rm -rf -- "$work/lotmp"
  [ "$group_rc" = 0 ] || { echo "soffice --pt failed on $1 (status $group_rc)" >&2; exit 1; }
  expect_job "$2"
}

lp_pdf() { # PDF PAGES; sets $took
  local t0
  t0=$(now_ms)
  run lp -d "$queue" -t "bench" "$1" >>"$work/lp.log" 2>&1
  took=$(($(now_ms) - t0))
  [ "$run_rc" = 0 ] || { echo "lp failed on $1" >&2; exit 1; }
  expect_job "$2"
}

machine
echo "runs: $runs per method and document, after one warm-up run of each (not counted)"
echo "soffice --pt: every run includes LibreOffice's own start-up and loading of the document"
echo "  (profile seeded like the program's, filled by the warm-up run and reused);"
echo "  quorvel's engine was started and the document loaded before its clicks are timed."
declare -A result
for doc in "$bench_root/resources/p1.doc" "$bench_root/tests/data/pages20.doc"; do
  name=$(basename "$doc")
  pages=1
  [ "$name" = pages20.doc ] && pages=20
  # Rendered once for lp; also the first use of the profile for this document.
  mkdir -p "$work/pdf"
  TMPDIR="$work/tmp" DISPLAY= group soffice --headless --norestore "-env:UserInstallation=file://$profile" \
    --convert-to pdf --outdir "$work/pdf" "$doc" >>"$work/soffice.log" 2>&1
  pdf="$work/pdf/${name%.doc}.pdf"
  [ -s "$pdf" ] || { echo "could not render $doc to PDF" >&2; exit 1; }

  # Warm-up runs.
  ours "$doc" "$pages" 1
  soffice_pt "$doc" "$pages"
  lp_pdf "$pdf" "$pages"

  ours "$doc" "$pages" "$runs"
  q=$(sed -n 's/^median_ms=//p' "$work/ours.out")
  clicks=$(sed -n 's/^click [0-9]*: \([0-9.]*\) ms .*$/\1/p' "$work/ours.out" | tr '\n' ' ')
  stalls=$(sed -n 's/^click [0-9]*: .* stall \([0-9.]*\) ms$/\1/p' "$work/ours.out" | tr '\n' ' ')
  st=$(sed -n 's/^max_stall_ms=//p' "$work/ours.out")
  so=() lps=()
  for _ in $(seq "$runs"); do
    soffice_pt "$doc" "$pages"
    so+=("$took")
    lp_pdf "$pdf" "$pages"
    lps+=("$took")
  done
  s=$(median "${so[@]}") l=$(median "${lps[@]}")
  echo
  echo "$name ($pages page$([ "$pages" = 1 ] || echo s)), ms:"
  echo "  quorvel click -> accepted:  $clicks  median $q"
  echo "  quorvel main-loop stall:    $stalls  max $st"
  echo "  soffice --headless --pt:    ${so[*]}  median $s"
  echo "  lp of the rendered PDF:     ${lps[*]}  median $l"
  echo "  ratio quorvel / soffice --pt: $(ratio "$q" "$s")   quorvel / lp: $(ratio "$q" "$l")"
  result[$name]="$q $s $l $st"
done

# The network printer: a fixture of its own for each method and round, so
# that each first job is one to a printer CUPS has not made a queue for yet
# (how long CUPS takes to make it varies from one fixture to the next: the
# first jobs are compared over NET_ROUNDS fixtures each, taken in turns).
net_rounds=${NET_ROUNDS:-5}
p1_pdf="$work/pdf/p1.pdf"
net() { # METHOD ROUND LATER: output in $work/net-METHOD-ROUND.out
  run "$bench_root/tests/netprint/netprint-fixture.sh" "$bench_root/bench/print-net.sh" "$1" \
    "$bench_root/resources/p1.doc" "$p1_pdf" 1 "$3" "$build" >"$work/net-$1-$2.out" 2>>"$work/net.log"
  [ "$run_rc" = 0 ] || { echo "network printer ($1) failed:" >&2; tail -n 20 "$work/net.log" >&2; exit 1; }
}
nq_first=() nl_first=() ns_first=()
for round in $(seq "$net_rounds"); do
  later=0
  [ "$round" = 1 ] && later=$runs
  net quorvel "$round" "$later"
  net lp "$round" "$later"
  nq_first+=("$(sed -n 's/^click 1: \([0-9.]*\) ms .*$/\1/p' "$work/net-quorvel-$round.out")")
  ns_first+=("$(sed -n 's/^click 1: .* stall \([0-9.]*\) ms$/\1/p' "$work/net-quorvel-$round.out")")
  nl_first+=("$(sed -n 's/^lp 1: \([0-9]*\) ms$/\1/p' "$work/net-lp-$round.out")")
done
nq=($(sed -n 's/^click [0-9]*: \([0-9.]*\) ms .*$/\1/p' "$work/net-quorvel-1.out"))
ns=($(sed -n 's/^click [0-9]*: .* stall \([0-9.]*\) ms$/\1/p' "$work/net-quorvel-1.out"))
nl=($(sed -n 's/^lp [0-9]*: \([0-9]*\) ms$/\1/p' "$work/net-lp-1.out"))
nq_later=$(median "${nq[@]:1}") nl_later=$(median "${nl[@]:1}")
ns_later=$(printf '%s\n' "${ns[@]:1}" | sort -g | tail -n1)
nq_med=$(median "${nq_first[@]}") nl_med=$(median "${nl_first[@]}")
ns_max=$(printf '%s\n' "${ns_first[@]}" | sort -g | tail -n1)
echo
echo "p1.doc to a driverless network printer, ms (first job: CUPS creates its queue):"
echo "  quorvel click -> accepted, first job of each of $net_rounds fixtures: ${nq_first[*]}  median $nq_med"
echo "  quorvel main-loop stall in those:  ${ns_first[*]}  max $ns_max"
echo "  lp of the rendered PDF, first job of each of $net_rounds fixtures:  ${nl_first[*]}  median $nl_med"
echo "  quorvel click -> accepted, later:  ${nq[*]:1}  median $nq_later"
echo "  quorvel main-loop stall, later:    ${ns[*]:1}  max $ns_later"
echo "  lp of the rendered PDF, later:     ${nl[*]:1}  median $nl_later"
echo "  every document arrived at the printer"
echo
echo "all $jobs jobs arrived in the capture queue"
printf '%-16s %10s %10s %14s %8s %12s %8s\n' document quorvel stall_max soffice_pt lp q/soffice q/lp
for name in p1.doc pages20.doc; do
  read -r q s l st <<<"${result[$name]}"
  printf '%-16s %10s %10s %14s %8s %12s %8s\n' "$name" "$q" "$st" "$s" "$l" "$(ratio "$q" "$s")" "$(ratio "$q" "$l")"
done
printf '%-16s %10s %10s %14s %8s %12s %8s\n' "net, first job" "$nq_med" "$ns_max" - "$nl_med" - \
  "$(ratio "$nq_med" "$nl_med")"
printf '%-16s %10s %10s %14s %8s %12s %8s\n' "net, later jobs" "$nq_later" "$ns_later" - "$nl_later" - \
  "$(ratio "$nq_later" "$nl_later")"
