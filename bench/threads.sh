#!/usr/bin/env bash
# Frame-parallel speed-up of the library at 1920x1080 and 3840x2160: wall and
# processor time per frame for 1, 2 and all threads, for the one-pass
# analysis and the per-indicator path, in alternating rounds (best and median).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >/dev/null
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF -DLUMAQC_BENCH=ON >/dev/null
cmake --build build-bench -j2 --target threadsBench makeSampleClip >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
uptime
build-bench/makeSampleClip "$work/hd.yuv" 1920 1080 200
build-bench/threadsBench "$work/hd.yuv" 1920 1080 200 "${ROUNDS:-5}"
build-bench/makeSampleClip "$work/uhd.yuv" 3840 2160 60
build-bench/threadsBench "$work/uhd.yuv" 3840 2160 60 "${ROUNDS:-5}"
uptime
