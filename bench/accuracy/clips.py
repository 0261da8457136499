"""The labelled clips: what each one shows, frame by frame, and the truth that follows from it.

A clip is a list of segments joined end to end. Each segment is one FFmpeg filter chain that yields
exactly its number of frames, so the frames where every event starts and ends are known by
construction, and the truth file is computed from the same list that builds the filter graph.
"""

import json

EVENT_TYPES = ("black", "flat", "freeze", "letterbox", "pillarbox", "interlaced")

# The large still picture that the camera-like segments pan and zoom over (rendered once, cached).
STILL_SIZE = (1920, 1080)
STILL_SOURCE = ("mandelbrot=s=1920x1080:maxiter=1500:start_scale=0.02:end_scale=0.02:"
                "start_x=-0.7436438870371587:start_y=0.1318259042053119,format=rgb24")


class Segment:
    """One stretch of a clip.

    kind: a content source (testsrc2, mandelbrot, noise, life, bars, pan, zoompan, static) or a flat
    fill (black: luma 16, black0: luma 0, gray, white, slate).
    frames: the frames the segment contributes, freezes included.
    fade_in, fade_out: frames of a ramp from or to black at the segment's start or end.
    hold: (frame, copies) repeats the segment's frame `frame` `copies` more times (`loop`);
      frame -1 clones the last picture at the end (`tpad=stop_mode=clone`).
    bars: (top, bottom, left, right) pixels of black bars around the picture.
    interlace: (method, order): fields woven from twice the frame rate, method `interlace` or
      `tinterlace`, order tff or bff.
    extra: filters applied to the content (noise, blur), which change no truth.
    """

    def __init__(self, kind, frames, fade_in=0, fade_out=0, hold=None, bars=(0, 0, 0, 0),
                 interlace=None, extra="", seed=0):
        self.kind, self.frames = kind, frames
        self.fade_in, self.fade_out, self.hold = fade_in, fade_out, hold
        self.bars, self.interlace, self.extra, self.seed = bars, interlace, extra, seed

    @property
    def flat(self):
        return self.kind in FLAT_LEVELS


# Fills and their luma in 8-bit limited-range YUV.
FLAT_LEVELS = {"black": "black", "black0": "black", "gray": "gray", "white": "white",
               "slate": "0x2050A0"}
DARK_FILLS = ("black", "black0")


class Clip:
    def __init__(self, name, segments, size=(640, 360), fps=25, note=""):
        self.name, self.segments, self.size, self.fps, self.note = name, segments, size, fps, note

    @property
    def frames(self):
        return sum(s.frames for s in self.segments)

    @property
    def interlaced_order(self):
        orders = {s.interlace[1] for s in self.segments if s.interlace}
        return orders.pop() if len(orders) == 1 else None


