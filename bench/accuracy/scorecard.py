#!/usr/bin/python3
"""Scores lumaqc's events and FFmpeg's detectors against the labelled clips.

Usage: bench/accuracy/scorecard.py [--lumaqc PATH] [--dir DIR] [--json FILE] [--tools NAME ...]
                                   [--jobs N] [--no-generate] [-- LUMAQC OPTIONS ...]
Makes the clips when they are missing (generate.py), runs lumaqc and FFmpeg's blackdetect,
freezedetect, cropdetect and idet on every clip in every encoding, and prints per event type and
encoding the frame-level precision, recall and F1, how many labelled events were found, the mean
onset and end error in frames, the false events per hour on the clean clips and each tool's speed.
Options after `--` go to lumaqc (thresholds, minimum durations), so a sweep is one shell loop.
FFmpeg's results are kept beside the clips and reused while the clip and the filter are the same.
"""

import argparse
import concurrent.futures
import json
import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import clips as catalogue  # noqa: E402
import generate  # noqa: E402
import scoring  # noqa: E402

# FFmpeg's detectors as run here: every stretch reported however short (blackdetect d=0, and
# freezedetect at lumaqc's default shortest freeze of 0.1 s), cropdetect measured afresh on each
# frame (reset=1, skip=0) and idet with its defaults.
PEERS = {
    "blackdetect": "blackdetect=d=0:pic_th=0.98:pix_th=0.10",
    "freezedetect": "freezedetect=n=-60dB:d=0.1",
    "cropdetect": "cropdetect=limit=24:round=2:reset=1:skip=0,metadata=mode=print:file={meta}",
    "idet": "idet,metadata=mode=print:file={meta}",
}
# Which event types each tool reports; idet's one run gives its single- and multi-frame decisions.
TOOL_TYPES = {
    "blackdetect": ("black",),
    "freezedetect": ("freeze",),
    "cropdetect": ("letterbox", "pillarbox"),
    "idet": ("interlaced",),
    "idet-multi": ("interlaced",),
}
TOOLS = ("lumaqc", "blackdetect", "freezedetect", "cropdetect", "idet")


def run_timed(cmd, cwd=None):
    """Runs cmd; returns (exit status, error stream text, processor seconds of the child)."""
    with tempfile.TemporaryFile() as err:
        process = subprocess.Popen(cmd, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=err)
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        err.seek(0)
        return process.returncode, err.read().decode(errors="replace"), usage.ru_utime + usage.ru_stime


def to_frame(seconds, fps):
    return int(round(float(seconds) * fps))


def parse_metadata(text):
    """metadata=mode=print output -> {frame: {key: value}}."""
    frames, current = {}, None
    for line in text.splitlines():
        head = re.match(r"frame:(\d+)\s", line)
        if head:
            current = frames.setdefault(int(head.group(1)), {})
        elif current is not None and "=" in line:
            key, value = line.split("=", 1)
            current[key.strip()] = value.strip()
    return frames


def blackdetect_events(log, fps, frames):
    events = []
    for start, end in re.findall(r"black_start:\s*([-\d.e]+)\s+black_end:\s*([-\d.e]+)", log):
        events.append([to_frame(start, fps), to_frame(end, fps) - 1])
    return events


def freezedetect_events(log, fps, frames):
    """freeze_start .. freeze_end pairs; a freeze still open at the end lasts to the last frame."""
    events, start = [], None
    for key, value in re.findall(r"lavfi\.freezedetect\.freeze_(start|end):\s*([-\d.e]+)", log):
        if key == "start":
            start = to_frame(value, fps)
        elif start is not None:
            events.append([start, to_frame(value, fps) - 1])
            start = None
    if start is not None:
        events.append([start, frames - 1])
    return events


