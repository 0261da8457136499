"""The labelled clips' truth against their pixels: small clips made by the generator's own filter graphs,
decoded, and every labelled black, flat, frozen and barred frame checked in the luma plane."""

import os
import shutil
import subprocess
import sys

import numpy
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench", "accuracy"))
import clips as catalogue  # noqa: E402
import generate  # noqa: E402
import scoring  # noqa: E402

S = catalogue.Segment
SMALL = [
    catalogue.Clip("cuts", [S("testsrc2", 6), S("black", 4), S("life", 6, fade_out=3), S("black0", 3),
                            S("mandelbrot", 6, fade_in=2), S("gray", 3), S("white", 2), S("slate", 2),
                            S("black", 2), S("noise", 3, fade_in=2)], size=(128, 96)),
    catalogue.Clip("freezes", [S("testsrc2", 12, hold=(-1, 4)), S("life", 10, hold=(3, 5)),
                               S("bars", 9, hold=(0, 2)), S("noise", 4)], size=(128, 96)),
    catalogue.Clip("bars", [S("testsrc2", 5, bars=(8, 8, 0, 0)), S("life", 5, bars=(0, 0, 16, 16)),
                            S("noise", 5, bars=(6, 0, 0, 10)), S("testsrc2", 6, interlace=("interlace", "bff")),
                            S("noise", 5, interlace=("tinterlace", "tff"))], size=(128, 96)),
]


def luma_frames(path, clip):
    w, h = clip.size
    # the Y plane as stored: a conversion to gray would stretch it to full range
    raw = subprocess.run(["ffmpeg", "-v", "error", "-nostdin", "-i", path, "-f", "rawvideo", "-pix_fmt", "yuv420p",
                          "-"], capture_output=True, check=True).stdout
    planes = numpy.frombuffer(raw, numpy.uint8).reshape(-1, w * h * 3 // 2)
    return planes[:, : w * h].reshape(-1, h, w)


@pytest.fixture(scope="module")
def made(tmp_path_factory):
    if not shutil.which("ffmpeg"):
        pytest.skip("ffmpeg is not installed")
    folder = str(tmp_path_factory.mktemp("accuracy"))
    os.makedirs(os.path.join(folder, "clips"))
    out = {}
    for clip in SMALL:
        path = os.path.join(folder, clip.name + ".mkv")
        subprocess.run(generate.master_command(clip, folder, path), check=True, capture_output=True)
        out[clip.name] = (luma_frames(path, clip), catalogue.truth(clip))
    return out


@pytest.mark.parametrize("clip", SMALL, ids=lambda c: c.name)
def test_labelled_frames_show_what_the_truth_says(made, clip):
    frames, truth = made[clip.name]
    assert len(frames) == truth["frames"] == clip.frames
    events = truth["events"]
    black = scoring.frames_of([e["first"], e["last"]] for e in events["black"])
    flat = scoring.frames_of([e["first"], e["last"]] for e in events["flat"])
    frozen = [[e["first"], e["last"]] for e in events["freeze"]]
    ignored_freeze = scoring.frames_of([e["first"], e["last"]] for e in truth["ignore"].get("freeze", []))
    ignored_black = scoring.frames_of([e["first"], e["last"]] for e in truth["ignore"].get("black", []))
    for n, picture in enumerate(frames):
        uniform = picture.min() == picture.max()
        if n not in ignored_black:
            assert uniform == (n in black or n in flat), n
        if n in black:
            assert picture.max() in (0, 16), n
    # a frame repeats its predecessor exactly inside a freeze (after its first picture) and nowhere else
    repeats = scoring.frames_of([first + 1, last] for first, last in frozen)
    for n in range(1, len(frames)):
        if n in ignored_freeze and n - 1 in ignored_freeze:
            continue
        assert numpy.array_equal(frames[n], frames[n - 1]) == (n in repeats), n


@pytest.mark.parametrize("clip", SMALL, ids=lambda c: c.name)
def test_labelled_bars_are_black_up_to_the_picture(made, clip):
    frames, truth = made[clip.name]
    h, w = frames.shape[1:]
    sizes = {n: (0, 0, 0, 0) for n in range(len(frames))}
    for kind in ("letterbox", "pillarbox"):
        for e in truth["events"][kind]:
            for n in range(e["first"], e["last"] + 1):
                sizes[n] = (e["top"], e["bottom"], e["left"], e["right"])
    for n, (top, bottom, left, right) in sizes.items():
        picture = frames[n]
        if picture.min() == picture.max():
            continue  # a flat picture is all bar
        # every side: its bar rows or columns are black, the next one in is not all black
        for edge in (picture[:top + 1], picture[::-1][:bottom + 1], picture.T[:left + 1], picture.T[::-1][:right + 1]):
            assert (edge[:-1] == 16).all(), n
            assert not (edge[-1] == 16).all(), n


def test_interlaced_stretches_carry_their_field_order():
    truth = catalogue.truth(SMALL[2])
    assert truth["events"]["interlaced"] == [{"first": 15, "last": 20, "order": "bff"},
                                             {"first": 21, "last": 25, "order": "tff"}]
