"""lumaqc: no-reference quality indicators of the luma plane of video frames.

    import lumaqc
    with lumaqc.Analyzer(352, 288, fps=25) as analyzer:
        row = analyzer.analyze(luma)          # 2-D uint8 array (288, 352)
    result = lumaqc.analyze_file("clip.yuv", 352, 288)
    result.to_pandas()

Analyzer wraps one stream of the C library; analyze_file reads a whole file
(raw YUV 4:2:0 or Y4M) and returns per-frame numpy columns.
"""

import mmap
import operator
import os

import numpy as np

from ._lumaqc import Analyzer, __version__, column_names

__all__ = ["Analyzer", "AnalysisResult", "analyze_file", "column_names", "__version__"]

_FLAG_COLUMNS = ("blackout", "freezing")


class AnalysisResult:
    """Per-frame values of a file: numpy columns keyed by name.

    The keys are column_names() ('frame' is the frame's index in the file), then
    'has_previous' and 'pts_time' (frame / fps, seconds). result[name] is a
    column, len(result) the number of frames analysed.
    """

    def __init__(self, path, width, height, fps, columns):
        self.path = path
        self.width = width
        self.height = height
        self.fps = fps
        self.columns = columns

    def __getitem__(self, name):
        return self.columns[name]

    def __len__(self):
        return len(self.columns["frame"])

    def keys(self):
        return self.columns.keys()

    def __repr__(self):
        return f"<lumaqc.AnalysisResult {self.path!r} {self.width}x{self.height} fps={self.fps!r} frames={len(self)}>"

    def to_pandas(self):
        """The columns as a pandas.DataFrame, one row per frame."""
        try:
            import pandas
        except ImportError as error:
            raise ImportError(
                "lumaqc: to_pandas() needs pandas (Debian's python3-pandas for /usr/bin/python3)"
            ) from error
        return pandas.DataFrame(self.columns)


def _positive(name, value):
    value = operator.index(value)
    if value <= 0:
        raise ValueError(f"lumaqc: {name} must be positive, not {value}")
    return value


class _RawReader:
    """Headerless 8-bit YUV 4:2:0: frame i at byte i * (w * h * 3 // 2), luma first."""

    def __init__(self, path, data, width, height):
        if width is None or height is None:
            raise ValueError(f"lumaqc: width and height are required for the raw YUV file {path!r}")
        self.width, self.height = _positive("width", width), _positive("height", height)
        self.fps = None
        self._data = data
        frame_bytes = self.width * self.height * 3 // 2
        self._offsets = range(0, len(data) - frame_bytes + 1, frame_bytes)

    @property
    def frame_count(self):
        return len(self._offsets)

    def frames(self, start, count):
        """Luma planes of frames start .. start + count - 1 (those that exist), read in place."""
        plane = self.width * self.height
        for offset in self._offsets[start : start + count]:
            yield self._data[offset : offset + plane].reshape(self.height, self.width)


