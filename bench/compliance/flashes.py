#!/usr/bin/python3
"""Labelled clips at the edges of the flash screening's rule, and what the screening costs.

Usage: bench/compliance/flashes.py [--lumaqc PATH] [--dir DIR] [--rounds N] [--per-pixel]
Makes each clip with FFmpeg (lossless Y4M, 640x360, exact luma codes written by geq): a field over a
share of the rows alternating between two grey levels at a number of flashes per second, slow fades and
camera flashes. Runs lumaqc --fail-if 'flash.count>0' on it and compares the verdict with the one
written down from the rule (more than 3 flashes in any second; a transition: at least 20 cd/m2 with the
darker state below 160 cd/m2 over more than a quarter of the screen). --per-pixel also measures the same
rule per sample (numpy, from FFmpeg's decoding) and prints where lumaqc's 8 x 8 block measurement and it
differ. Prints agreement=N/M. Then the processor time per 1920x1080 frame of single-threaded runs with
every added value, without the flash screening (LUMAQC_SKIP_ADDED_VALUES=flashes), without the signal
levels (=levels) and without any (=1), in alternating rounds: flashes_ratio, levels_ratio, their sum
levels_and_flashes_ratio and added_values_ratio (time with them over time without, best rounds).
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
W, H = 640, 360


def luminance(code):
    """Screen luminance (cd/m2): BT.1886, 200 at code 235, 0 at code 16, clamped."""
    v = min(max(code - 16, 0), 219) / 219
    return 200.0 * v ** 2.4


def field(rate, fps, share, dark, bright):
    """A band of round(share x H) rows from the top, a square wave of rate flashes a second."""
    rows = round(share * H)
    eighths = round(rate * 8)
    return f"if(lt(Y\\,{rows})\\,if(mod(floor(N*{2 * eighths}/{8 * fps})\\,2)\\,{bright}\\,{dark})\\,128)"


def expected_field(rate, fps, share, dark, bright):
    step = luminance(bright) - luminance(dark)
    # Transitions fit in fps frames: more than 6 when the half period is below fps / 6 frames.
    return rate > 3 and round(share * H) / H > 0.25 and step >= 20 and luminance(dark) < 160


CLIPS = []  # name, fps, frames, geq expression, expected verdict (True: fails)
for fps in (25, 50):
    for rate in (2.5, 3.0, 3.125, 4.0):
        CLIPS.append((f"{rate:g} flashes/s at {fps} fps, 60 %", fps, 2 * fps, field(rate, fps, 0.6, 40, 200),
                      expected_field(rate, fps, 0.6, 40, 200)))
    for share in (0.20, 0.24, 0.26):
        CLIPS.append((f"4 flashes/s at {fps} fps, {share * 100:g} % of the screen", fps, 2 * fps,
                      field(4.0, fps, share, 40, 200), expected_field(4.0, fps, share, 40, 200)))
# Darker states of 150 and 170 cd/m2 (codes 210, 221), steps of about 18 and 22 cd/m2.
for dark, bright in ((210, 219), (210, 221), (221, 230), (221, 232)):
    name = (f"4 flashes/s, {luminance(bright) - luminance(dark):.1f} cd/m2 up from {luminance(dark):.1f}")
    CLIPS.append((name, 25, 50, field(4.0, 25, 0.6, dark, bright), expected_field(4.0, 25, 0.6, dark, bright)))
CLIPS += [
    ("fade black to white and back over 2 s", 25, 50, "if(lt(N\\,25)\\,16+219*N/24\\,235-219*(N-25)/24)", False),
    ("fade over 4 s, twice", 25, 200, "16+219*abs(mod(N\\,100)-50)/50", False),
    ("one camera flash", 25, 50, "if(eq(N\\,10)\\,235\\,100)", False),
    ("three camera flashes in a second", 25, 50, "if(eq(N\\,5)+eq(N\\,12)+eq(N\\,19)\\,235\\,100)", False),
    ("camera flashes twice a second", 25, 100, "if(eq(mod(N\\,12)\\,3)\\,235\\,100)", False),
    ("four camera flashes in a second", 25, 50, "if(eq(N\\,5)+eq(N\\,11)+eq(N\\,17)+eq(N\\,23)\\,235\\,100)", True),
]


def run(cmd, **kwargs):
    return subprocess.run(cmd, check=False, **kwargs)


def make(path, fps, frames, expression, size=(W, H)):
    graph = f"nullsrc=s={size[0]}x{size[1]}:r={fps},format=yuv420p,geq=lum='{expression}':cb=128:cr=128"
    done = run(["ffmpeg", "-v", "error", "-y", "-nostdin", "-f", "lavfi", "-i", graph, "-frames:v", str(frames),
                "-pix_fmt", "yuv420p", path])
    if done.returncode != 0:
        sys.exit(f"ffmpeg could not make {path}")


def luma_planes(path, width, height):
    """The luma codes of every frame as stored (a conversion to gray would stretch them to full range)."""
    import numpy as np
    raw = run(["ffmpeg", "-v", "error", "-nostdin", "-i", path, "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"],
              stdout=subprocess.PIPE).stdout
    frames = np.frombuffer(raw, np.uint8).reshape(-1, width * height * 3 // 2)
    return frames[:, :width * height].reshape(-1, height, width)


def per_pixel_fails(path, fps):
    """The rule measured per sample: each sample's run of monotonic change, reaching back a second."""
    import numpy as np
    frames = luma_planes(path, W, H).astype(np.int16)
    lum = np.array([luminance(c) for c in range(256)])
    window = max(1, round(fps))
    flags, worst = [0], 0.0
    direction = np.zeros((H, W), np.int8)
    run_start = np.zeros((H, W), np.int64)
    for t in range(1, len(frames)):
        change = np.sign(frames[t] - frames[t - 1]).astype(np.int8)
        turned = (change != 0) & (change != direction)
        direction[turned] = change[turned]
        run_start[turned] = t - 1
        start = np.maximum(run_start, t - window)
        anchor = frames[start, np.arange(H)[:, None], np.arange(W)[None, :]]
        a, b = lum[anchor], lum[frames[t]]
        moving = (change != 0) & (np.abs(b - a) >= 20) & (np.minimum(a, b) < 160)
        up = np.count_nonzero(moving & (change > 0)) / (H * W)
        down = np.count_nonzero(moving & (change < 0)) / (H * W)
        flags.append((up > 0.25) | ((down > 0.25) << 1))
        count, last = 0, 0
        for f in range(max(1, t - window + 1), t + 1):
            rose = flags[f] & ~flags[f - 1]
            if rose & 1 and last != 1:
                count, last = count + 1, 1
            elif rose & 2 and last != -1:
                count, last = count + 1, -1
        worst = max(worst, count / 2)
    return worst > 3


