"""Scoring of detected events against the truth: frame counts, precision, recall, F1, edge errors.

Frames are indices from 0; a range or event is an inclusive pair [first, last].
"""


def frames_of(ranges):
    """The set of frames that inclusive [first, last] ranges cover."""
    out = set()
    for first, last in ranges:
        out.update(range(first, last + 1))
    return out


def runs_of(frames):
    """Consecutive frames as inclusive [first, last] ranges, in order."""
    out = []
    for frame in sorted(frames):
        if out and frame == out[-1][1] + 1:
            out[-1][1] = frame
        else:
            out.append([frame, frame])
    return out


def frame_counts(truth, detected, ignored, frames):
    """(true positives, false positives, false negatives) over frames 0..frames-1 less the ignored ones.

    truth, detected, ignored: sets of frames. Detections beyond the clip count as false positives.
    """
    scored = set(range(frames)) - ignored
    truth = truth & scored
    outside = {f for f in detected if f < 0 or f >= frames}
    detected = (detected & scored) | outside
    tp = len(truth & detected)
    return tp, len(detected) - tp, len(truth) - tp


def precision_recall_f1(tp, fp, fn):
    """Precision, recall and F1; None where the ratio has no frames to count."""
    precision = tp / (tp + fp) if tp + fp else None
    recall = tp / (tp + fn) if tp + fn else None
    if tp + fp + fn == 0:
        return precision, recall, None
    return precision, recall, 2 * tp / (2 * tp + fp + fn)


def edge_error(edge, lowest, highest):
    """Signed distance in frames from `edge` to the accepted interval [lowest, highest] (0 inside)."""
    if edge < lowest:
        return edge - lowest
    if edge > highest:
        return edge - highest
    return 0


def match_events(truth_events, detected_events, ignored_ranges):
    """For each truth event, whether it was found and the signed onset and end errors in frames.

    A truth event is found by every detected event that shares a frame with it: the onset is the
    first frame of the earliest of them, the end the last frame of the latest. An edge that borders
    an ignored range (the ramp of a fade) is accepted anywhere in that range.
    Returns a list of (found, onset_error, end_error), the errors None when not found.
    """
    ignored = [list(r) for r in ignored_ranges]
    out = []
    for first, last in truth_events:
        hits = [d for d in detected_events if d[0] <= last and d[1] >= first]
        if not hits:
            out.append((False, None, None))
            continue
        onset = min(d[0] for d in hits)
        end = max(d[1] for d in hits)
        onset_low = min([a for a, b in ignored if b == first - 1] + [first])
        end_high = max([b for a, b in ignored if a == last + 1] + [last])
        out.append((True, edge_error(onset, onset_low, first), edge_error(end, last, end_high)))
    return out


def events_per_hour(count, seconds):
    """Events per hour of video, None without video."""
    return count * 3600 / seconds if seconds else None


def mean_abs(values):
    values = [abs(v) for v in values if v is not None]
    return sum(values) / len(values) if values else None
