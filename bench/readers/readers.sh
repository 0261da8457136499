#!/usr/bin/env bash
# Processor time per 1080p frame of decoding an H.264 clip: the libav reader
# (one decoder thread, then the decoder's own choice) against ffmpeg with one
# thread. Usage: bench/readers/readers.sh [FRAMES]
set -euo pipefail
cd "$(dirname "$0")/../.."
frames=${1:-200}
scripts/install-deps.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_BENCH=ON -DLUMAQC_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target lumaqc_reader_bench makeSampleClip >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build-bench/makeSampleClip "$work/clip.yuv" 1920 1080 "$frames" >/dev/null
ffmpeg -v error -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 25 -i "$work/clip.yuv" -c:v libx264 -preset medium \
  -crf 23 "$work/clip.mp4"
cpu() { # processor milliseconds per frame (user + system) of a command, output discarded
  local me=$BASHPID t0 t1
  t0=$(awk '{print $14+$15+$16+$17}' "/proc/$me/stat")
  "$@" >/dev/null 2>&1
  t1=$(awk '{print $14+$15+$16+$17}' "/proc/$me/stat")
  awk -v d=$((t1 - t0)) -v hz="$(getconf CLK_TCK)" -v n="$frames" 'BEGIN { printf "%.2f\n", d * 1000 / hz / n }'
}
# Three alternating rounds (the machine is shared); the least of each is printed.
best() { sort -n | head -1; }
for round in 1 2 3; do
  cpu ffmpeg -v error -threads 1 -i "$work/clip.mp4" -f null - >>"$work/ffmpeg"
  cpu build-bench/lumaqc_reader_bench "$work/clip.mp4" 1 >>"$work/reader1"
  cpu build-bench/lumaqc_reader_bench "$work/clip.mp4" 0 >>"$work/reader0"
done
echo "frames=$frames (1920x1080 H.264, libx264 medium crf 23)"
echo "ffmpeg_threads1_cpu_ms_per_frame=$(best <"$work/ffmpeg")"
echo "reader_threads1_cpu_ms_per_frame=$(best <"$work/reader1")"
echo "reader_decoder_threads_cpu_ms_per_frame=$(best <"$work/reader0")"
