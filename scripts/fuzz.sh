#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (build directory build-fuzz), then runs each one
# for a bounded time over a fresh copy of its seed corpus
# (tests/fuzz/corpus/<harness>/). Any crash, sanitizer report, broken
# comparison, time-out or excess memory fails the script; the input that did it
# is kept under build-fuzz/runs/<harness>/artifacts/.
# Usage: scripts/fuzz.sh [seconds per harness]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
case "$seconds" in
  '' | *[!0-9]*) echo "fuzz.sh: the time per harness must be a whole number of seconds" >&2; exit 2 ;;
esac

scripts/install-deps.sh --fuzz
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DLUMAQC_FUZZ=ON -DLUMAQC_TESTS=OFF -DLUMAQC_PYTHON=OFF >/dev/null

harnesses=()
for source in tests/fuzz/*Fuzzer.cpp; do
  harnesses+=("$(basename "$source" .cpp)")
done
cmake --build build-fuzz -j"$(nproc)" --target "${harnesses[@]}"

runs=build-fuzz/runs
rm -rf "$runs"
failed=()
for harness in "${harnesses[@]}"; do
  dir="$runs/$harness"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  [ -d "tests/fuzz/corpus/$harness" ] && cp -R "tests/fuzz/corpus/$harness/." "$dir/corpus/"
  started=$(date +%s)
  status=0
  build-fuzz/tests/fuzz/"$harness" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$PWD/$dir/artifacts/" "$dir/corpus" >"$dir/log" 2>&1 || status=$?
  elapsed=$(($(date +%s) - started))
  runsDone=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)
  if [ "$status" -ne 0 ]; then
    failed+=("$harness")
    echo "fuzz: $harness FAILED (exit status $status after ${elapsed} s); the end of its log:"
    tail -n 60 "$dir/log"
    for artifact in "$dir"/artifacts/*; do
      [ -e "$artifact" ] && echo "fuzz: reproduce with: build-fuzz/tests/fuzz/$harness $artifact"
    done
  else
    echo "fuzz: $harness ok: ${runsDone:-?} inputs in ${elapsed} s, log $dir/log"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failing harnesses: ${failed[*]}"
  exit 1
fi
