#!/usr/bin/python3
"""Makes the labelled clips and their truth files with FFmpeg, once: reruns reuse what is there.

Usage: bench/accuracy/generate.py [--dir DIR] [--jobs N] [--only NAME ...]
DIR defaults to $LUMAQC_ACCURACY_DIR, else build/accuracy. Each clip is rendered losslessly (FFV1 in
Matroska), and that picture is encoded with libx264 at three rates and with MPEG-2. A clip is made
again when the recipe that built it (filter graph, encoder options) differs from the one recorded
beside it.
"""

import argparse
import concurrent.futures
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import clips as catalogue  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Encodings of every clip: name -> encoder options given the clip. The lossless picture is the truth;
# the others are what the detectors meet in practice. "low" is a fixed budget of 0.03 bits per pixel.
ENCODINGS = ("ffv1", "x264-crf18", "x264-crf28", "x264-low", "mpeg2")


def encoder_options(encoding, clip):
    w, h = clip.size
    opts = []
    if encoding == "ffv1":
        return ["-c:v", "ffv1", "-level", "3", "-g", "1", "-slices", "4"]
    interlaced = clip.interlaced_order
    if interlaced:
        # interlaced pictures are coded as fields, as broadcasters do
        opts += ["-vf", f"setfield={interlaced}", "-flags", "+ildct+ilme"]
    if encoding.startswith("x264"):
        opts += ["-c:v", "libx264", "-preset", "fast", "-threads", "1", "-x264-params", "log=-1"]
        if encoding == "x264-low":
            opts += ["-b:v", str(int(w * h * clip.fps * 0.03))]
        else:
            opts += ["-crf", encoding.split("crf")[1]]
    else:
        opts += ["-c:v", "mpeg2video", "-qscale:v", "5", "-g", "12", "-bf", "2"]
        if interlaced:
            opts += ["-top", "1" if interlaced == "tff" else "0"]
    return opts


def still_path(folder):
    return os.path.join(folder, "still.png")


def make_still(folder):
    path = still_path(folder)
    if os.path.exists(path):
        return
    tmp = path + ".part.png"
    run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", catalogue.STILL_SOURCE, "-frames:v", "1", tmp])
    os.replace(tmp, path)


def run(cmd):
    done = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)}\n{done.stderr.strip()}")


def clip_path(folder, clip_name, encoding):
    return os.path.join(folder, "clips", f"{clip_name}.{encoding}.mkv")


def truth_path(folder, clip_name):
    return os.path.join(folder, "clips", f"{clip_name}.truth.json")


def master_command(clip, folder, out):
    inputs, still_inputs = [], {}
    for i, seg in enumerate(clip.segments):
        if seg.kind in ("pan", "zoompan", "static"):
            still_inputs[i] = len(inputs) // 2
            inputs += ["-i", still_path(folder)]
    graph = catalogue.filter_graph(clip, still_inputs)
    return (["ffmpeg", "-v", "error", "-y", "-nostdin", "-filter_threads", "1"] + inputs +
            ["-filter_complex", graph, "-map", "[out]", "-frames:v", str(clip.frames), "-r", str(clip.fps)] +
            encoder_options("ffv1", clip) + [out])


def recipe(clip, folder):
    text = json.dumps([master_command(clip, folder, "OUT"), [encoder_options(e, clip) for e in ENCODINGS]])
    return hashlib.sha256(text.encode()).hexdigest()


def make_clip(clip, folder):
    """Renders one clip in every encoding unless its recorded recipe is current. Returns True if made.
    The truth file is written every time: it costs nothing and follows the catalogue."""
    stamp = os.path.join(folder, "clips", f"{clip.name}.recipe")
    want = recipe(clip, folder)
    catalogue.write_truth(clip, truth_path(folder, clip.name))
    paths = [clip_path(folder, clip.name, e) for e in ENCODINGS]
    if os.path.exists(stamp) and open(stamp).read() == want and all(map(os.path.exists, paths)):
        return False
    if os.path.exists(stamp):
        os.remove(stamp)
    master = clip_path(folder, clip.name, "ffv1")
    tmp = master + ".part.mkv"
    run(master_command(clip, folder, tmp))
    os.replace(tmp, master)
    for encoding in ENCODINGS[1:]:
        out = clip_path(folder, clip.name, encoding)
        tmp = out + ".part.mkv"
        run(["ffmpeg", "-v", "error", "-y", "-nostdin", "-i", master] + encoder_options(encoding, clip) +
            ["-an", tmp])
        os.replace(tmp, out)
    with open(stamp, "w") as f:
        f.write(want)
    return True


def default_folder():
    return os.environ.get("LUMAQC_ACCURACY_DIR") or os.path.join(ROOT, "build", "accuracy")


def generate(folder, jobs=2, only=None, log=sys.stderr):
    if not shutil.which("ffmpeg"):
        raise RuntimeError("ffmpeg is not installed (scripts/install-deps.sh installs it)")
    encoders = subprocess.run(["ffmpeg", "-hide_banner", "-encoders"], capture_output=True, text=True).stdout
    missing = [e for e in ("ffv1", "libx264", "mpeg2video") if not re.search(rf"\s{e}\s", encoders)]
    if missing:
        raise RuntimeError(f"this ffmpeg lacks the encoders {', '.join(missing)}")
    os.makedirs(os.path.join(folder, "clips"), exist_ok=True)
    make_still(folder)
    chosen = [c for c in catalogue.CLIPS if not only or c.name in only]
    started = time.monotonic()
    made = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = {pool.submit(make_clip, clip, folder): clip for clip in chosen}
        for future in concurrent.futures.as_completed(futures):
            if future.result():
                made += 1
                print(f"made {futures[future].name}", file=log, flush=True)
    print(f"{made} of {len(chosen)} clips made in {time.monotonic() - started:.1f} s "
          f"({len(chosen) - made} reused) in {folder}", file=log)
    return chosen


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--dir", default=default_folder(), help="where the clips are kept")
    parser.add_argument("--jobs", type=int, default=2, help="FFmpeg runs at once (default 2)")
    parser.add_argument("--only", nargs="*", help="clip names")
    args = parser.parse_args()
    try:
        generate(args.dir, args.jobs, args.only)
    except RuntimeError as e:
        print(f"generate.py: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
