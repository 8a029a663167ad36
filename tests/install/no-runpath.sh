#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Each program of the build tree runs without a run path: the engine's widget
# library comes from the loader's own path, and an empty entry (the current
# folder) can never creep in.
#
#   no-runpath.sh PROGRAM...
set -u
failures=0
for program in "$@"; do
  dynamic=$(readelf -d "$program") || { echo "FAIL: $program is not a program" >&2; failures=$((failures + 1)); continue; }
  if grep -E '\((RPATH|RUNPATH)\)' <<<"$dynamic"; then
    echo "FAIL: $program has a run path" >&2
    failures=$((failures + 1))
  fi
  missing=$(ldd "$program" | grep 'not found')
  if [ -n "$missing" ]; then
    echo "FAIL: $program: $missing" >&2
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] || exit 1
echo "PASS: $# programs, no run path, every library found"
