#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Run by print.sh inside tests/netprint/netprint-fixture.sh: prints to its
# driverless network printer, never used before, once and then RUNS times,
# and checks that each document arrived in the printer's spool folder with
# PAGES pages before the next one is sent.
#
#   print-net.sh quorvel|lp DOC PDF PAGES RUNS BUILD
#     quorvel  print_bench on DOC: each click -> accepted, and its stall
#     lp       lp -d PRINTER PDF: wall time of each command
set -euo pipefail
mode=$1 doc=$2 pdf=$3 pages=$4 runs=$5 build=$6
printer=$QUORVEL_NET_PRINTER spool=$QUORVEL_NET_SPOOL

arrived() { # N: until N documents are in the spool folder, each with PAGES pages
  local _ f n
  for _ in $(seq 600); do
    n=$(find "$spool" -maxdepth 1 -name '*.pdf' | wc -l)
    [ "$n" -ge "$1" ] && break
    sleep 0.1
  done
  [ "$n" -ge "$1" ] || { echo "only $n of $1 documents reached $printer" >&2; return 1; }
  for f in "$spool"/*.pdf; do
    [ "$(pdfinfo "$f" 2>/dev/null | awk '/^Pages:/ { print $2 }')" = "$pages" ] ||
      { echo "$f does not have $pages pages" >&2; return 1; }
  done
}
now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }

case $mode in
  quorvel)
    "$build/bench/print_bench" "$doc" "$printer" $((runs + 1))
    arrived $((runs + 1))
    ;;
  lp)
    for i in $(seq $((runs + 1))); do
      t0=$(now_ms)
      lp -d "$printer" -t bench "$pdf" >/dev/null
      echo "lp $i: $(($(now_ms) - t0)) ms"
      arrived "$i"
    done
    ;;
  *) echo "usage: $0 quorvel|lp DOC PDF PAGES RUNS BUILD" >&2; exit 2 ;;
esac
