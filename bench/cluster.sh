#!/usr/bin/env bash
# lumaqc.cluster over a batch of 1920x1080 raw clips: frames per second of the whole
# job with one Dask worker, then with two (one task at a time per worker, each task
# one lumaqc run with one thread). Scheduler and workers on 127.0.0.1, stopped at the end.
# Usage: bench/cluster.sh [CLIPS [FRAMES]]    (default 8 clips of 120 frames)
set -euo pipefail
cd "$(dirname "$0")/.."
clips=${1:-8}
frames=${2:-120}
scripts/install-deps.sh >/dev/null
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target lumaqc makeSampleClip _lumaqc >/dev/null
export PYTHONPATH=$PWD/build-bench/python
py=/usr/bin/python3

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/clips"
for i in $(seq 1 "$clips"); do
  build-bench/makeSampleClip "$work/clips/hd$i.yuv" 1920 1080 "$frames" >/dev/null
done

. bench/localDask.sh
job() {
  $py -m lumaqc.cluster --scheduler "$address" --force --size 1920x1080 --out "$work/out" "$work/clips" >/dev/null
  $py -c "import json; print(json.load(open('$work/out/summary.json'))['frames_per_second'])"
}

worker 1
job >/dev/null   # a first pass brings the clips into the page cache
one=$(job)
worker 2
two=$(job)
echo "clips=$clips frames_per_clip=$frames size=1920x1080 processors=$(nproc)"
echo "one_worker_fps=$one"
echo "two_workers_fps=$two"
$py -c "print('speedup=%.2f' % ($two / $one))"