def verdicts(lumaqc, folder, per_pixel):
    agree = pixel_agree = 0
    for i, (name, fps, frames, expression, expected) in enumerate(CLIPS):
        path = os.path.join(folder, f"flashes{i:02d}.y4m")
        make(path, fps, frames, expression)
        done = run([lumaqc, "--quiet", "--no-progress", "--threads", "1", "--fail-if", "flash.count>0", path],
                   cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if done.returncode not in (0, 1):
            sys.exit(f"lumaqc failed on {name}: {done.stderr.strip()}")
        got = done.returncode == 1
        agree += got == expected
        line = (f"{'ok  ' if got == expected else 'MISS'} {name:52s} expected {'fail' if expected else 'pass'}, "
                f"got {'fail' if got else 'pass'}")
        if per_pixel:
            pixel = per_pixel_fails(path, fps)
            pixel_agree += pixel == got
            line += f", per sample {'fail' if pixel else 'pass'}"
        print(line)
    print(f"agreement={agree}/{len(CLIPS)}")
    if per_pixel:
        print(f"blocks_agree_with_samples={pixel_agree}/{len(CLIPS)}")
    return agree == len(CLIPS)


def cost(lumaqc, folder, rounds):
    clip = os.path.join(folder, "cost.y4m")
    # Moving pictures with a flashing band over them, so every part of the screening works.
    graph = ("testsrc2=s=1920x1080:r=25,format=yuv420p,"
             "drawbox=y=0:w=iw:h=ih*0.4:t=fill:color=white:enable='lt(mod(n\\,8)\\,4)'")
    if run(["ffmpeg", "-v", "error", "-y", "-nostdin", "-f", "lavfi", "-i", graph, "-frames:v", "100", clip]).returncode:
        sys.exit("ffmpeg could not make the 1920x1080 clip")
    base = {k: v for k, v in os.environ.items() if k != "LUMAQC_SKIP_ADDED_VALUES"}
    # Each configuration: the group of added values skipped (None: none).
    configs = {"all": None, "flashes": "flashes", "levels": "levels", "none": "1"}

    def seconds(skip):
        env = dict(base, LUMAQC_SKIP_ADDED_VALUES=skip) if skip else base
        child = subprocess.Popen([lumaqc, "--threads", "1", "--quiet", "--no-progress", clip], cwd=folder,
                                 stdout=subprocess.DEVNULL, env=env)
        _, status, usage = os.wait4(child.pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit("lumaqc failed on the 1920x1080 clip")
        return (usage.ru_utime + usage.ru_stime) / 100 * 1000

    times = {name: [] for name in configs}
    for _ in range(rounds):
        for name, skip in configs.items():
            times[name].append(seconds(skip))
    labels = {"all": "with every added value", "flashes": "without the flash screening",
              "levels": "without the signal levels", "none": "without any added value"}
    for name, t in times.items():
        print(f"{labels[name]:30s} best {min(t):7.3f} ms per 1920x1080 frame")
    best = {name: min(t) for name, t in times.items()}
    flashes, levels = best["all"] / best["flashes"], best["all"] / best["levels"]
    print(f"flashes_ratio={flashes:.3f}")
    print(f"levels_ratio={levels:.3f}")
    print(f"levels_and_flashes_ratio={flashes + levels - 1:.3f}")
    print(f"added_values_ratio={best['all'] / best['none']:.3f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lumaqc", default=os.path.join(ROOT, "build", "lumaqc"))
    parser.add_argument("--dir", help="keep the clips here (default: a temporary folder)")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--per-pixel", action="store_true", help="also measure the rule per sample")
    args = parser.parse_args()
    if not shutil.which("ffmpeg"):
        sys.exit("ffmpeg is not installed (scripts/install-deps.sh installs it)")
    lumaqc = os.path.abspath(args.lumaqc)
    with tempfile.TemporaryDirectory() as scratch:
        folder = args.dir or scratch
        os.makedirs(folder, exist_ok=True)
        ok = verdicts(lumaqc, folder, args.per_pixel)
        cost(lumaqc, folder, args.rounds)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
