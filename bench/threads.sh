#!/usr/bin/env bash
# Frame-parallel speed-up of the library at 1920x1080 and 3840x2160: wall and
# processor time per frame for 1, 2 and all threads, in one invocation each.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >/dev/null
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF -DLUMAQC_BENCH=ON >/dev/null
cmake --build build-bench -j"$(nproc)" --target threadsBench makeSampleClip >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build-bench/makeSampleClip "$work/hd.yuv" 1920 1080 200
build-bench/threadsBench "$work/hd.yuv" 1920 1080 200 3
build-bench/makeSampleClip "$work/uhd.yuv" 3840 2160 60
build-bench/threadsBench "$work/uhd.yuv" 3840 2160 60 3
