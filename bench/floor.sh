#!/usr/bin/env bash
# The whole program against the memory floor, in one invocation: the luma
# reader (bench/lumaReader.cpp: read each luma plane, sum it) and lumaqc on the
# same raw clips, in alternating rounds (ROUNDS, default 5), best and median.
#   1. single thread, 1920x1080: marginal processor time per frame (300 frames
#      minus 100, so that start-up and the first frames drop out), lumaqc over
#      the reader: floor_ratio;
#   2. 7680x4320 against 1920x1080: marginal processor time per pixel (40
#      frames minus 8 at 7680x4320, enough frames that the start-up's page
#      clearing, which varies from run to run, drops out): per_pixel_8k_ratio;
#   3. two threads against one, 1920x1080, 300 frames: wall-clock speed-up:
#      two_thread_speedup.
# BASELINE=path/to/another/lumaqc runs that program in the same rounds and
# prints its figures beside them (before and after in one run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >/dev/null
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target lumaqc makeSampleClip lumaReader >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build-bench/makeSampleClip "$work/hd300.yuv" 1920 1080 300 >/dev/null
head -c $((1920 * 1080 * 3 / 2 * 100)) "$work/hd300.yuv" >"$work/hd100.yuv"
build-bench/makeSampleClip "$work/uhd40.yuv" 7680 4320 40 >/dev/null
head -c $((7680 * 4320 * 3 / 2 * 8)) "$work/uhd40.yuv" >"$work/uhd8.yuv"

/usr/bin/python3 - "$work" "${ROUNDS:-5}" "${BASELINE:-}" <<'PY'
import os, statistics, subprocess, sys, time

work, rounds, baseline = sys.argv[1], int(sys.argv[2]), sys.argv[3]
root = os.getcwd()
reader = os.path.join(root, "build-bench/lumaReader")
programs = {"lumaqc": os.path.join(root, "build-bench/lumaqc")}
if baseline:
    programs["baseline"] = os.path.abspath(baseline)

def run(cmd):
    """Processor time (user + system) and wall-clock time, in seconds, of one child run."""
    start = time.monotonic()
    child = subprocess.Popen(cmd, cwd=work, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{' '.join(cmd)} failed with status {os.waitstatus_to_exitcode(status)}")
    return usage.ru_utime + usage.ru_stime, wall

def analyse(binary, clip, w, h, threads):
    return run([binary, "--quiet", "--no-progress", "--threads", str(threads), clip, str(w), str(h)])

figures = {}  # (name, figure) -> values per round
def note(name, figure, value):
    figures.setdefault((name, figure), []).append(value)

print("load before:", " ".join(f"{x:.2f}" for x in os.getloadavg()))
for _ in range(rounds):
    long_, short = run([reader, "hd300.yuv", "1920", "1080"])[0], run([reader, "hd100.yuv", "1920", "1080"])[0]
    note("reader", "ms_per_frame", (long_ - short) / 200 * 1000)
    for name, binary in programs.items():
        long_, short = analyse(binary, "hd300.yuv", 1920, 1080, 1)[0], analyse(binary, "hd100.yuv", 1920, 1080, 1)[0]
        note(name, "ms_per_frame", (long_ - short) / 200 * 1000)
        big, small = analyse(binary, "uhd40.yuv", 7680, 4320, 1)[0], analyse(binary, "uhd8.yuv", 7680, 4320, 1)[0]
        note(name, "ns_per_pixel_8k", (big - small) / (32 * 7680 * 4320) * 1e9)
        note(name, "ns_per_pixel_hd", (long_ - short) / (200 * 1920 * 1080) * 1e9)
        one, two = analyse(binary, "hd300.yuv", 1920, 1080, 1)[1], analyse(binary, "hd300.yuv", 1920, 1080, 2)[1]
        note(name, "two_thread_speedup", one / two)
print("load after: ", " ".join(f"{x:.2f}" for x in os.getloadavg()))

def best(name, figure, larger=False):
    values = figures[(name, figure)]
    return max(values) if larger else min(values)

def median(name, figure):
    return statistics.median(figures[(name, figure)])

print(f"reader_ms_per_frame={best('reader', 'ms_per_frame'):.3f} (median {median('reader', 'ms_per_frame'):.3f})")
for name in programs:
    p = "" if name == "lumaqc" else name + "_"
    print(f"{p}ms_per_frame={best(name, 'ms_per_frame'):.3f} (median {median(name, 'ms_per_frame'):.3f})")
    print(f"{p}floor_ratio={best(name, 'ms_per_frame') / best('reader', 'ms_per_frame'):.2f} "
          f"(median {median(name, 'ms_per_frame') / median('reader', 'ms_per_frame'):.2f})")
    print(f"{p}per_pixel_8k_ratio={best(name, 'ns_per_pixel_8k') / best(name, 'ns_per_pixel_hd'):.2f} "
          f"(median {median(name, 'ns_per_pixel_8k') / median(name, 'ns_per_pixel_hd'):.2f})")
    print(f"{p}two_thread_speedup={best(name, 'two_thread_speedup', True):.2f} "
          f"(median {median(name, 'two_thread_speedup'):.2f})")
if baseline:
    print(f"ms_per_frame_vs_baseline={best('lumaqc', 'ms_per_frame') / best('baseline', 'ms_per_frame'):.3f} "
          f"(median {median('lumaqc', 'ms_per_frame') / median('baseline', 'ms_per_frame'):.3f})")
PY
