#!/usr/bin/env bash
# What a piece of a container costs, on a 1920x1080 H.264 clip (B-frames, a key
# frame every 2 s) made by ffmpeg: processor time of a start near the end
# reached by seeking against decoding every frame before it
# (LUMAQC_CONTAINER_SEEK=off), and the per-piece costs of a cluster job:
# program start-up, seek and warm-up, analysis per frame, merge per piece.
# Every lumaqc run has one analysis thread; each figure is the least of REPEAT runs.
# Usage: [BUILD=DIR] bench/containerPieces.sh [FRAMES [REPEAT]]    (default 3000 frames, 3 runs;
# BUILD: a build folder to use as it is, else build-bench is made)
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-3000}
repeat=${2:-3}
if [ -z "${BUILD:-}" ]; then
  BUILD=build-bench
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target lumaqc lumaqc_libav >/dev/null
fi
lumaqc=$(cd "$BUILD" && pwd)/lumaqc
py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" -vf noise=alls=8:allf=t \
  -c:v libx264 -preset veryfast -bf 3 -g 50 -pix_fmt yuv420p master.mp4

# Processor time (user + system, seconds) of a command and its children, the least of $repeat runs.
cpu() {
  $py - "$repeat" "$@" <<'EOF'
import os, resource, subprocess, sys
repeat, command = int(sys.argv[1]), sys.argv[2:]
best = None
for _ in range(repeat):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    spent = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    best = spent if best is None else min(best, spent)
print(f"{best:.4f}")
EOF
}
run() { cpu "$lumaqc" --quiet --no-progress --no-log --threads 1 "$@"; }
seekless() { cpu env LUMAQC_CONTAINER_SEEK=off "$lumaqc" --quiet --no-progress --no-log --threads 1 "$@"; }

# A piece start near the end (8k + 1), and 100 frames analysed from it.
late=$(( (frames - 150) / 8 * 8 + 1 ))
analysed=100
seek=$(run --start "$late" --frames "$analysed" master.mp4)
linear=$(seekless --start "$late" --frames "$analysed" master.mp4)
startup=$(run --frames 1 master.mp4)
piece1=$(run --run-start 0 --start "$late" --frames 1 master.mp4)
pieceN=$(run --run-start 0 --start "$late" --frames $((analysed + 1)) master.mp4)

# Merge: ten pieces of 104 frames each (a piece starts at 0 or 8k + 1), merged as the cluster job merges them.
pieces=10
names=()
for k in $(seq 0 $((pieces - 1))); do
  start=$(( k == 0 ? 0 : k * 104 + 1 ))
  count=$(( (k + 1) * 104 + 1 - start ))
  "$lumaqc" --quiet --no-progress --no-log --threads 1 --run-start 0 --start "$start" --frames "$count" \
    --json "piece$k.json" master.mp4 >/dev/null 2>&1
  names+=("piece$k.json")
done
merge=$(cpu "$lumaqc" merge --json merged.json "${names[@]}")

$py - "$frames" "$late" "$analysed" "$seek" "$linear" "$startup" "$piece1" "$pieceN" "$merge" "$pieces" <<'EOF'
import sys
frames, late, analysed = map(int, sys.argv[1:4])
seek, linear, startup, piece1, pieceN, merge = map(float, sys.argv[4:10])
pieces = int(sys.argv[10])
print(f"1920x1080 H.264, {frames} frames at 25 fps, key frame every 50, B-frames; processor time, one analysis thread")
print(f"--start {late} --frames {analysed}: seeking {seek:.3f} s, decoding from frame 0 {linear:.3f} s: "
      f"{linear / seek:.1f} times less with the seek")
print(f"program start-up (open, probe, first frame): {startup * 1000:.0f} ms")
print(f"seek and warm-up of a piece: {(piece1 - startup) * 1000:.0f} ms")
print(f"decoding and analysis per frame: {(pieceN - piece1) / analysed * 1000:.2f} ms")
print(f"merge per piece of 104 frames: {merge / pieces * 1000:.1f} ms")
EOF
