#!/usr/bin/python3
"""Labelled clips at the edges of the legal-range rule, and what the levels cost.

Usage: bench/compliance/levels.py [--lumaqc PATH] [--dir DIR] [--rounds N]
Makes each clip with FFmpeg (lossless Y4M, 4:2:0, exact luma codes written by geq), runs
lumaqc --fail-if 'out_of_range.count>0' on it and compares the verdict with the one written
down from the rule: a frame is out of range when more than --range-area (default 1 %) of its
samples lie outside the range (default EBU R 103: codes 5 to 246). Prints one line per clip,
then agreement=N/M. Then times a 1920x1080 clip single-threaded with the values added since
1.0 and without them (LUMAQC_SKIP_ADDED_VALUES=1), in alternating rounds, and prints
added_values_ratio (processor time with / without, best rounds).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
W, H, FRAMES = 640, 360, 10
SAMPLES = W * H

# name, luma expression (geq; X, Y, W, H), lumaqc options, expected verdict (True: out of range).
# A patch is the first N samples in raster order (a strip along the top); scattered samples
# lie where (7X + 13Y) mod 1000 falls below the share in thousandths.
def patch(share, code):
    return f"if(lt(Y*W+X\\,{round(share * SAMPLES)})\\,{code}\\,128)"

def scattered(permille, code):
    return f"if(lt(mod(7*X+13*Y\\,1000)\\,{permille})\\,{code}\\,128)"

CLIPS = []
for side, codes in (("below 5", (4, 0)), ("above 246", (247, 255))):
    for share, out in ((0.005, False), (0.009, False), (0.011, True), (0.05, True)):
        for code in codes:
            CLIPS.append((f"patch {share * 100:g} % {side} (code {code})", patch(share, code), [], out))
    for permille, out in ((9, False), (11, True)):
        CLIPS.append((f"scattered {permille / 10:g} % {side}", scattered(permille, codes[0]), [], out))
CLIPS += [
    ("0.45 % below and 0.45 % above", f"if(lt(Y*W+X\\,{round(0.0045 * SAMPLES)})\\,0\\,"
     f"if(gte(Y*W+X\\,{SAMPLES - round(0.0045 * SAMPLES)})\\,255\\,128))", [], False),
    ("0.6 % below and 0.6 % above", f"if(lt(Y*W+X\\,{round(0.006 * SAMPLES)})\\,0\\,"
     f"if(gte(Y*W+X\\,{SAMPLES - round(0.006 * SAMPLES)})\\,255\\,128))", [], True),
    ("clean ramp 16 to 235", "16+219*X/(W-1)", [], False),
    ("clean ramp 5 to 246 (the range's own edges)", "5+241*X/(W-1)", [], False),
    ("clean noise 20 to 230", "20+210*random(1)", [], False),
    ("5 % at code 5", patch(0.05, 5), [], False),
    ("5 % at code 246", patch(0.05, 246), [], False),
    ("5 % at 240, nominal range", patch(0.05, 240), ["--range", "nominal"], True),
    ("5 % at 10, nominal range", patch(0.05, 10), ["--range", "nominal"], True),
    ("5 % at 0, full range", patch(0.05, 0), ["--range", "full"], False),
    ("5 % below 5, area 5 %", patch(0.05, 0), ["--range-area", "0.05"], False),
    ("5.5 % below 5, area 5 %", patch(0.055, 0), ["--range-area", "0.05"], True),
]


def run(cmd, **kwargs):
    return subprocess.run(cmd, check=False, **kwargs)


def make(path, expression):
    graph = f"nullsrc=s={W}x{H}:r=25,format=yuv420p,geq=lum='{expression}':cb=128:cr=128"
    done = run(["ffmpeg", "-v", "error", "-y", "-nostdin", "-f", "lavfi", "-i", graph, "-frames:v", str(FRAMES),
                "-pix_fmt", "yuv420p", path])
    if done.returncode != 0:
        sys.exit(f"ffmpeg could not make {path}")


def verdicts(lumaqc, folder):
    agree = 0
    for i, (name, expression, options, expected) in enumerate(CLIPS):
        path = os.path.join(folder, f"levels{i:02d}.y4m")
        make(path, expression)
        done = run([lumaqc, "--quiet", "--no-progress", "--threads", "1", "--fail-if", "out_of_range.count>0"] +
                   options + [path], cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if done.returncode not in (0, 1):
            sys.exit(f"lumaqc failed on {name}: {done.stderr.strip()}")
        got = done.returncode == 1
        agree += got == expected
        print(f"{'ok  ' if got == expected else 'MISS'} {name:48s} expected {'fail' if expected else 'pass'}, "
              f"got {'fail' if got else 'pass'}")
    print(f"agreement={agree}/{len(CLIPS)}")
    return agree == len(CLIPS)


def cost(lumaqc, folder, rounds):
    clip = os.path.join(folder, "cost.y4m")
    graph = "testsrc2=s=1920x1080:r=25,format=yuv420p"
    if run(["ffmpeg", "-v", "error", "-y", "-nostdin", "-f", "lavfi", "-i", graph, "-frames:v", "100", clip]).returncode:
        sys.exit("ffmpeg could not make the 1920x1080 clip")
    with_ = {k: v for k, v in os.environ.items() if k != "LUMAQC_SKIP_ADDED_VALUES"}
    without = dict(with_, LUMAQC_SKIP_ADDED_VALUES="1")

    def seconds(env):
        child = subprocess.Popen([lumaqc, "--threads", "1", "--quiet", "--no-progress", clip], cwd=folder,
                                 stdout=subprocess.DEVNULL, env=env)
        _, status, usage = os.wait4(child.pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit("lumaqc failed on the 1920x1080 clip")
        return (usage.ru_utime + usage.ru_stime) / 100 * 1000

    times = {"with": [], "without": []}
    for _ in range(rounds):
        times["without"].append(seconds(without))
        times["with"].append(seconds(with_))
    for name, t in times.items():
        print(f"{name + ' the added values':28s} best {min(t):7.3f} ms per 1920x1080 frame")
    print(f"added_values_ratio={min(times['with']) / min(times['without']):.3f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lumaqc", default=os.path.join(ROOT, "build", "lumaqc"))
    parser.add_argument("--dir", help="keep the clips here (default: a temporary folder)")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    if not shutil.which("ffmpeg"):
        sys.exit("ffmpeg is not installed (scripts/install-deps.sh installs it)")
    lumaqc = os.path.abspath(args.lumaqc)
    with tempfile.TemporaryDirectory() as scratch:
        folder = args.dir or scratch
        os.makedirs(folder, exist_ok=True)
        ok = verdicts(lumaqc, folder)
        cost(lumaqc, folder, args.rounds)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
