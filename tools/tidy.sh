#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs clang-tidy with the project's .clang-tidy over the program's own
# sources (app, automation, document, printing, resources; their headers
# too), with the build's compile_commands.json. Any finding fails.
#
#   tools/tidy.sh [BUILD_DIR]     # default: build
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
[ -f "$build/compile_commands.json" ] || { echo "tidy: no $build/compile_commands.json; build first" >&2; exit 1; }
run_tidy=$(command -v run-clang-tidy-14 || command -v run-clang-tidy) || { echo "tidy: run-clang-tidy not found" >&2; exit 1; }

# Generated sources (the window's resources) are left out by the pattern.
sources="^$root/(app|automation|document|printing|resources)/[^/]+\\.cpp\$"
start=$SECONDS
if "$run_tidy" -p "$build" -j 2 -quiet "$sources" >"$build/tidy.log" 2>&1; then
  echo "clang-tidy: no findings ($((SECONDS - start)) s)"
else
  findings=$(sed 's/\x1b\[[0-9;]*m//g' "$build/tidy.log" | grep -E '(warning|error): ' | sort -u || true)
  if [ -n "$findings" ]; then
    printf '%s\n' "$findings"
    echo "clang-tidy: findings above (full output in $build/tidy.log)" >&2
  else
    # No finding, yet it failed (clang-tidy crashed, say): show how.
    tail -n 20 "$build/tidy.log" >&2
    echo "clang-tidy failed without a finding (full output in $build/tidy.log)" >&2
  fi
  exit 1
fi
