#!/usr/bin/env bash
# Processor time the values added since 1.0 (brightest_block, block_difference
# and the others that show in the reports only) add per 1920x1080 frame, in
# one invocation: the same single-threaded lumaqc run with them and without
# them (LUMAQC_SKIP_ADDED_VALUES=1), in alternating rounds (ROUNDS, default 7)
# so that a shared machine's load falls on both alike. The last line is
# added_values_ratio=X (processor time with them / without them, best rounds).
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
without = dict(os.environ, LUMAQC_SKIP_ADDED_VALUES="1")
with_ = {k: v for k, v in os.environ.items() if k != "LUMAQC_SKIP_ADDED_VALUES"}

def run(env):
    """Processor time (user + system) of one run, in ms per frame."""
    child = subprocess.Popen(cmd, cwd=work, stdout=subprocess.DEVNULL, env=env)
    _, status, usage = os.wait4(child.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"lumaqc failed with status {os.waitstatus_to_exitcode(status)}")
    return (usage.ru_utime + usage.ru_stime) / frames * 1000

times = {"with": [], "without": []}
print("load before:", os.getloadavg())
for _ in range(rounds):
    times["without"].append(run(without))
    times["with"].append(run(with_))
print("load after: ", os.getloadavg())
for name, t in times.items():
    print(f"{name + ' the added values':30s} best {min(t):8.3f}  median {statistics.median(t):8.3f} ms per 1920x1080 frame")
print(f"median ratio {statistics.median(times['with']) / statistics.median(times['without']):.3f}")
print(f"added_values_ratio={min(times['with']) / min(times['without']):.3f}")
PY