def cropdetect_bars(meta, width, height):
    """Per frame the bars (top, bottom, left, right) from cropdetect's edges of the non-black area."""
    bars = {}
    for frame, keys in meta.items():
        try:
            x1, x2 = int(keys["lavfi.cropdetect.x1"]), int(keys["lavfi.cropdetect.x2"])
            y1, y2 = int(keys["lavfi.cropdetect.y1"]), int(keys["lavfi.cropdetect.y2"])
        except KeyError:
            continue
        if x1 > x2 or y1 > y2:
            # nothing but black: every edge is bar
            bars[frame] = (height // 2, height - height // 2, width // 2, width - width // 2)
        else:
            bars[frame] = (y1, height - 1 - y2, x1, width - 1 - x2)
    return bars


def bar_events(bars):
    """Letterbox and pillarbox frame runs from per-frame bar sizes."""
    letterbox = {f for f, (t, b, l, r) in bars.items() if t or b}
    pillarbox = {f for f, (t, b, l, r) in bars.items() if l or r}
    return scoring.runs_of(letterbox), scoring.runs_of(pillarbox)


def idet_frames(meta, key):
    """Frames idet calls interlaced in its single- or multi-frame decision, with the field order."""
    order = {}
    for frame, keys in meta.items():
        decision = keys.get(f"lavfi.idet.{key}.current_frame")
        if decision in ("tff", "bff"):
            order[frame] = decision
    return order


def run_peer(tool, path, truth, cache_dir, rerun):
    """One FFmpeg detector on one file; results cached while the file and the filter are the same."""
    fps, frames = truth["fps"], truth["frames"]
    stat = os.stat(path)
    key = [PEERS[tool], stat.st_size, stat.st_mtime_ns]
    cache = os.path.join(cache_dir, os.path.basename(path) + f".{tool}.json")
    if not rerun and os.path.exists(cache):
        with open(cache) as f:
            kept = json.load(f)
        if kept.get("key") == key:
            return kept["results"]
    with tempfile.TemporaryDirectory() as work:
        meta_path = os.path.join(work, "meta.txt")
        graph = "setpts=PTS-STARTPTS," + PEERS[tool].format(meta="meta.txt")
        status, log, cpu = run_timed(["ffmpeg", "-hide_banner", "-nostdin", "-threads", "1",
                                      "-filter_threads", "1", "-i", path, "-vf", graph, "-an",
                                      "-f", "null", "-"], cwd=work)
        if status != 0:
            raise RuntimeError(f"ffmpeg {tool} on {path} failed: {log.strip().splitlines()[-1:]}")
        meta = {}
        if os.path.exists(meta_path):
            with open(meta_path) as f:
                meta = parse_metadata(f.read())
    results = {}
    if tool == "blackdetect":
        results[tool] = {"events": {"black": blackdetect_events(log, fps, frames)}}
    elif tool == "freezedetect":
        results[tool] = {"events": {"freeze": freezedetect_events(log, fps, frames)}}
    elif tool == "cropdetect":
        bars = cropdetect_bars(meta, truth["width"], truth["height"])
        letterbox, pillarbox = bar_events(bars)
        results[tool] = {"events": {"letterbox": letterbox, "pillarbox": pillarbox},
                         "bars": {str(f): list(b) for f, b in bars.items()}}
    else:
        for name, key_name in (("idet", "single"), ("idet-multi", "multiple")):
            order = idet_frames(meta, key_name)
            results[name] = {"events": {"interlaced": scoring.runs_of(order)},
                             "order": {str(f): o for f, o in order.items()}}
    for entry in results.values():
        entry["cpu"] = cpu
        entry["frames"] = frames
    with open(cache, "w") as f:
        json.dump({"key": key, "results": results}, f)
    return results


def crop_sides(crop, width, height):
    """crop=w:h:x:y -> (top, bottom, left, right)."""
    w, h, x, y = (int(v) for v in crop.split("=", 1)[-1].split(":"))
    return (y, height - h - y, x, width - w - x)


def run_lumaqc(program, path, truth, options):
    """lumaqc's events on one file: by type, with bar sizes and field order where the events give them."""
    with tempfile.TemporaryDirectory() as work:
        report = os.path.join(work, "report.json")
        status, log, cpu = run_timed([program, "--quiet", "--no-progress", "--threads", "1",
                                      "--json", report, *options, path], cwd=work)
        if status not in (0, 1):
            raise RuntimeError(f"lumaqc on {path} ended with status {status}: {log.strip()}")
        with open(report) as f:
            doc = json.load(f)
    if doc.get("frames_analysed") != truth["frames"]:
        raise RuntimeError(f"lumaqc analysed {doc.get('frames_analysed')} frames of {path}, "
                           f"the clip has {truth['frames']}")
    kinds = set(doc.get("segment_summary", {}))
    events = {kind: [] for kind in kinds}
    bars, order = {}, {}
    for event in doc.get("events", []):
        kind, first, last = event["type"], event["first_frame"], event["last_frame"]
        events.setdefault(kind, []).append([first, last])
        sides = None
        if all(side in event for side in ("top", "bottom", "left", "right")):
            sides = [event[s] for s in ("top", "bottom", "left", "right")]
        elif isinstance(event.get("crop"), str):
            sides = list(crop_sides(event["crop"], truth["width"], truth["height"]))
        if sides is not None and kind in ("letterbox", "pillarbox"):
            for frame in range(first, last + 1):
                bars[str(frame)] = sides
        field_order = event.get("field_order", event.get("order"))
        if kind == "interlaced" and field_order in ("tff", "bff"):
            for frame in range(first, last + 1):
                order[str(frame)] = field_order
    result = {"events": events, "cpu": cpu, "frames": truth["frames"], "types": sorted(kinds)}
    if bars:
        result["bars"] = bars
    if order:
        result["order"] = order
    return {"lumaqc": result}


def truth_ranges(truth, kind):
    return [[e["first"], e["last"]] for e in truth["events"].get(kind, [])]


def ignore_ranges(truth, kind):
    return [[e["first"], e["last"]] for e in truth.get("ignore", {}).get(kind, [])]


def truth_bars(truth):
    """Per frame the labelled bars (top, bottom, left, right)."""
    bars = {}
    for kind in ("letterbox", "pillarbox"):
        for e in truth["events"].get(kind, []):
            for frame in range(e["first"], e["last"] + 1):
                bars[frame] = (e["top"], e["bottom"], e["left"], e["right"])
    return bars


def truth_order(truth):
    return {f: e["order"] for e in truth["events"].get("interlaced", [])
            for f in range(e["first"], e["last"] + 1)}


def score_clip(truth, result, kind):
    """Counts of one tool on one clip for one event type."""
    frames = truth["frames"]
    labelled = truth_ranges(truth, kind)
    ignored = ignore_ranges(truth, kind)
    detected = result["events"].get(kind, [])
    truth_set, ignored_set = scoring.frames_of(labelled), scoring.frames_of(ignored)
    tp, fp, fn = scoring.frame_counts(truth_set, scoring.frames_of(detected), ignored_set, frames)
    matches = scoring.match_events(labelled, detected, ignored)
    out = {"tp": tp, "fp": fp, "fn": fn, "matches": matches, "detected": detected,
           "clean": not any(truth["events"].values()), "seconds": frames / truth["fps"],
           "false_events": len(detected) if not any(truth["events"].values()) else 0}
    hits = scoring.frames_of(detected) & truth_set
    if kind in ("letterbox", "pillarbox") and "bars" in result:
        labels = truth_bars(truth)
        errors = [abs(a - b) for f in hits if str(f) in result["bars"]
                  for a, b in zip(result["bars"][str(f)], labels[f])]
        out["bar_errors"] = errors
    if kind == "interlaced" and "order" in result:
        labels = truth_order(truth)
        out["order_right"] = sum(1 for f in hits if result["order"].get(str(f)) == labels[f])
        out["order_told"] = sum(1 for f in hits if str(f) in result["order"])
    return out


def summarise(scores):
    """Sums the per-clip scores of one tool, type and encoding (or all encodings)."""
    tp = sum(s["tp"] for s in scores)
    fp = sum(s["fp"] for s in scores)
    fn = sum(s["fn"] for s in scores)
    precision, recall, f1 = scoring.precision_recall_f1(tp, fp, fn)
    matches = [m for s in scores for m in s["matches"]]
    found = [m for m in matches if m[0]]
    clean_seconds = sum(s["seconds"] for s in scores if s["clean"])
    false_events = sum(s["false_events"] for s in scores)
    out = {"tp": tp, "fp": fp, "fn": fn, "precision": precision, "recall": recall, "f1": f1,
           "events": len(matches), "found": len(found),
           "onset_error": scoring.mean_abs([m[1] for m in found]),
           "end_error": scoring.mean_abs([m[2] for m in found]),
           "onset_errors": [m[1] for m in found], "end_errors": [m[2] for m in found],
           "false_events": false_events, "clean_seconds": clean_seconds,
           "false_events_per_hour": scoring.events_per_hour(false_events, clean_seconds)}
    bar_errors = [e for s in scores for e in s.get("bar_errors", [])]
    if any("bar_errors" in s for s in scores):
        out["bar_size_error"] = sum(bar_errors) / len(bar_errors) if bar_errors else None
    if any("order_told" in s for s in scores):
        told = sum(s.get("order_told", 0) for s in scores)
        out["order_right"] = sum(s.get("order_right", 0) for s in scores) / told if told else None
    return out


def fmt(value, digits=3):
    if value is None:
        return "-"
    return f"{value:.{digits}f}"


def print_tables(summary, speeds, encodings, tools_by_type, out=sys.stdout):
    header = (f"{'encoding':<11} {'tool':<13} {'P':>6} {'R':>6} {'F1':>6} {'found':>7} {'onset':>6} "
              f"{'end':>6} {'FE/h':>7} {'extra':>12}")
    for kind in catalogue.EVENT_TYPES:
        print(f"\n{kind}", file=out)
        print(header, file=out)
        for encoding in list(encodings) + ["all"]:
            for tool in tools_by_type[kind]:
                s = summary[kind][encoding].get(tool)
                if s is None:
                    continue
                extra = ""
                if s.get("bar_size_error") is not None:
                    extra = f"bars {fmt(s['bar_size_error'], 1)}px"
                if s.get("order_right") is not None:
                    extra = f"order {fmt(s['order_right'], 2)}"
                print(f"{encoding:<11} {tool:<13} {fmt(s['precision']):>6} {fmt(s['recall']):>6} "
                      f"{fmt(s['f1']):>6} {s['found']:>3}/{s['events']:<3} {fmt(s['onset_error'], 1):>6} "
                      f"{fmt(s['end_error'], 1):>6} {fmt(s['false_events_per_hour'], 0):>7} {extra:>12}",
                      file=out)
    print("\nframes per second (processor time, decoding included)", file=out)
    tools = sorted(speeds)
    print(f"{'encoding':<11} " + " ".join(f"{t:>13}" for t in tools), file=out)
    for encoding in list(encodings) + ["all"]:
        print(f"{encoding:<11} " + " ".join(f"{fmt(speeds[t].get(encoding), 0):>13}" for t in tools),
              file=out)
    print("\nall encodings: F1 (FE/h on the clean clips)", file=out)
    print(f"{'type':<11} {'lumaqc':>16} {'FFmpeg':>16}  FFmpeg's detector", file=out)
    for kind in catalogue.EVENT_TYPES:
        cells = []
        # FFmpeg's best variant where it has several (idet's single- and multi-frame decisions)
        peers = sorted((t for t in tools_by_type[kind] if t != "lumaqc"),
                       key=lambda t: -(summary[kind]["all"][t]["f1"] or 0))
        for tool in ["lumaqc", peers[0] if peers else None]:
            s = summary[kind]["all"].get(tool) if tool else None
            cells.append(f"{fmt(s['f1'])} ({fmt(s['false_events_per_hour'], 0)})" if s else "-")
        print(f"{kind:<11} {cells[0]:>16} {cells[1]:>16}  {peers[0] if peers else '-'}", file=out)


def print_per_clip(details, truths, out=sys.stdout):
    """One line per clip, encoding, tool and type with a missed or false frame: the labels and the events."""
    for clip_name, encodings in details.items():
        for encoding, tools in encodings.items():
            for tool, kinds in tools.items():
                for kind, d in kinds.items():
                    if d["fp"] or d["fn"]:
                        labelled = truth_ranges(truths[clip_name], kind)
                        print(f"{clip_name} {encoding} {tool} {kind}: {d['fn']} missed, {d['fp']} false; "
                              f"labelled {labelled}, reported {d['detected']}", file=out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--lumaqc", default=os.path.join(generate.ROOT, "build", "lumaqc"),
                        help="the lumaqc program (default build/lumaqc)")
    parser.add_argument("--dir", default=generate.default_folder(), help="where the clips are kept")
    parser.add_argument("--json", help="write every figure and per-clip detail to this file")
    parser.add_argument("--tools", nargs="+", choices=TOOLS, default=list(TOOLS), help="tools to run")
    parser.add_argument("--encodings", nargs="+", choices=generate.ENCODINGS, default=list(generate.ENCODINGS))
    parser.add_argument("--clips", nargs="+", help="clip names (default all)")
    parser.add_argument("--jobs", type=int, default=2, help="programs run at once (default 2)")
    parser.add_argument("--no-generate", action="store_true", help="use the clips as they are")
    parser.add_argument("--per-clip", action="store_true",
                        help="also print, per clip, encoding, tool and type, every miss and false frame")
    parser.add_argument("--rerun-ffmpeg", action="store_true", help="run FFmpeg's detectors again")
    parser.add_argument("lumaqc_options", nargs="*", help="options for lumaqc, after --")
    args = parser.parse_args()
    # lumaqc runs in a folder of its own (its log goes there), so a relative path is taken from here
    args.lumaqc = os.path.abspath(args.lumaqc)

    started = time.monotonic()
    if not args.no_generate:
        generate.generate(args.dir, args.jobs, args.clips)
    generated = time.monotonic()
    chosen = [c for c in catalogue.CLIPS if not args.clips or c.name in args.clips]
    truths = {}
    for clip in chosen:
        with open(generate.truth_path(args.dir, clip.name)) as f:
            truths[clip.name] = json.load(f)
    cache_dir = os.path.join(args.dir, "ffmpeg-results")
    os.makedirs(cache_dir, exist_ok=True)

    tasks = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for clip in chosen:
            for encoding in args.encodings:
                path = generate.clip_path(args.dir, clip.name, encoding)
                truth = truths[clip.name]
                for tool in args.tools:
                    if tool == "lumaqc":
                        future = pool.submit(run_lumaqc, args.lumaqc, path, truth, args.lumaqc_options)
                    else:
                        future = pool.submit(run_peer, tool, path, truth, cache_dir, args.rerun_ffmpeg)
                    tasks[future] = (clip.name, encoding)
        results = {}
        for future in concurrent.futures.as_completed(tasks):
            clip_name, encoding = tasks[future]
            for tool, result in future.result().items():
                results[(clip_name, encoding, tool)] = result
    scored = time.monotonic()

    tools = sorted({key[2] for key in results}, key=lambda t: (t != "lumaqc", t))
    lumaqc_types = set()
    for (clip_name, encoding, tool), result in results.items():
        if tool == "lumaqc":
            lumaqc_types.update(result["types"])
    tools_by_type = {kind: [t for t in tools if (kind in lumaqc_types if t == "lumaqc"
                                                 else kind in TOOL_TYPES[t])]
                     for kind in catalogue.EVENT_TYPES}

    summary, details = {}, {}
    for kind in catalogue.EVENT_TYPES:
        summary[kind] = {}
        for encoding in list(args.encodings) + ["all"]:
            summary[kind][encoding] = {}
            for tool in tools_by_type[kind]:
                scores = []
                for clip in chosen:
                    for enc in (args.encodings if encoding == "all" else [encoding]):
                        s = score_clip(truths[clip.name], results[(clip.name, enc, tool)], kind)
                        scores.append(s)
                        if encoding != "all":
                            details.setdefault(clip.name, {}).setdefault(enc, {}).setdefault(tool, {})[kind] = {
                                k: s[k] for k in ("tp", "fp", "fn", "detected", "matches")}
                summary[kind][encoding][tool] = summarise(scores)
    speeds = {}
    for tool in tools:
        speeds[tool] = {}
        for encoding in list(args.encodings) + ["all"]:
            picked = [r for (c, e, t), r in results.items() if t == tool and (encoding == "all" or e == encoding)]
            cpu = sum(r["cpu"] for r in picked)
            speeds[tool][encoding] = sum(r["frames"] for r in picked) / cpu if cpu else None

    if args.per_clip:
        print_per_clip(details, truths)
    print_tables(summary, speeds, args.encodings, tools_by_type)
    print(f"\n{len(chosen)} clips x {len(args.encodings)} encodings; clips ready in {generated - started:.0f} s, "
          f"tools run in {scored - generated:.0f} s (lumaqc options: {' '.join(args.lumaqc_options) or 'none'})")
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"lumaqc": args.lumaqc, "lumaqc_options": args.lumaqc_options,
                       "ffmpeg_filters": {t: PEERS[t] for t in args.tools if t in PEERS},
                       "encodings": args.encodings, "clips": [c.name for c in chosen],
                       "summary": summary, "frames_per_second": speeds, "details": details}, f, indent=1)
            f.write("\n")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (RuntimeError, OSError) as e:
        print(f"scorecard.py: {e}", file=sys.stderr)
        sys.exit(1)
