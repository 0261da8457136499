#!/usr/bin/env bash
# One long master across a Dask cluster: a 1920x1080 H.264 MP4 (B-frames, a key
# frame every 2 s) made by ffmpeg, cut into pieces of CHUNK frames by
# lumaqc.cluster, analysed with one worker, then with two (one task at a time
# per worker, each task one lumaqc run with one thread), and once more whole by
# one local lumaqc run. Prints frames per second of each, the speed-up of two
# workers over one, and checks that the job's JSON equals the whole run's.
# Scheduler and workers on 127.0.0.1, stopped at the end.
# Usage: bench/clusterMaster.sh [FRAMES [CHUNK]]    (default 3000 frames, pieces of 500)
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-3000}
chunk=${2:-500}
scripts/install-deps.sh >/dev/null
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target lumaqc lumaqc_libav _lumaqc >/dev/null
export PYTHONPATH=$PWD/build-bench/python
py=/usr/bin/python3
lumaqc=$PWD/build-bench/lumaqc

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/in"
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" -vf noise=alls=8:allf=t \
  -c:v libx264 -preset veryfast -bf 3 -g 50 -pix_fmt yuv420p "$work/in/master.mp4"

. bench/localDask.sh
job() {
  $py -m lumaqc.cluster --scheduler "$address" --force --chunk-frames "$chunk" --out "$work/out" "$work/in" >/dev/null
  $py -c "import json; s = json.load(open('$work/out/summary.json')); print(s['frames_per_second'], s['files'][0].get('pieces'))"
}

start=$(date +%s.%N)
"$lumaqc" --quiet --no-progress --no-log --threads 1 --json "$work/whole.json" "$work/in/master.mp4"
local_fps=$($py -c "print(round($frames / ($(date +%s.%N) - $start), 1))")
worker 1
read -r one pieces < <(job)
worker 2
read -r two _ < <(job)
cmp -s "$work/out/master.mp4.json" "$work/whole.json" && same=yes || same=no
echo "master=1920x1080 H.264 frames=$frames chunk=$chunk pieces=$pieces processors=$(nproc)"
echo "local_whole_run_fps=$local_fps"
echo "one_worker_fps=$one"
echo "two_workers_fps=$two"
$py -c "print('speedup=%.2f' % ($two / $one))"
echo "job_json_equals_whole_run=$same"
