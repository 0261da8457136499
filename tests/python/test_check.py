# lumaqc.check against the command line's lumaqc check and JSON report of the same
# run, and the HTML a result shows in a notebook.
import html.parser
import json
import os
import re
import subprocess

import numpy as np
import pytest

import lumaqc
from test_files import same

SIZE = 16


def clip_of_kinds(path, runs):
    """A 16 x 16 raw clip of runs of ('n' a noisy ramp changing every frame, 'b' black, 'f' the picture before
    again, count)."""
    rng = np.random.default_rng(7)
    picture = np.full(SIZE * SIZE * 3 // 2, 128, np.uint8)
    frames = []
    for kind, count in runs:
        for _ in range(count):
            if kind == "b":
                picture[:SIZE * SIZE] = 16
            elif kind == "n":
                level = 60 + len(frames) % 2 * 50
                picture[:SIZE * SIZE] = level + np.arange(SIZE * SIZE) % 16 * 6 + rng.integers(0, 20, SIZE * SIZE)
            frames.append(picture.copy())
    np.concatenate(frames).tofile(path)
    return path


CLIPS = {
    # black 2.4 s and a freeze of 2.6 s inside the run, black in the first second
    "black_freeze": [("b", 10), ("n", 40), ("b", 60), ("n", 20), ("f", 65), ("n", 30)],
    "clean": [("n", 120)],
    "black_at_the_end": [("n", 60), ("b", 70)],
}

USER_PROFILE = {"settings": {"min_black": 0.2, "min_freeze": 0.5}, "gates": ["black.longest>=2", "freeze.count>1"]}
WAIVERS = [{"type": "black", "first": 50, "last": 109}, {"type": "freeze", "first": 0, "last": 10}]


def check_lines(directory, path, profile, waivers):
    """The events lumaqc check lists, as (mark, type, first, last), and its exit status."""
    extra = ["--waivers", waivers] if waivers else []
    run = subprocess.run([os.environ["LUMAQC_BINARY"], "check", "--profile", profile, *extra, "--size",
                          f"{SIZE}x{SIZE}", path], cwd=directory, capture_output=True, text=True)
    events = []
    for line in run.stdout.splitlines()[1:]:
        found = re.fullmatch(r"  (waived |at an end, not gated: |)(\w+) .* frames (\d+)-(\d+)", line)
        if found:
            events.append((found[1].strip(), found[2], int(found[3]), int(found[4])))
    return events, run.returncode


def json_report(directory, path, profile, waivers):
    report = os.path.join(directory, "check.json")
    extra = ["--waivers", waivers] if waivers else []
    subprocess.run([os.environ["LUMAQC_BINARY"], "--quiet", "--no-log", "--profile", profile, *extra, "--json", report,
                    path, str(SIZE), str(SIZE)], cwd=directory, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(report) as file:
        return json.load(file)


@pytest.mark.parametrize("clip_name", CLIPS)
@pytest.mark.parametrize("profile", ["broadcast", "archive", "streaming", "user"])
@pytest.mark.parametrize("with_waivers", [False, True], ids=["no_waivers", "waivers"])
def test_check_gives_the_command_lines_verdict(tmp_path, clip_name, profile, with_waivers):
    path = clip_of_kinds(str(tmp_path / "clip.yuv"), CLIPS[clip_name])
    if profile == "user":
        profile = str(tmp_path / "mine.json")
        with open(profile, "w") as file:
            json.dump(USER_PROFILE, file)
    waivers = None
    if with_waivers:
        waivers = str(tmp_path / "waivers.json")
        with open(waivers, "w") as file:
            json.dump(WAIVERS, file)
    events, status = check_lines(str(tmp_path), path, profile, waivers)
    report = json_report(str(tmp_path), path, profile, waivers)

    verdict = lumaqc.check(path, profile, waivers, SIZE, SIZE)
    assert status in (0, 1) and verdict.passed == (status == 0)
    assert verdict.profile == profile and verdict.result.verdict is verdict
    ours = [(mark, s["type"], s["first_frame"], s["last_frame"])
            for mark, group in (("", verdict.events), ("waived", verdict.waived), ("at an end, not gated:", verdict.at_edges))
            for s in group]
    assert sorted(ours) == sorted(events)
    assert same(verdict.gates, report["gates"])
    assert verdict.tripped == [g["expression"] for g in report["gates"] if g["tripped"]]
    assert same(verdict.result.segments, report["events"])


@pytest.mark.parametrize("profile, waivers, message", [
    ("no-such-profile", None, "Unknown profile 'no-such-profile'"),
    ("missing.json", None, "Cannot read missing.json"),
    ("bad.json", None, "unknown key 'colour'"),
    ("broadcast", "bad.json", "not a JSON list"),
])
def test_a_bad_profile_or_waivers_file_raises(tmp_path, profile, waivers, message):
    path = clip_of_kinds(str(tmp_path / "clip.yuv"), CLIPS["clean"])
    (tmp_path / "bad.json").write_text('{"colour": 1}')
    os.chdir(tmp_path)
    with pytest.raises(ValueError, match=re.escape(message)):
        lumaqc.check(path, profile, waivers, SIZE, SIZE)


class Cells(html.parser.HTMLParser):
    """The text of every table row of an HTML fragment, and all of its text."""

    def __init__(self, fragment):
        super().__init__()
        self.rows, self.text, self.cell = [], "", None
        self.feed(fragment)

    def handle_starttag(self, tag, attrs):
        if tag == "tr":
            self.rows.append([])
        elif tag in ("td", "th"):
            self.cell = ""

    def handle_endtag(self, tag):
        if tag in ("td", "th"):
            self.rows[-1].append(self.cell)
            self.cell = None

    def handle_data(self, data):
        self.text += data
        if self.cell is not None:
            self.cell += data


@pytest.mark.parametrize("name", ["clip.yuv", "<b>&'\".yuv"])
@pytest.mark.parametrize("judged", [False, True], ids=["analysed", "checked"])
def test_a_result_shows_its_verdict_and_events_as_html(tmp_path, name, judged):
    path = clip_of_kinds(str(tmp_path / name), CLIPS["black_freeze"])
    if judged:
        verdict = lumaqc.check(path, "broadcast", None, SIZE, SIZE)
        result = verdict.result
        marked = [("", s) for s in verdict.events] + [("waived", s) for s in verdict.waived] + \
                 [("at an end", s) for s in verdict.at_edges]
    else:
        result = lumaqc.analyze_file(path, SIZE, SIZE)
        marked = [("", s) for s in result.segments]
    page = Cells(result._repr_html_())
    # The text read back is the name and the values themselves: everything was escaped.
    assert path in page.text
    assert ("FAIL" in page.text.split()) == (judged and not verdict.passed)
    shown = [(row[0], row[1], int(row[2]), int(row[3])) for row in page.rows[1:]]
    assert sorted(shown) == sorted((m, s["type"], s["first_frame"], s["last_frame"]) for m, s in marked)
    assert len(shown) > 0
