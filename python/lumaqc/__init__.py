"""lumaqc: no-reference quality indicators of the luma plane of video frames.

    import lumaqc
    with lumaqc.Analyzer(352, 288, fps=25) as analyzer:
        row = analyzer.analyze(luma)          # 2-D uint8 array (288, 352)
    result = lumaqc.analyze_file("clip.yuv", 352, 288)
    result.to_pandas()
    verdict = lumaqc.check("clip.mp4", profile="streaming")
    verdict.passed, verdict.events, verdict.tripped

Analyzer wraps one stream of the C library; analyze_file reads a whole file
(raw YUV 4:2:0, Y4M, or any container FFmpeg's libraries read) and returns
per-frame numpy columns, pooled statistics and segments; check judges a file
with a profile as lumaqc check does.
"""

import errno
import html
import inspect
import math
import operator
import os
import stat

from ._lumaqc import Analyzer, __version__, _analyze_file, column_names

__all__ = ["Analyzer", "AnalysisResult", "Verdict", "analyze_file", "check", "column_names", "__version__"]

_PROFILE_FOLDERS = [os.path.join(os.path.dirname(os.path.abspath(__file__)), "profiles")]


class AnalysisResult(dict):
    """The per-frame values of a file: a dict of numpy columns, with their pooled statistics and segments.

    The keys are column_names() ('frame' is the frame's index in the file), then
    'has_previous' and 'pts_time' (seconds: the stream's timestamp for containers,
    frame / fps for raw and Y4M); each value is a numpy array of one entry per frame
    analysed (frames_analysed of them). Values are the library's, bit for bit, and NaN
    exactly where the reports write null (an indicator not computed on a frame, e.g.
    temporal_activity and freezing of the first frame, flickering's -1, block_loss of
    a picture too small for it, and any value that is not finite), so that pandas'
    and numpy's nan-aware statistics leave them out; freezing, which may be null, is
    a column of floats, blackout one of 0 and 1 bytes.

    pooled: {indicator: {"min", "max", "mean", "harmonic_mean", "p1", "p5", "p50",
    "p95", "p99", "count"}} over the frames with a value (NaN where none had one).
    segments: [{"type", "first_frame", "last_frame", "<type>_start", "<type>_end",
    "<type>_duration"}], segment_summary: {type: {"count", "frames", "total",
    "longest"}}, exactly as in lumaqc's JSON report. warnings and messages: texts of
    the reader and of the indicators. reader ("raw", "y4m", "libav") and isa tell
    what ran. verdict is the Verdict when the result comes from check(), else None.
    In a notebook a result shows its verdict and events as a table.
    """

    def __init__(self, path, run):
        super().__init__(run["columns"])
        self.path = path
        self.width = run["width"]
        self.height = run["height"]
        self.fps = run["fps"]
        self.reader = run["reader"]
        self.isa = run["isa"]
        self.frames_analysed = len(run["columns"]["frame"])
        self.pooled = run["pooled"]
        self.segments = run["segments"]
        self.segment_summary = run["segment_summary"]
        self.flash_screening = run["flash_screening"]
        self.warnings = run["warnings"]
        self.messages = run["messages"]
        self.verdict = Verdict(self, run["verdict"]) if run.get("verdict") is not None else None

    @property
    def columns(self):
        """The dict of columns itself (a plain dict)."""
        return dict(self)

    def __repr__(self):
        return (f"<lumaqc.AnalysisResult {self.path!r} {self.reader} {self.width}x{self.height} "
                f"fps={self.fps!r} frames={self.frames_analysed}>")

    def _repr_html_(self):
        if self.verdict is not None:
            return self.verdict._repr_html_()
        head = (f"<p><b>{_escaped(self.path)}</b>: {self.frames_analysed} frames, {self.width}x{self.height} "
                f"at {self.fps:g} fps ({_escaped(self.reader)})</p>")
        return head + _events_table([("", s) for s in self.segments])

    def to_pandas(self):
        """The columns as a pandas.DataFrame, one row per frame."""
        try:
            import pandas
        except ImportError as error:
            raise ImportError(
                "lumaqc: to_pandas() needs pandas (Debian's python3-pandas for /usr/bin/python3)"
            ) from error
        return pandas.DataFrame(dict(self))

    @property
    def frame(self):
        """The same as to_pandas()."""
        return self.to_pandas()


