#!/usr/bin/env bash
# Whole-program comparison, single-threaded, processor time per frame, in one
# invocation: lumaqc with the one-pass analysis, lumaqc with the per-indicator
# path it replaced (LUMAQC_ANALYSIS_PATH=per-indicator), a luma-only reader
# (seek, read the luma plane, sum it with AVX2), the reference executable
# (literal indicators) and ffmpeg running the comparable no-reference filters.
# Sizes 1920x1080, 3840x2160 and 7680x4320. The machine may be shared: the
# programs run in alternating rounds (ROUNDS, default 5), and the best and the
# median round are reported with the load average before and after.
# The last line is ratio_vs_ffmpeg=X (ffmpeg's time per frame / lumaqc's).
# BASELINE=path/to/an/older/lumaqc adds that program to the same rounds (for
# a before/after comparison in one invocation) and the ratio of the two.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --bench >/dev/null
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target lumaqc lumaqcReference makeSampleClip lumaReader >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build-bench/makeSampleClip "$work/clip.yuv" 1920 1080 100
build-bench/makeSampleClip "$work/clip4k.yuv" 3840 2160 24
build-bench/makeSampleClip "$work/clip8k.yuv" 7680 4320 12

/usr/bin/python3 - "$work" "${ROUNDS:-5}" "${BASELINE:-}" <<'PY'
import os, statistics, subprocess, sys

work, rounds, baseline = sys.argv[1], int(sys.argv[2]), sys.argv[3]
root = os.getcwd()
sizes = {"1920x1080": ("clip.yuv", 100), "3840x2160": ("clip4k.yuv", 24), "7680x4320": ("clip8k.yuv", 12)}

def run(cmd, env=None):
    """Processor time (user + system, seconds) and peak RSS (KiB) of one child run."""
    child = subprocess.Popen(cmd, cwd=work, stdout=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(child.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{cmd[0]} failed with status {os.waitstatus_to_exitcode(status)}")
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss

lumaqc = os.path.join(root, "build-bench/lumaqc")
reference = os.path.join(root, "build-bench/lumaqcReference")
reader = os.path.join(root, "build-bench/lumaReader")
perIndicator = dict(os.environ, LUMAQC_ANALYSIS_PATH="per-indicator")
fused = {k: v for k, v in os.environ.items() if k != "LUMAQC_ANALYSIS_PATH"}
programs = {
    "fused": lambda clip, w, h: ([lumaqc, "--threads", "1", clip, w, h], fused),
    "per-indicator": lambda clip, w, h: ([lumaqc, "--threads", "1", clip, w, h], perIndicator),
    "luma reader": lambda clip, w, h: ([reader, clip, w, h], fused),
}
if baseline:
    programs["baseline"] = lambda clip, w, h: ([os.path.abspath(baseline), "--threads", "1", clip, w, h], fused)

print("load before:", os.getloadavg())
times = {(p, s): [] for p in programs for s in sizes}
rss = {}
for r in range(rounds):
    for size, (clip, frames) in sizes.items():
        w, h = size.split("x")
        for name, make in programs.items():
            cmd, env = make(clip, w, h)
            cpu, peak = run(cmd, env)
            times[(name, size)].append(cpu / frames * 1000)
            rss[(name, size)] = max(rss.get((name, size), 0), peak)
print("load after: ", os.getloadavg())

def best(name, size): return min(times[(name, size)])
def median(name, size): return statistics.median(times[(name, size)])

print(f"{'ms per frame (best / median of ' + str(rounds) + ')':44s}" + "".join(f"{s:>22s}" for s in sizes))
for name in programs:
    print(f"{name:44s}" + "".join(f"{best(name, s):11.3f} / {median(name, s):8.3f}" for s in sizes))
for size in sizes:
    print(f"{size}: fused / luma reader = {best('fused', size) / best('luma reader', size):.2f} "
          f"(median {median('fused', size) / median('luma reader', size):.2f}), "
          f"per-indicator / fused = {best('per-indicator', size) / best('fused', size):.2f} "
          f"(median {median('per-indicator', size) / median('fused', size):.2f})")
if baseline:
    for size in sizes:
        print(f"{size}: fused / baseline = {best('fused', size) / best('baseline', size):.3f} "
              f"(median {median('fused', size) / median('baseline', size):.3f})")
per_pixel = lambda name, size: best(name, size) / (int(size.split("x")[0]) * int(size.split("x")[1]))
for name in ("fused", "per-indicator"):
    print(f"{name}: per-pixel cost 7680x4320 / 1920x1080 = {per_pixel(name, '7680x4320') / per_pixel(name, '1920x1080'):.2f}, "
          f"3840x2160 / 1920x1080 = {per_pixel(name, '3840x2160') / per_pixel(name, '1920x1080'):.2f}")
for name in ("fused", "per-indicator"):
    print(f"peak resident memory, {name}: " + ", ".join(f"{rss[(name, s)] / 1024:.1f} MB at {s}" for s in sizes))

ref_ms = run([reference, "--threads", "1", "clip.yuv", "1920", "1080"])[0] / 100 * 1000
ffmpeg = ["ffmpeg", "-v", "error", "-threads", "1", "-filter_threads", "1", "-f", "rawvideo",
          "-pix_fmt", "yuv420p", "-s", "1920x1080", "-r", "25", "-i", "clip.yuv", "-vf",
          "siti,blockdetect,blurdetect,idet,blackdetect,freezedetect,signalstats,cropdetect",
          "-f", "null", "-"]
ffmpeg_ms = run(ffmpeg)[0] / 100 * 1000
fast_ms = best("fused", "1920x1080")
print(f"lumaqcReference  {ref_ms:9.3f} ms per 1920x1080 frame (reference / lumaqc = {ref_ms / fast_ms:.1f})")
print(f"ffmpeg filters   {ffmpeg_ms:9.3f} ms per 1920x1080 frame")
print(f"ratio_vs_ffmpeg={ffmpeg_ms / fast_ms:.1f}")
PY
