#!/usr/bin/env bash
# Builds an optimised lumaqc, makes the deterministic sample clip and analyses it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target lumaqc makeSampleClip >/dev/null
mkdir -p sample
build/makeSampleClip sample/sample.yuv
cd sample
../build/lumaqc sample.yuv 352 288