def content_source(kind, size, rate, seed, still_input):
    """A filter chain (or an input label) yielding endless frames of `kind` at `size` and `rate`."""
    w, h = size
    if kind == "testsrc2":
        return f"testsrc2=s={w}x{h}:r={rate}"
    if kind == "mandelbrot":
        # a different stretch of the zoom per seed, all at the same pace
        return (f"mandelbrot=s={w}x{h}:r={rate}:maxiter=1200:start_scale={3 * 0.7 ** seed}:"
                f"end_scale=0.0001,format=yuv420p")
    if kind == "noise":
        return f"color=c=0x808080:s={w}x{h}:r={rate},noise=alls=70:allf=t+u:all_seed={1000 + seed}"
    if kind == "life":
        return (f"life=s={w}x{h}:r={rate}:ratio=0.35:seed={7 + seed}:mold=8:"
                f"life_color=0xF0C040:death_color=0x406080:mold_color=0x80A050")
    if kind == "bars":
        # colour bars with a small picture moving 4 pixels a frame, so that no two frames are alike
        bw = max(w // 8, 16) & ~1
        return (f"smptehdbars=s={w}x{h}:r={rate}[bg{seed}];testsrc2=s={bw}x{bw}:r={rate}[fg{seed}];"
                f"[bg{seed}][fg{seed}]overlay=x='mod(n*4,{w - bw})':y={h // 3}:shortest=1")
    if kind in ("pan", "zoompan", "static"):
        sw, sh = STILL_SIZE
        base = f"{still_input}loop=loop=-1:size=1,fps={rate}"
        if kind == "pan":
            # two pixels a frame (at 25 frames a second) to the right and a little down: a slow pan
            speed = 50 / rate
            return (f"{base},crop=w={w}:h={h}:x='min(600+n*{speed},{sw - w})':"
                    f"y='min(100+n*{speed / 3},{sh - h})'")
        if kind == "zoompan":
            return (f"{base},zoompan=z='1+0.004*on':d=1:x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':"
                    f"s={w}x{h}:fps={rate}")
        # a still camera with sensor noise and one small moving object
        ob = max(w // 20, 8) & ~1
        return (f"{base},crop=w={w}:h={h}:x=200:y=100,noise=alls=3:allf=t:all_seed={seed}[bg{seed}];"
                f"color=c=0xC03020:s={ob}x{ob}:r={rate}[fg{seed}];"
                f"[bg{seed}][fg{seed}]overlay=x='{w // 5}+n*2':y={h // 2}:shortest=1")
    raise ValueError(f"unknown content {kind}")


def segment_chain(seg, size, fps, label, still_input):
    """The filter graph text of one segment, ending in output pad [label]."""
    w, h = size
    top, bottom, left, right = seg.bars
    inner = (w - left - right, h - top - bottom)
    if seg.flat:
        level = FLAT_LEVELS[seg.kind]
        chain = f"color=c={level}:s={inner[0]}x{inner[1]}:r={fps},format=yuv420p"
        if seg.kind == "black0":
            chain += ",lutyuv=y=0"
        chain += f",trim=end_frame={seg.frames}"
    else:
        held = seg.hold[1] if seg.hold else 0
        own = seg.frames - held
        if seg.interlace:
            method, order = seg.interlace
            chain = content_source(seg.kind, inner, 2 * fps, seg.seed, still_input)
            chain += f",format=yuv420p,trim=end_frame={2 * own},setpts=N/({2 * fps}*TB)"
            if method == "interlace":
                chain += f",interlace=scan={order}"
            else:
                chain += f",tinterlace=mode={'interleave_top' if order == 'tff' else 'interleave_bottom'}"
            chain += f",setpts=N/({fps}*TB)"
        else:
            chain = content_source(seg.kind, inner, fps, seg.seed, still_input)
            chain += f",format=yuv420p,trim=end_frame={own}"
        if seg.extra:
            chain += "," + seg.extra
        chain += f",setpts=N/({fps}*TB)"
        if seg.fade_in:
            chain += f",fade=t=in:s=0:n={seg.fade_in}"
        if seg.fade_out:
            chain += f",fade=t=out:s={own - seg.fade_out}:n={seg.fade_out}"
        if seg.hold:
            frame, copies = seg.hold
            if frame < 0:
                chain += f",tpad=stop_mode=clone:stop={copies}"
            else:
                chain += f",loop=loop={copies}:size=1:start={frame + 1}"
    if any(seg.bars):
        chain += f",pad=w={w}:h={h}:x={left}:y={top}:color=black"
    chain += f",setpts=N/({fps}*TB),setsar=1[{label}]"
    return chain


def filter_graph(clip, still_inputs):
    """The whole clip as one filter graph ending in [out]; still_inputs gives each pan segment's input."""
    parts, labels = [], []
    for i, seg in enumerate(clip.segments):
        still = f"[{still_inputs[i]}:v]" if i in still_inputs else ""
        parts.append(segment_chain(seg, clip.size, clip.fps, f"s{i}", still))
        labels.append(f"[s{i}]")
    if len(labels) == 1:
        parts[-1] = parts[-1][: -len("[s0]")] + "[out]"
    else:
        parts.append("".join(labels) + f"concat=n={len(labels)}:v=1:a=0[out]")
    return ";".join(parts)


def merge_ranges(ranges):
    """Joins touching or overlapping [first, last] ranges (sorted)."""
    out = []
    for first, last in sorted(ranges):
        if out and first <= out[-1][1] + 1:
            out[-1][1] = max(out[-1][1], last)
        else:
            out.append([first, last])
    return out


# The frames of a fade's ramp have no one right answer for these types: how dark is black (or a bar),
# and the ramp's darkest picture may repeat the black beside it.
RAMP_IGNORED = ("black", "flat", "freeze", "letterbox", "pillarbox")


def truth(clip):
    """The truth file's document: per event type the inclusive frame ranges, and ignore ranges."""
    events = {kind: [] for kind in EVENT_TYPES}
    ignore = {kind: [] for kind in EVENT_TYPES}
    bars = []        # (first, last, top, bottom, left, right)
    start = 0
    for seg in clip.segments:
        first, last = start, start + seg.frames - 1
        if seg.kind in DARK_FILLS:
            events["black"].append([first, last])
        elif seg.flat:
            events["flat"].append([first, last])
        if seg.flat:
            # a still fill is a repeated picture too, but not what a freeze means: not scored
            ignore["freeze"].append([first, last])
            # a flat picture is all bar
            ignore["letterbox"].append([first, last])
            ignore["pillarbox"].append([first, last])
        if seg.fade_in:
            ramp = [first, first + seg.fade_in - 1]
            for kind in RAMP_IGNORED:
                ignore[kind].append(ramp)
        if seg.fade_out:
            own_last = last - (seg.hold[1] if seg.hold else 0)
            ramp = [own_last - seg.fade_out + 1, own_last]
            for kind in RAMP_IGNORED:
                ignore[kind].append(ramp)
        if seg.hold:
            frame, copies = seg.hold
            held = seg.frames - copies - 1 if frame < 0 else frame
            events["freeze"].append([first + held, first + held + copies])
        if any(seg.bars):
            bars.append([first, last, *seg.bars])
        if seg.interlace:
            events["interlaced"].append({"first": first, "last": last, "order": seg.interlace[1]})
        start = last + 1

    doc = {"clip": clip.name, "fps": clip.fps, "frames": clip.frames,
           "width": clip.size[0], "height": clip.size[1], "note": clip.note}
    out = {}
    for kind in ("black", "flat", "freeze"):
        out[kind] = [{"first": a, "last": b} for a, b in merge_ranges(events[kind])]
    # consecutive segments with the same bars are one event
    for kind, sides in (("letterbox", (0, 1)), ("pillarbox", (2, 3))):
        spans = []
        for first, last, *sizes in bars:
            if not any(sizes[i] for i in sides):
                continue
            if spans and spans[-1]["last"] + 1 == first and spans[-1]["sizes"] == sizes:
                spans[-1]["last"] = last
            else:
                spans.append({"first": first, "last": last, "sizes": sizes})
        out[kind] = [{"first": s["first"], "last": s["last"], "top": s["sizes"][0],
                      "bottom": s["sizes"][1], "left": s["sizes"][2], "right": s["sizes"][3]}
                     for s in spans]
    out["interlaced"] = events["interlaced"]
    doc["events"] = out
    doc["ignore"] = {kind: [{"first": a, "last": b} for a, b in merge_ranges(r)]
                     for kind, r in ignore.items() if r}
    return doc


def write_truth(clip, path):
    with open(path, "w") as f:
        json.dump(truth(clip), f, indent=1)
        f.write("\n")


S = Segment
LB, PB, WB = (44, 44, 0, 0), (0, 0, 80, 80), (30, 30, 40, 40)
HD = (1920, 1080)
SD = (720, 576)

# Clips with events. Ranges are frames at the clip's rate; 25 frames are a second.
EVENT_CLIPS = [
    Clip("cut-black16-testsrc2", [S("testsrc2", 40), S("black", 20), S("testsrc2", 40, seed=1)],
         note="hard cuts to and from black at luma 16"),
    Clip("cut-black0-mandelbrot", [S("mandelbrot", 35), S("black0", 15), S("mandelbrot", 35, seed=2)],
         note="hard cuts to and from full-range black (luma 0)"),
    Clip("cut-black-short-life", [S("life", 30), S("black", 3), S("life", 30, seed=1), S("black0", 5),
                                  S("life", 30, seed=2)],
         note="black flashes of 3 and 5 frames"),
    Clip("fade-black-pan", [S("pan", 40, fade_out=12), S("black", 20), S("pan", 40, fade_in=12, seed=1)],
         note="fade to black and back over a panning picture; the ramps are ignored"),
    Clip("fade-black-testsrc2", [S("testsrc2", 30, fade_out=8), S("black", 10),
                                 S("mandelbrot", 30, fade_in=8, seed=1)],
         note="fade out, black, fade in to other content"),
    Clip("flat-gray-white", [S("testsrc2", 30), S("gray", 20), S("testsrc2", 30, seed=1), S("white", 20),
                             S("testsrc2", 25, seed=2)],
         note="flat grey and white stretches between cuts"),
    Clip("flat-slate-mandelbrot", [S("slate", 40), S("mandelbrot", 40), S("gray", 10),
                                   S("mandelbrot", 30, seed=3)],
         note="a blue slate at the start, a short grey card"),
    Clip("freeze-tpad-testsrc2", [S("testsrc2", 30, hold=(-1, 5)), S("testsrc2", 40, hold=(-1, 12), seed=1),
                                  S("testsrc2", 30, seed=2)],
         note="freezes of 0.2 s and 0.48 s cloned at a segment's end"),
    Clip("freeze-loop-mandelbrot", [S("mandelbrot", 90, hold=(30, 25))],
         note="a 1 s freeze of frame 30 (loop)"),
    Clip("freeze-long-pan", [S("pan", 200, hold=(25, 150))],
         note="a 6 s freeze in a slow pan"),
    Clip("freeze-life", [S("life", 100, hold=(-1, 50)), S("life", 25, seed=1)],
         note="a 2 s freeze of a cellular pattern"),
    Clip("freeze-bars-noise", [S("bars", 60, hold=(20, 10)), S("noise", 50, hold=(20, 15), seed=1)],
         note="freezes of colour bars and of noise"),
    Clip("letterbox-testsrc2", [S("testsrc2", 80, bars=LB)], note="44-row bars top and bottom"),
    Clip("pillarbox-mandelbrot", [S("mandelbrot", 80, bars=PB)], note="80-column bars left and right"),
    Clip("windowbox-pan", [S("pan", 80, bars=WB)], note="bars on all four sides"),
    Clip("bars-top-only-life", [S("life", 80, bars=(40, 0, 0, 0))], note="a 40-row bar at the top only"),
    Clip("bars-right-only-testsrc2", [S("testsrc2", 80, bars=(0, 0, 0, 96))],
         note="a 96-column bar on the right only"),
    Clip("bars-change-testsrc2", [S("testsrc2", 40, bars=LB), S("testsrc2", 40, bars=(60, 60, 0, 0), seed=1),
                                  S("testsrc2", 40, bars=PB, seed=2), S("testsrc2", 30, seed=3)],
         note="letterbox of 44 then 60 rows, a pillarbox, then none"),
    Clip("letterbox-hd-testsrc2", [S("testsrc2", 40, bars=(140, 140, 0, 0))], size=HD,
         note="1080p with 140-row bars"),
    Clip("interlaced-tff-pan", [S("pan", 25), S("pan", 50, interlace=("interlace", "tff"), seed=1),
                                S("pan", 25, seed=2)], size=SD,
         note="576i stretch (interlace, top field first) between progressive ones"),
    Clip("interlaced-bff-testsrc2", [S("testsrc2", 75, interlace=("tinterlace", "bff"))], size=SD,
         note="576i from 50p, bottom field first (tinterlace)"),
    Clip("interlaced-tff-mandelbrot", [S("mandelbrot", 25), S("mandelbrot", 50, interlace=("tinterlace", "tff"))],
         note="360-line interlaced zoom, top field first"),
    Clip("interlaced-1080-testsrc2", [S("testsrc2", 40, interlace=("interlace", "tff"))], size=HD,
         note="1080i from 50p, top field first"),
]

# Clips without any event: every event reported on them is a false one.
CLEAN_CLIPS = [
    Clip("clean-testsrc2", [S("testsrc2", 100)]),
    Clip("clean-mandelbrot", [S("mandelbrot", 100, seed=4)]),
    Clip("clean-noise", [S("noise", 100)], note="random pictures: highest motion"),
    Clip("clean-life", [S("life", 100, seed=3)]),
    Clip("clean-pan", [S("pan", 100)], note="slow pan, two pixels a frame"),
    Clip("clean-zoompan", [S("zoompan", 100)], note="slow zoom into a still"),
    Clip("clean-static", [S("static", 100)], note="still camera, sensor noise, one small moving object"),
    Clip("clean-bars", [S("bars", 100)], note="colour bars with a moving inset"),
    Clip("clean-blur", [S("mandelbrot", 100, extra="gblur=sigma=4", seed=5)], note="blurred"),
    Clip("clean-noisy", [S("testsrc2", 100, extra="noise=alls=25:allf=t", seed=1)], note="heavy noise"),
    Clip("clean-testsrc2-50p", [S("testsrc2", 100)], fps=50, note="50 progressive frames a second"),
    Clip("clean-hd-mandelbrot", [S("mandelbrot", 40, seed=6)], size=HD, note="1080p"),
]

CLIPS = EVENT_CLIPS + CLEAN_CLIPS
