#!/usr/bin/env bash
# Whole-program comparison, single-threaded, processor time per frame:
#   lumaqc, the reference executable (literal indicators), and ffmpeg running
#   the comparable no-reference filters on the same 1920x1080 clip.
# Also reports lumaqc's peak resident memory at 1920x1080 and 3840x2160.
# The last line is ratio_vs_ffmpeg=X (ffmpeg's time per frame / lumaqc's).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --bench >/dev/null
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target lumaqc lumaqcReference makeSampleClip >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frames=100
build-bench/makeSampleClip "$work/clip.yuv" 1920 1080 "$frames"
build-bench/makeSampleClip "$work/clip4k.yuv" 3840 2160 20

python3 - "$work" "$frames" <<'PY'
import os, subprocess, sys

work, frames = sys.argv[1], int(sys.argv[2])
root = os.getcwd()

def run(cmd):
    """Processor time (user + system, seconds) and peak RSS (KiB) of one child run."""
    child = subprocess.Popen(cmd, cwd=work, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"{cmd[0]} failed with status {child.returncode}")
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss

def best(cmd, repeats=3):
    return min(run(cmd)[0] for _ in range(repeats))

lumaqc = os.path.join(root, "build-bench/lumaqc")
reference = os.path.join(root, "build-bench/lumaqcReference")
ffmpeg = ["ffmpeg", "-v", "error", "-threads", "1", "-filter_threads", "1", "-f", "rawvideo",
          "-pix_fmt", "yuv420p", "-s", "1920x1080", "-r", "25", "-i", "clip.yuv", "-vf",
          "siti,blockdetect,blurdetect,idet,blackdetect,freezedetect,signalstats,cropdetect",
          "-f", "null", "-"]

fast_ms = best([lumaqc, "clip.yuv", "1920", "1080"]) / frames * 1000
ref_ms = best([reference, "clip.yuv", "1920", "1080"], repeats=1) / frames * 1000
ffmpeg_ms = best(ffmpeg, repeats=1) / frames * 1000

# Peak memory of a single run per size.
_, rss_hd = run([lumaqc, "clip.yuv", "1920", "1080", "25", "20"])
cpu_4k, rss_4k = run([lumaqc, "clip4k.yuv", "3840", "2160"])
ms_4k = cpu_4k / 20 * 1000

print(f"lumaqc           {fast_ms:9.3f} ms per 1920x1080 frame")
print(f"lumaqcReference  {ref_ms:9.3f} ms per 1920x1080 frame")
print(f"ffmpeg filters   {ffmpeg_ms:9.3f} ms per 1920x1080 frame")
print(f"reference / lumaqc = {ref_ms / fast_ms:.1f}")
print(f"ffmpeg / lumaqc    = {ffmpeg_ms / fast_ms:.1f}")
print(f"lumaqc 3840x2160   {ms_4k:9.3f} ms per frame ({ms_4k / fast_ms:.2f} x the 1920x1080 time for 4 x the pixels)")
print(f"peak resident memory of lumaqc: {rss_hd / 1024:.1f} MB at 1920x1080, {rss_4k / 1024:.1f} MB at 3840x2160")
print(f"ratio_vs_ffmpeg={ffmpeg_ms / fast_ms:.1f}")
PY
