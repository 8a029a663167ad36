#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets in build-fuzz and runs each for N seconds
# (default 60) on a scratch copy of its seed corpus, so the seeds in the
# repository stay as they are. Fails if a target finds a crash; the input
# that caused it is kept in build-fuzz/artifacts/<target>/.
#
#   tools/fuzz.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEL_GUI=OFF -DQUORVEL_TESTS=OFF -DQUORVEL_FUZZ=ON
cmake --build "$build"

work=$(mktemp -d /tmp/quorvel-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

failed=()
for name in page_list container_stream font_metrics; do
  target="${name}_fuzz"
  binary="$build/tests/fuzz/$target"
  [ -x "$binary" ] || { echo "$binary was not built" >&2; exit 1; }
  corpus="$work/$name"
  artifacts="$build/artifacts/$target"
  mkdir -p "$artifacts"
  cp -r "$root/tests/fuzz/corpus/$name" "$corpus"
  echo "== $target: ${seconds}s"
  if "$binary" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$corpus" >"$work/$target.log" 2>&1; then
    grep -E '^#[0-9]+.*(DONE|pulse)' "$work/$target.log" | tail -n1
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$work/$target.log"
  else
    tail -n 60 "$work/$target.log"
    echo "$target: FAILED, see $artifacts" >&2
    failed+=("$target")
  fi
done

if ((${#failed[@]})); then
  echo "Fuzzing found crashes in: ${failed[*]}" >&2
  exit 1
fi
echo "Fuzzing found no crash."
