"""The accuracy scorecard's scoring: each function against a plain per-frame composition or a table."""

import os
import random
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench", "accuracy"))
import scorecard  # noqa: E402
import scoring  # noqa: E402


def random_ranges(rng, frames, count):
    out = []
    for _ in range(count):
        first = rng.randrange(frames)
        out.append([first, min(frames - 1, first + rng.randrange(12))])
    return out


@pytest.mark.parametrize("seed", range(20))
def test_frame_counts_equal_a_per_frame_tally(seed):
    rng = random.Random(seed)
    frames = rng.randrange(1, 120)
    truth = scoring.frames_of(random_ranges(rng, frames, 4))
    detected = scoring.frames_of(random_ranges(rng, frames + 5, 5))
    ignored = scoring.frames_of(random_ranges(rng, frames, 2))
    tally = [0, 0, 0]
    for frame in range(frames + 5):
        if frame in ignored and frame < frames:
            continue
        labelled, found = frame in truth and frame < frames, frame in detected
        if labelled and found:
            tally[0] += 1
        elif found:
            tally[1] += 1
        elif labelled:
            tally[2] += 1
    assert list(scoring.frame_counts(truth, detected, ignored, frames)) == tally


@pytest.mark.parametrize("seed", range(20))
def test_runs_and_frames_are_inverse(seed):
    rng = random.Random(seed)
    frames = {f for f in range(200) if rng.random() < 0.3}
    runs = scoring.runs_of(frames)
    assert scoring.frames_of(runs) == frames
    # runs are apart: a gap of at least one frame between them
    assert all(b[0] > a[1] + 1 for a, b in zip(runs, runs[1:]))


@pytest.mark.parametrize("tp,fp,fn", [(0, 0, 0), (0, 3, 0), (0, 0, 4), (5, 0, 0), (3, 1, 2), (7, 9, 1),
                                      (1, 0, 100)])
def test_f1_is_the_harmonic_mean_of_precision_and_recall(tp, fp, fn):
    precision, recall, f1 = scoring.precision_recall_f1(tp, fp, fn)
    assert precision == (tp / (tp + fp) if tp + fp else None)
    assert recall == (tp / (tp + fn) if tp + fn else None)
    if tp + fp + fn == 0:
        assert f1 is None
    elif tp == 0:
        assert f1 == 0
    else:
        assert f1 == pytest.approx(2 * precision * recall / (precision + recall), rel=1e-12)


# truth events, detected events, ignored ranges -> (found, onset error, end error) per truth event
MATCHES = [
    ([[10, 19]], [[10, 19]], [], [(True, 0, 0)]),
    ([[10, 19]], [[12, 18]], [], [(True, 2, -1)]),
    ([[10, 19]], [[8, 21]], [], [(True, -2, 2)]),
    ([[10, 19]], [[0, 5], [25, 30]], [], [(False, None, None)]),
    # scraps: the earliest onset and the latest end of the detections touching the event
    ([[10, 19]], [[12, 13], [15, 17]], [], [(True, 2, -2)]),
    # a fade's ramp before and after: any edge inside it is right
    ([[10, 19]], [[6, 22]], [[5, 9], [20, 24]], [(True, 0, 0)]),
    ([[10, 19]], [[3, 26]], [[5, 9], [20, 24]], [(True, -2, 2)]),
    ([[10, 19]], [[11, 19]], [[5, 9]], [(True, 1, 0)]),
    # an ignored range that does not touch the event changes nothing
    ([[10, 19]], [[6, 19]], [[2, 8]], [(True, -4, 0)]),
    ([[0, 4], [10, 14]], [[0, 14]], [], [(True, 0, 10), (True, -10, 0)]),
]


@pytest.mark.parametrize("truth,detected,ignored,expected", MATCHES)
def test_event_matching_and_edge_errors(truth, detected, ignored, expected):
    assert scoring.match_events(truth, detected, ignored) == expected


@pytest.mark.parametrize("count,seconds,expected", [(0, 60, 0), (1, 3600, 1), (3, 40, 270), (1, 0, None)])
def test_events_per_hour(count, seconds, expected):
    assert scoring.events_per_hour(count, seconds) == expected


def test_ffmpeg_logs_become_frame_ranges():
    log = ("[blackdetect @ 0x1] black_start:1.6 black_end:2.4 black_duration:0.8\n"
           "[blackdetect @ 0x1] black_start:3.96 black_end:4 black_duration:0.04\n"
           "[freezedetect @ 0x2] lavfi.freezedetect.freeze_start: 1.2\n"
           "[freezedetect @ 0x2] lavfi.freezedetect.freeze_duration: 0.4\n"
           "[freezedetect @ 0x2] lavfi.freezedetect.freeze_end: 1.6\n"
           "[freezedetect @ 0x2] lavfi.freezedetect.freeze_start: 3\n")
    assert scorecard.blackdetect_events(log, 25, 100) == [[40, 59], [99, 99]]
    # a freeze still open at the end lasts to the last frame
    assert scorecard.freezedetect_events(log, 25, 100) == [[30, 39], [75, 99]]


@pytest.mark.parametrize("edges,bars", [
    ((0, 639, 0, 359), (0, 0, 0, 0)),
    ((0, 639, 44, 315), (44, 44, 0, 0)),
    ((80, 559, 0, 359), (0, 0, 80, 80)),
    ((0, 543, 40, 359), (40, 0, 0, 96)),
    ((639, 0, 359, 0), (180, 180, 320, 320)),
])
def test_cropdetect_edges_become_bars(edges, bars):
    x1, x2, y1, y2 = edges
    text = (f"frame:7    pts:7    pts_time:0.28\nlavfi.cropdetect.x1={x1}\nlavfi.cropdetect.x2={x2}\n"
            f"lavfi.cropdetect.y1={y1}\nlavfi.cropdetect.y2={y2}\n")
    found = scorecard.cropdetect_bars(scorecard.parse_metadata(text), 640, 360)
    assert found == {7: bars}
    letterbox, pillarbox = scorecard.bar_events(found)
    assert (letterbox == [[7, 7]]) == bool(bars[0] or bars[1])
    assert (pillarbox == [[7, 7]]) == bool(bars[2] or bars[3])
    # a crop line of the same bars gives them back
    w, h = 640 - bars[2] - bars[3], 360 - bars[0] - bars[1]
    assert scorecard.crop_sides(f"crop={w}:{h}:{bars[2]}:{bars[0]}", 640, 360) == bars
