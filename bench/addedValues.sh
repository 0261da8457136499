#!/usr/bin/env bash
# Processor time the values added since 1.0 add per 1920x1080 frame, in one
# invocation: the same single-threaded lumaqc run with all of them, without
# the values of the events (brightest_block to field_order,
# LUMAQC_SKIP_ADDED_VALUES=events), without the signal levels (luma_min to
# above_range, =levels), without the flash screening (=flashes) and without
# any (=1), in alternating rounds (ROUNDS, default 7) so that a shared
# machine's load falls on all alike. The last lines are events_ratio,
# levels_ratio, flashes_ratio and added_values_ratio: processor time
# with all of them over the time without that group (best rounds).
# BUILD=folder of an optimised build to use as it is (default: build-bench, built here).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build-bench}
if [ -z "${BUILD:-}" ]; then
    cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMAQC_TESTS=OFF >/dev/null
    cmake --build build-bench -j2 --target lumaqc makeSampleClip >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/makeSampleClip" "$work/clip.yuv" 1920 1080 100

/usr/bin/python3 - "$work" "${ROUNDS:-7}" "$build" <<'PY'
import os, statistics, subprocess, sys

work, rounds, build = sys.argv[1], int(sys.argv[2]), sys.argv[3]
frames = 100
lumaqc = os.path.join(os.path.abspath(build), "lumaqc")
cmd = [lumaqc, "--threads", "1", "--quiet", "clip.yuv", "1920", "1080"]
base = {k: v for k, v in os.environ.items() if k != "LUMAQC_SKIP_ADDED_VALUES"}
# Each configuration: the skipped group (None: none).
configs = {"all": None, "events": "events", "levels": "levels", "flashes": "flashes", "none": "1"}

def run(skip):
    """Processor time (user + system) of one run, in ms per frame."""
    env = dict(base, LUMAQC_SKIP_ADDED_VALUES=skip) if skip else base
    child = subprocess.Popen(cmd, cwd=work, stdout=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(child.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"lumaqc failed with status {os.waitstatus_to_exitcode(status)}")
    return (usage.ru_utime + usage.ru_stime) / frames * 1000

times = {name: [] for name in configs}
print("load before:", os.getloadavg())
for _ in range(rounds):
    for name, skip in configs.items():
        times[name].append(run(skip))
print("load after: ", os.getloadavg())
labels = {"all": "with every added value", "events": "without the events' values",
          "levels": "without the signal levels", "flashes": "without the flash screening",
          "none": "without any added value"}
for name, t in times.items():
    print(f"{labels[name]:30s} best {min(t):8.3f}  median {statistics.median(t):8.3f} ms per 1920x1080 frame")
best = {name: min(t) for name, t in times.items()}
print(f"events_ratio={best['all'] / best['events']:.3f}")
print(f"levels_ratio={best['all'] / best['levels']:.3f}")
print(f"flashes_ratio={best['all'] / best['flashes']:.3f}")
print(f"added_values_ratio={best['all'] / best['none']:.3f}")
PY