def _escaped(text):
    return html.escape(os.fsdecode(text) if isinstance(text, bytes) else str(text))


def _events_table(marked):
    """marked: (mark, segment) pairs; an HTML table of them, or a line saying there are none."""
    if not marked:
        return "<p>No events.</p>"
    rows = []
    for mark, s in marked:
        kind = s["type"]
        cells = (mark, kind, s["first_frame"], s["last_frame"], f"{s[kind + '_start']:g}", f"{s[kind + '_end']:g}",
                 f"{s[kind + '_duration']:g}")
        rows.append("<tr>" + "".join(f"<td>{_escaped(c)}</td>" for c in cells) + "</tr>")
    head = "".join(f"<th>{h}</th>" for h in ("", "event", "first frame", "last frame", "start s", "end s",
                                             "duration s"))
    return f"<table><tr>{head}</tr>{''.join(rows)}</table>"


class Verdict:
    """What lumaqc check says of a file: passed (no gate tripped), the profile, the
    events of the kinds its gates are about (events, and waived and at_edges, which
    trip no gate; each as in AnalysisResult.segments), gates ([{"expression",
    "value", "tripped"}], value NaN when the statistic has none), tripped (the
    expressions of the tripped gates) and result (the AnalysisResult).
    """

    def __init__(self, result, verdict):
        self.result = result
        self.passed = verdict["passed"]
        self.profile = verdict["profile"]
        self.events = verdict["events"]
        self.waived = verdict["waived"]
        self.at_edges = verdict["at_edges"]
        self.gates = verdict["gates"]
        self.tripped = [g["expression"] for g in self.gates if g["tripped"]]

    def __repr__(self):
        return (f"<lumaqc.Verdict {'PASS' if self.passed else 'FAIL'} {self.result.path!r} "
                f"profile={self.profile!r} events={len(self.events)} tripped={self.tripped!r}>")

    def _repr_html_(self):
        colour = "#1a7f37" if self.passed else "#cf222e"
        r = self.result
        head = (f"<p><b style=\"color:{colour}\">{'PASS' if self.passed else 'FAIL'}</b> "
                f"<b>{_escaped(r.path)}</b> (profile {_escaped(self.profile)}, {r.frames_analysed} frames at "
                f"{r.fps:g} fps)</p>")
        gates = "".join(f"<li>gate {_escaped(g['expression'])}: value {g['value']:g}, tripped</li>"
                        for g in self.gates if g["tripped"])
        marked = sorted([("", s) for s in self.events] + [("waived", s) for s in self.waived] +
                        [("at an end", s) for s in self.at_edges], key=lambda m: m[1]["first_frame"])
        return head + (f"<ul>{gates}</ul>" if gates else "") + _events_table(marked)


_INT64_MAX = 2**63 - 1
_MAX_THREADS = 1024


def _whole(name, value, low, high):
    value = operator.index(value)
    if not low <= value <= high:
        raise ValueError(f"lumaqc: {name} must be from {low} to {high}, not {value}")
    return value


def _size(name, value):
    if value is None:
        return 0
    value = operator.index(value)
    if not 0 < value <= 2**31 - 1:
        raise ValueError(f"lumaqc: {name} must be positive and below 2^31, not {value}")
    return value


def _number(name, value):
    try:
        return float(value)
    except OverflowError:
        raise ValueError(f"lumaqc: {name} must be a finite number, not {value!r}") from None


