#!/usr/bin/python3
"""Writes the seed corpus of the harnesses into tests/fuzz/corpus/<harness>/.

argumentsFuzzer: argument vectors, words separated by NUL bytes.
indicatorsFuzzer: clips encoded the way the harness decodes them with
FuzzedDataProvider: single-byte choices are taken from the end of the input
(the last byte first), pixel bytes from the front. Run it again after changing
how indicatorsFuzzer reads its input.
mergeFuzzer: pieces' JSON reports written by the lumaqc program; give its path
as the first argument to write them again (without it they are left alone).
libavFuzzer: tiny containers written by ffmpeg, when it is on the PATH (else
they are left alone); the first byte chooses the name, seeking, start and
count (0: a seekable .mkv name from frame 0, all frames).
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def write(harness, name, data):
    directory = os.path.join(HERE, "corpus", harness)
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), "wb") as f:
        f.write(data)


# --- argumentsFuzzer --------------------------------------------------------
ARGUMENTS = {
    "argc-zero": [],
    "too-few": ["lumaqc", "100", "64"],
    "one-frame-from-file": ["lumaqc", "1536", "32", "32"],
    "explicit-frames-and-start": ["lumaqc", "2047", "16", "16", "50", "4", "2"],
    "past-the-end": ["lumaqc", "2000", "1", "1", "0", "5000", "7"],
    "bad-width": ["lumaqc", "100", "-5", "48"],
    "too-large": ["lumaqc", "100", "46341", "15447"],
    "largest-accepted": ["lumaqc", "100", "46341", "15446", "25", "1"],
    "negative-start": ["lumaqc", "100", "4", "4", "25", "2", "-1"],
    "wrapping-numbers": ["lumaqc", "100", "4294967304", "8", "nan", "2147483647", "2147483647"],
    "missing-file": ["lumaqc", "", "16", "16"],
    "reports": ["lumaqc", "--json", "r.json", "--csv=r.csv", "--events", "--summary", "1536", "32", "32", "25", "1"],
    "report-on-standard-output": ["lumaqc", "--quiet", "--json", "-", "2047", "16", "16"],
    "gates": ["lumaqc", "--fail-if", "freeze.longest>=2", "--fail-if=blur.p95>4", "--min-black=2", "2000", "8", "8"],
    "unknown-option": ["lumaqc", "--bogus", "100", "16", "16"],
    "after-double-dash": ["lumaqc", "--", "--1000", "16", "16"],
    "largest-width-and-height": ["", "nan", "2147483647", "2147483647"],
}
for name, words in ARGUMENTS.items():
    write("argumentsFuzzer", name, b"\0".join(w.encode() for w in words))


# --- indicatorsFuzzer -------------------------------------------------------
class Clip:
    """Front bytes and tail choices, in the order the harness consumes them."""

    def __init__(self):
        self.front = bytearray()
        self.tail = []

    def choose(self, value, low=0, high=255):
        assert low <= value <= high
        if high > low:  # a choice of one value reads no byte
            self.tail.append(value - low)

    def data(self):
        return bytes(self.front) + bytes(reversed(self.tail))


RATES = [25.0, 50.0, 29.97, 10.0, 0.0, -1.0, 1e300, 0.5, "nan", "inf"]


def clip(large, w, h, rate, frames, isa_mask=7, reserve=1, padding=0, padding_byte=0xA5, frame_buffer=False,
         threads=0, pipelined=False, seed=1):
    rng = random.Random(seed)
    c = Clip()
    c.choose(0 if large else 1, 0, 15)
    c.choose(w, 248 if large else 1, 300 if large else 80)
    c.choose(h, 248 if large else 1, 300 if large else 80)
    c.choose(rate, 0, 10)
    c.choose(len(frames), 1, 3 if large else 10)
    c.choose(isa_mask, 1, 7)
    c.choose(reserve)
    c.choose(padding, 0, 40)
    c.choose(padding_byte)
    c.choose(0 if frame_buffer else 1, 0, 3)
    c.choose(threads, 0, 3)
    c.choose(1 if pipelined else 0)
    for kind, levels in frames:
        c.choose(kind, 0, 5)
        if kind == 1:
            c.front += bytes(rng.randrange(256) for _ in range(w * h))
        elif kind == 2:
            x0, y0 = rng.randrange(w), rng.randrange(h)
            c.choose(x0, 0, w - 1)
            c.choose(y0, 0, h - 1)
            c.choose(rng.randrange(1, w - x0 + 1), 1, w - x0)
            c.choose(rng.randrange(1, h - y0 + 1), 1, h - y0)
            c.choose(rng.randrange(2))
            c.choose(rng.randrange(256))
        elif kind == 3:
            c.choose(rng.randrange(9), 0, 8)
            c.choose(rng.randrange(9), 0, 8)
            c.choose(rng.randrange(256))
            c.choose(rng.randrange(h // 2 + 1), 0, h // 2)
            c.choose(rng.randrange(w // 2 + 1), 0, w // 2)
            c.choose(rng.choice([0, 16, 235]))
        elif kind == 4:
            c.choose(rng.randrange(3), 0, 2)
            c.choose(rng.randrange(4), 0, 3)
            count = rng.randrange(1, 65)
            c.choose(count, 1, 64)
            c.front += bytes(rng.randrange(256) for _ in range(count))
        elif kind == 5:
            c.choose(rng.randrange(1, 9), 1, 8)
        c.choose(levels, 0, 7)
        if levels == 0:
            c.choose(rng.choice([0xF0, 0x80, 0x0F]))
        elif levels == 1:
            c.choose(rng.randrange(256))
            c.choose(rng.randrange(9), 0, 8)
    return c.data()


# (kind, levels): kinds 0 freeze, 1 bytes, 2 patch, 3 bars, 4 blocks, 5 comb;
# levels 0 mask, 1 few levels, 7 unchanged.
MIXED = [(1, 7), (0, 7), (0, 7), (2, 7), (5, 7), (3, 7), (4, 7), (0, 7), (1, 1), (4, 0)]
write("indicatorsFuzzer", "mixed-64x48", clip(False, 64, 48, 0, MIXED, seed=1))
write("indicatorsFuzzer", "mixed-80x80-padded", clip(False, 80, 80, 2, MIXED, padding=13, threads=2,
                                                       pipelined=True, seed=2))
write("indicatorsFuzzer", "frozen-bars-80x72", clip(False, 80, 72, 3, [(3, 7)] + [(0, 7)] * 9, threads=3,
                                                      seed=3))
write("indicatorsFuzzer", "masked-bars-48x48", clip(False, 48, 48, 4, [(3, 0)] * 10, seed=4))
write("indicatorsFuzzer", "one-pixel", clip(False, 1, 1, 8, [(1, 7)] * 5, seed=5))
write("indicatorsFuzzer", "few-levels-17x49", clip(False, 17, 49, 6, [(1, 1), (4, 1), (5, 1), (2, 0)], seed=6))
write("indicatorsFuzzer", "frame-buffer-8x8", clip(False, 8, 8, 1, [(4, 7), (4, 7), (1, 7)], isa_mask=1,
                                                     frame_buffer=True, seed=7))
write("indicatorsFuzzer", "blocks-256x256", clip(True, 256, 256, 0, [(4, 7), (2, 7), (4, 1)], reserve=0, seed=8))
write("indicatorsFuzzer", "bars-300x300", clip(True, 300, 300, 1, [(3, 7), (0, 7), (5, 7)], padding=40, threads=2,
                                                 pipelined=True, seed=9))


# --- y4mFuzzer --------------------------------------------------------------
# The first byte chooses how the harness reads (bit 0: a start and a count from
# bits 1-2 and 3-5; bit 6: into a target buffer; bit 7: up to 64 frames).
def y4m(header, w, h, frames, samples_per_frame=None, choice=0x80, frame_line=b"FRAME\n", seed=1):
    rng = random.Random(seed)
    size = samples_per_frame if samples_per_frame is not None else w * h * 3 // 2 + (w % 2 or h % 2) * (w + h + 1)
    body = b"".join(frame_line + bytes(rng.randrange(256) for _ in range(size)) for _ in range(frames))
    return bytes([choice]) + header + b"\n" + body


write("y4mFuzzer", "420-8x8", y4m(b"YUV4MPEG2 W8 H8 F25:1 Ip A1:1 C420jpeg", 8, 8, 3))
write("y4mFuzzer", "420-odd-7x5-into-target", y4m(b"YUV4MPEG2 W7 H5 F30000:1001 C420", 7, 5, 2,
                                                 samples_per_frame=35 + 2 * 4 * 3, choice=0xC0))
write("y4mFuzzer", "mono-16x4-start-and-count", y4m(b"YUV4MPEG2 W16 H4 F50:1 Cmono", 16, 4, 4, samples_per_frame=64,
                                                   choice=0x80 | 1 | (1 << 1) | (2 << 3)))
write("y4mFuzzer", "444-4x4-frame-parameters", y4m(b"YUV4MPEG2 W4 H4 C444 XCOLORRANGE=FULL", 4, 4, 2,
                                                  samples_per_frame=48, frame_line=b"FRAME Ixyz\n"))
write("y4mFuzzer", "422-high-depth", y4m(b"YUV4MPEG2 W6 H2 C422p10", 6, 2, 1, samples_per_frame=2 * (12 + 12)))
write("y4mFuzzer", "truncated-last-frame", y4m(b"YUV4MPEG2 W8 H8 C420", 8, 8, 2)[:-20])
write("y4mFuzzer", "no-size", y4m(b"YUV4MPEG2 F25:1", 8, 8, 0))


# --- mergeFuzzer ------------------------------------------------------------
# Two pieces of a run over a small clip and a run made without --run-start.
PIECES = {
    "first-piece": ["--run-start", "0", "--start", "0", "--frames", "2"],
    "later-piece": ["--run-start", "0", "--start", "9", "--frames", "2"],
    "whole-run": ["--frames", "1"],
}
if len(sys.argv) > 1:
    with tempfile.TemporaryDirectory() as work:
        size = 16 * 16 * 3 // 2
        with open(os.path.join(work, "c.yuv"), "wb") as f:
            f.write(bytes((i * 37 + (i // size) * 11) & 0xFF for i in range(12 * size)))
        for name, options in PIECES.items():
            subprocess.run([os.path.abspath(sys.argv[1]), "--quiet", "--json", "p.json", *options, "c.yuv", "16",
                            "16"], cwd=work, check=True, stdout=subprocess.DEVNULL)
            with open(os.path.join(work, "p.json"), "rb") as f:
                write("mergeFuzzer", name, f.read())


# --- libavFuzzer -------------------------------------------------------------
# Three frames of 16x16 in a few containers and codecs, each under a few KiB.
CONTAINERS = {
    "ffv1-mkv": (0, ["-c:v", "ffv1", "-f", "matroska"]),
    "h264-mp4-from-frame-1": (1 | 16, ["-c:v", "libx264", "-bf", "2", "-f", "mp4"]),
    "mpeg2-ts-unseekable": (2 | 8, ["-c:v", "mpeg2video", "-f", "mpegts"]),
    "mjpeg-avi-two-frames": (3 | 64, ["-c:v", "mjpeg", "-pix_fmt", "yuvj420p", "-f", "avi"]),
}
if shutil.which("ffmpeg"):
    with tempfile.TemporaryDirectory() as work:
        for name, (choice, options) in CONTAINERS.items():
            out = os.path.join(work, name)
            subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=16x16:rate=25:duration=0.12",
                            "-bitexact", "-map_metadata", "-1", *options, out], check=True)
            with open(out, "rb") as f:
                write("libavFuzzer", name, bytes([choice]) + f.read())