class _Y4mReader(_RawReader):
    """YUV4MPEG2 with 8-bit 4:2:0 pictures; each frame follows its own FRAME line."""

    MAGIC = b"YUV4MPEG2 "
    _CHROMA_420 = (None, "420", "420jpeg", "420paldv", "420mpeg2")

    def __init__(self, path, data, width, height):
        text = bytes(data[:4096])
        end = text.find(b"\n")
        if end < 0:
            raise ValueError(f"lumaqc: {path!r}: Y4M header line missing or too long")
        params = {token[:1]: token[1:] for token in text[len(self.MAGIC) : end].decode("ascii", "replace").split()}
        try:
            self.width, self.height = _positive("width", int(params["W"])), _positive("height", int(params["H"]))
        except (KeyError, ValueError) as error:
            raise ValueError(f"lumaqc: {path!r}: Y4M header without a valid W and H") from error
        if params.get("C") not in self._CHROMA_420:
            raise ValueError(f"lumaqc: {path!r}: only 8-bit 4:2:0 Y4M is read, not C{params['C']}")
        for name, given, found in (("width", width, self.width), ("height", height, self.height)):
            if given is not None and operator.index(given) != found:
                raise ValueError(f"lumaqc: {path!r}: {name} {given} given, the Y4M header says {found}")
        self.fps = None
        numerator, _, denominator = params.get("F", "").partition(":")
        if numerator.isdigit() and denominator.isdigit() and int(numerator) > 0 and int(denominator) > 0:
            self.fps = int(numerator) / int(denominator)
        self._data = data
        # Chroma planes round up on odd sizes.
        frame_bytes = self.width * self.height + 2 * ((self.width + 1) // 2) * ((self.height + 1) // 2)
        offsets = []
        position = end + 1
        while position < len(data):
            head = bytes(data[position : position + 4096])
            line_end = head.find(b"\n")
            if not head.startswith(b"FRAME") or line_end < 0:
                raise ValueError(f"lumaqc: {path!r}: no FRAME line at byte {position}")
            picture = position + line_end + 1
            if picture + frame_bytes > len(data):
                break  # a trailing partial frame is ignored
            offsets.append(picture)
            position = picture + frame_bytes
        self._offsets = offsets


# ---- READER CHOICE: the one place where analyze_file picks a reader. ----------
# A reader has width, height, fps (None when the file does not say), frame_count
# and frames(start, count) yielding 2-D uint8 luma planes of shape (height, width).
def _open_reader(path, width, height):
    with open(path, "rb") as file:  # OSError for missing or unreadable files
        size = os.fstat(file.fileno()).st_size
        mapped = mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) if size > 0 else b""
    data = np.frombuffer(mapped, dtype=np.uint8)
    if bytes(data[: len(_Y4mReader.MAGIC)]) == _Y4mReader.MAGIC:
        return _Y4mReader(path, data, width, height)
    return _RawReader(path, data, width, height)


def analyze_file(path, width=None, height=None, fps=None, frames=None, start=0, threads=None, *, isa=None, reference=False):
    """Analyses the frames of a file and returns an AnalysisResult.

    Reads raw 8-bit YUV 4:2:0 (width and height required; frame i at byte
    i * (width * height * 3 // 2); a trailing partial frame is ignored) and Y4M
    8-bit 4:2:0 (recognised by its header, which gives the size and the frame rate).
    fps defaults to the Y4M header's rate, else 25. frames limits the count
    (None: to the end of the file; frames past the end are not an error, len()
    of the result tells how many were analysed), start is the first frame's index.
    threads > 1 analyses several frames at once on that many threads (same values).
    isa and reference are passed to Analyzer.

    Raises OSError for a missing or unreadable file, ValueError for bad sizes,
    counts, frame rates or a malformed Y4M file, TypeError for non-integer sizes.
    """
    start = operator.index(start)
    if start < 0:
        raise ValueError(f"lumaqc: start must not be negative, not {start}")
    if frames is not None and operator.index(frames) < 0:
        raise ValueError(f"lumaqc: frames must not be negative, not {frames}")
    if threads is not None:
        threads = _positive("threads", threads)
    if fps is not None and not (float(fps) > 0 and np.isfinite(float(fps))):
        raise ValueError(f"lumaqc: fps must be positive and finite, not {fps}")
    path = os.fspath(path)
    reader = _open_reader(path, width, height)
    rate = float(fps) if fps is not None else reader.fps or 25.0
    available = max(0, reader.frame_count - start)
    count = available if frames is None else min(operator.index(frames), available)

    names = column_names()
    columns = {name: np.empty(count, dtype=np.uint8 if name in _FLAG_COLUMNS else np.float64) for name in names}
    columns["has_previous"] = np.empty(count, dtype=bool)
    with Analyzer(reader.width, reader.height, rate, isa=isa, reference=reference, threads=threads or 0) as analyzer:
        received = 0

        def store(row):
            nonlocal received
            for name, column in columns.items():
                column[received] = row[name]
            received += 1

        # Frames are sent ahead as far as the analyzer holds them; rows come back in frame order.
        for luma in reader.frames(start, count):
            while not analyzer.send(luma):
                store(analyzer.receive())
        while analyzer.frames_in_flight:
            store(analyzer.receive())
    columns["frame"] = np.arange(start, start + count, dtype=np.int64)
    columns["pts_time"] = columns["frame"] / rate
    return AnalysisResult(path, reader.width, reader.height, rate, columns)