def _seconds(name, value):
    value = _number(name, value)
    if not (value >= 0 and math.isfinite(value)):
        raise ValueError(f"lumaqc: {name} must be a finite number of seconds, not below 0: {value!r}")
    return value


def _processors():
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def _readable_file(path):
    path = os.fspath(path)
    # OSError for a missing, unreadable or directory path, as Python words it
    # (without opening it: a FIFO would wait for its writer here).
    if stat.S_ISDIR(os.stat(path).st_mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    if not os.access(path, os.R_OK):
        raise PermissionError(errno.EACCES, os.strerror(errno.EACCES), path)
    return path


def analyze_file(path, width=None, height=None, fps=None, frames=None, start=0, threads=None, *, isa=None,
                 reference=False, input_format=None, min_black=0.0, min_freeze=0.1, min_letterbox=0.0,
                 min_pillarbox=0.0, min_interlaced=0.1, min_flat=0.08, min_flash=0.0, interlace_threshold=0.0006,
                 field_order_threshold=0.03, min_bar=4.0, bar_change=8.0, black_level=32.0, freeze_noise=3.5,
                 decoder_threads=0, range="r103", range_area=0.01, min_out_of_range=0.0):
    """Analyses the frames of a file and returns an AnalysisResult.

    Reads what the lumaqc program reads, with the same readers: Y4M (recognised by
    its header, which gives the size and the frame rate; 4:2:0, 4:2:2, 4:4:4, 4:1:1,
    mono, 8 to 16 bits), raw 8-bit YUV 4:2:0 when width and height are given (frame i
    at byte i * (width * height * 3 // 2); a trailing partial frame is ignored), and
    any other container and codec through FFmpeg's libraries (size and rate from the
    stream). input_format ("raw", "y4m", "libav") overrides the choice.

    fps defaults to the rate of the Y4M header or the container, else 25. frames
    limits the count (None: to the end; frames past the end are not an error,
    frames_analysed of the result tells how many were analysed, warnings says
    where it ended), start is the first frame's index. threads analyses that many frames at
    once (None: the processors this process may run on; the values are the same for
    any count). isa and reference are passed to Analyzer; decoder_threads to
    FFmpeg's decoder (0: its own choice).

    The result also holds the pooled statistics of each indicator and the segments
    (black, freeze, letterbox, pillarbox, interlaced, out_of_range, flat, flash) exactly as
    lumaqc's JSON report gives them; min_* (seconds, min_bar in pixels),
    interlace_threshold, field_order_threshold, bar_change, black_level and
    freeze_noise are the report's --min-*, --interlace-threshold,
    --field-order-threshold, --bar-change, --black-level and --freeze-noise options,
    range and range_area its --range and --range-area (the legal range of
    below_range, above_range and the out_of_range segments: 'r103', 'nominal',
    'full' or 'LOW-HIGH'). The flash columns and segments are a screening, not a
    certification: the result's flash_screening says what they cover.

    path is a str, bytes (any bytes the system allows, UTF-8 or not) or an
    os.PathLike; the result's path is os.fspath(path).

    Raises OSError for a missing or unreadable file; ValueError naming the
    argument for a value out of its range (width and height 1 to 2^31 - 1, start
    and frames 0 to 2^63 - 1, threads 1 to 1024, decoder_threads 0 to 1024, fps
    positive and finite, min_*, the thresholds, bar_change, black_level and
    freeze_noise finite and not negative),
    and ValueError for an input that cannot be decoded; TypeError for a size,
    count or thread count that is not an integer; KeyboardInterrupt when
    interrupted (checked between frames).
    """
    return _analysis(**locals(), profile=b"", waivers=b"")


def _analysis(path, width, height, fps, frames, start, threads, isa, reference, input_format, min_black, min_freeze,
              min_letterbox, min_pillarbox, min_interlaced, min_flat, min_flash, interlace_threshold, field_order_threshold,
              min_bar, bar_change, black_level, freeze_noise, decoder_threads, range, range_area, min_out_of_range,
              profile, waivers):
    start = _whole("start", start, 0, _INT64_MAX)
    frames = -1 if frames is None else _whole("frames", frames, 0, _INT64_MAX)
    threads = _processors() if threads is None else _whole("threads", threads, 1, _MAX_THREADS)
    decoder_threads = _whole("decoder_threads", decoder_threads, 0, _MAX_THREADS)
    if fps is not None:
        fps = _number("fps", fps)
        if not (fps > 0 and math.isfinite(fps)):
            raise ValueError(f"lumaqc: fps must be positive and finite, not {fps}")
    if input_format not in (None, "raw", "y4m", "libav"):
        raise ValueError(f"lumaqc: input_format must be None, 'raw', 'y4m' or 'libav', not {input_format!r}")
    segments = {name: _seconds(name, value) for name, value in (
        ("min_black", min_black), ("min_freeze", min_freeze), ("min_letterbox", min_letterbox),
        ("min_pillarbox", min_pillarbox), ("min_interlaced", min_interlaced), ("min_out_of_range", min_out_of_range),
        ("min_flat", min_flat), ("min_flash", min_flash))}
    for name, value in (("interlace_threshold", interlace_threshold), ("field_order_threshold", field_order_threshold),
                        ("min_bar", min_bar), ("bar_change", bar_change), ("black_level", black_level),
                        ("freeze_noise", freeze_noise)):
        value = _number(name, value)
        if not (value >= 0 and math.isfinite(value)):
            raise ValueError(f"lumaqc: {name} must be a finite number of 0 or more, not {value!r}")
        segments[name] = value
    if not isinstance(range, str):
        raise TypeError(f"lumaqc: range must be a str, not {type(range).__name__}")
    range_area = _number("range_area", range_area)
    if not 0 <= range_area <= 1:
        raise ValueError(f"lumaqc: range_area must be a fraction of 0 to 1, not {range_area!r}")
    path = _readable_file(path)
    # The file's own bytes reach the readers, whatever their encoding.
    run = _analyze_file(os.fsencode(path), _size("width", width), _size("height", height), fps, frames, start,
                        threads, isa, bool(reference), input_format or "", segments, decoder_threads, range,
                        range_area, profile, _PROFILE_FOLDERS, waivers)
    return AnalysisResult(path, run)


def check(path, profile="broadcast", waivers=None, width=None, height=None, fps=None, frames=None, start=0,
          threads=None, *, input_format=None, decoder_threads=0):
    """Judges a file as lumaqc check does and returns its Verdict.

    profile is a built-in profile's name (archive, broadcast, streaming) or the path
    of a profile file; waivers the path of a waivers file (events marked as
    intended: [{"type", "first", "last"}]). The segments are cut with the profile's
    settings (the defaults elsewhere), its gates judge the events outside the
    waivers and the profile's edge. The other arguments are analyze_file's; the
    Verdict's result is the AnalysisResult. Raises what analyze_file raises, and
    ValueError naming the profile or waivers file and what is wrong with it.
    """
    if not isinstance(profile, (str, bytes, os.PathLike)):
        raise TypeError(f"lumaqc: profile must be a profile's name or a file's path, not {profile!r}")
    if not os.fspath(profile):
        raise ValueError("lumaqc: profile must name a profile (archive, broadcast, streaming) or a file")
    defaults = {name: p.default for name, p in inspect.signature(analyze_file).parameters.items()
                if p.default is not inspect.Parameter.empty}
    arguments = dict(defaults, path=path, width=width, height=height, fps=fps, frames=frames, start=start,
                     threads=threads, input_format=input_format, decoder_threads=decoder_threads)
    return _analysis(**arguments, profile=os.fsencode(profile),
                     waivers=b"" if waivers is None else os.fsencode(waivers)).verdict
