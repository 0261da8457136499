#!/usr/bin/env bash
# Start-up cost of lumaqc, in one invocation: processor time (user + system)
# of REPS one-frame 352x288 raw runs (default 200), summed, and the peak
# resident memory of one single-thread 1920x1080 raw run, both measured with
# /usr/bin/time. The machine may be shared: the programs run in alternating
# rounds (ROUNDS, default 3) and the best round counts.
# BASELINE=path/to/an/older/lumaqc measures that program in the same rounds
# and prints this build's figures as ratios of it. LUMAQC=path measures that
# program instead of building build-bench/lumaqc.
set -euo pipefail
# Paths given relative to where the script was called from.
[ -z "${LUMAQC:-}" ] || LUMAQC=$(realpath "$LUMAQC")
[ -z "${BASELINE:-}" ] || BASELINE=$(realpath "$BASELINE")
cd "$(dirname "$0")/.."
scripts/install-deps.sh --bench >/dev/null
if [ -z "${LUMAQC:-}" ]; then
  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF >/dev/null
  cmake --build build-bench -j2 --target lumaqc makeSampleClip >/dev/null
  LUMAQC=$PWD/build-bench/lumaqc
fi
sample=$(dirname "$LUMAQC")/makeSampleClip
[ -x "$sample" ] || sample=$PWD/build-bench/makeSampleClip
[ -x "$sample" ] || { echo "startup.sh: no makeSampleClip beside $LUMAQC nor in build-bench" >&2; exit 2; }
reps=${REPS:-200}
rounds=${ROUNDS:-3}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$sample" one.yuv 352 288 1 >/dev/null
"$sample" hd.yuv 1920 1080 5 >/dev/null

# Seconds of processor time of REPS one-frame runs (the shell that runs them
# counts too, the same for every program).
cpu() {
  /usr/bin/time -f "%U %S" -o cpu.txt sh -c 'i=0; while [ $i -lt "$2" ]; do "$1" one.yuv 352 288 >/dev/null; i=$((i+1)); done' \
    sh "$1" "$reps"
  awk '{ printf "%.2f\n", $1 + $2 }' cpu.txt
}
# Peak resident memory in KiB of a single-thread 1920x1080 run.
rss() {
  /usr/bin/time -f "%M" -o rss.txt "$1" --threads 1 hd.yuv 1920 1080 >/dev/null
  cat rss.txt
}
min() { sort -g | head -n 1; }

declare -A programs=([current]="$LUMAQC")
[ -n "${BASELINE:-}" ] && programs[baseline]=$BASELINE
declare -A cpus rsss
for ((round = 0; round < rounds; round++)); do
  for name in "${!programs[@]}"; do
    cpus[$name]+="$(cpu "${programs[$name]}") "
    rsss[$name]+="$(rss "${programs[$name]}") "
  done
done

printf '%-10s %-60s %26s %24s\n' program path "cpu of $reps one-frame runs (s)" "peak RSS 1080p (KiB)"
for name in "${!programs[@]}"; do
  c=$(tr ' ' '\n' <<<"${cpus[$name]}" | grep . | min)
  r=$(tr ' ' '\n' <<<"${rsss[$name]}" | grep . | min)
  printf '%-10s %-60s %26s %24s\n' "$name" "${programs[$name]}" "$c" "$r"
  eval "cpu_$name=$c rss_$name=$r"
done
if [ -n "${BASELINE:-}" ]; then
  awk -v c="$cpu_current" -v cb="$cpu_baseline" -v r="$rss_current" -v rb="$rss_baseline" 'BEGIN {
    printf "current / baseline: processor time %.3f, peak RSS %.3f (%.1f MiB against %.1f MiB)\n",
      c / cb, r / rb, r / 1024, rb / 1024 }'
fi
