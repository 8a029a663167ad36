#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A long session of the program in one process: 200 print clicks to a capture
# queue of a private CUPS scheduler and 200 window resizes, watching resident
# memory and open file descriptors (bench/soak_bench does the work).
#
#   bench/soak.sh [soak_bench options: --clicks N --resizes N --clear-every N]
#
# Exits non-zero when resident memory grew by 10 % or more, open file
# descriptors grew, or a job, message or refit was not as expected, so it can
# gate a release. It is not part of the test run.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
need "$build/bench/soak_bench"
queue=soak

bench_init soak
start_x
start_cups "$queue"

machine
run "$build/bench/soak_bench" "$queue" "$cups_dir/out" "$@"
case $run_rc in
  0) echo "soak: passed" ;;
  3) echo "soak: FAILED, resident memory grew by 10 % or more" ;;
  4) echo "soak: FAILED, open file descriptors grew" ;;
  *) echo "soak: FAILED (status $run_rc)" ;;
esac
exit "$run_rc"
