#!/usr/bin/env bash
# Instructions per 1920x1080 frame, counted by valgrind's callgrind: the
# same count on any load, where processor time on a shared machine varies
# from round to round. Marginal count per frame of a single-thread run (30
# frames minus 6, so that start-up drops out), at 1920x1080 and 7680x4320,
# for this build and, with BASELINE=path/to/another/lumaqc, for that program
# in the same invocation, with the ratio of the two. TOP=N also lists the N
# functions with the most instructions at 1920x1080.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v valgrind >/dev/null || { echo "instructions.sh needs valgrind" >&2; exit 2; }
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target lumaqc makeSampleClip >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build-bench/makeSampleClip "$work/hd30.yuv" 1920 1080 30 >/dev/null
head -c $((1920 * 1080 * 3 / 2 * 6)) "$work/hd30.yuv" >"$work/hd6.yuv"
build-bench/makeSampleClip "$work/uhd6.yuv" 7680 4320 6 >/dev/null
head -c $((7680 * 4320 * 3 / 2 * 2)) "$work/uhd6.yuv" >"$work/uhd2.yuv"

count() {  # program clip width height [output] -> instructions of the whole run
    local out=${5:-/dev/null}
    (cd "$work" && valgrind --tool=callgrind --callgrind-out-file="$out" "$1" --quiet --no-progress --threads 1 \
        "$2" "$3" "$4" 2>&1 >/dev/null) | sed -n 's/.*I *refs: *//p' | tr -d ,
}

declare -A perFrame perPixel8k
programs=(lumaqc)
declare -A binary=([lumaqc]="$PWD/build-bench/lumaqc")
if [[ -n "${BASELINE:-}" ]]; then
    programs+=(baseline)
    binary[baseline]=$(realpath "$BASELINE")
fi
for name in "${programs[@]}"; do
    b=${binary[$name]}
    long=$(count "$b" hd30.yuv 1920 1080 "$work/$name.callgrind")
    short=$(count "$b" hd6.yuv 1920 1080)
    perFrame[$name]=$(((long - short) / 24))
    big=$(count "$b" uhd6.yuv 7680 4320)
    small=$(count "$b" uhd2.yuv 7680 4320)
    perPixel8k[$name]=$(((big - small) / 4))
    p=$([[ $name == lumaqc ]] && echo "" || echo "${name}_")
    awk -v p="$p" -v f="${perFrame[$name]}" -v u="${perPixel8k[$name]}" 'BEGIN {
        printf "%sinstructions_per_frame=%d (%.2f per pixel)\n", p, f, f / (1920 * 1080)
        printf "%sinstructions_per_8k_frame=%d (%.2f per pixel)\n", p, u, u / (7680 * 4320) }'
done
if [[ -n "${BASELINE:-}" ]]; then
    awk -v a="${perFrame[lumaqc]}" -v b="${perFrame[baseline]}" \
        'BEGIN { printf "instructions_vs_baseline=%.3f\n", a / b }'
fi
if [[ -n "${TOP:-}" ]]; then
    callgrind_annotate "$work/lumaqc.callgrind" 2>/dev/null | grep -E '^ *[0-9,]+ \(' | sed -n "2,$((TOP + 1))p" |
        sed -E 's/\(([^()]|\([^()]*\))*\) \[.*//'
fi
