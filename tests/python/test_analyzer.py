# lumaqc.Analyzer against the command line's log, over layouts, threads and bad input.
import sys
import threading

import numpy as np
import pytest

import lumaqc
from conftest import log_row


def rows_of(analyzer, planes):
    return [analyzer.analyze(p) for p in planes]


def log_rows(rows):
    return [log_row(r[name] for name in lumaqc.column_names()) for r in rows]


@pytest.mark.parametrize("options", [{}, {"isa": "generic"}, {"isa": ["avx2"]}, {"reference": True}, {"threads": 2},
                                     {"analysis_path": "per-indicator"}],
                         ids=["best", "generic", "avx2", "reference", "threads", "per_indicator"])
def test_rows_equal_the_command_line_log(clip, options):
    with lumaqc.Analyzer(clip.width, clip.height, **options) as analyzer:
        rows = rows_of(analyzer, (clip.luma(i) for i in range(clip.frames)))
    assert log_rows(rows) == clip.log()
    assert [r["has_previous"] for r in rows] == [False] + [True] * (clip.frames - 1)
    # Every digit: the JSON report writes the shortest text that reads back as the same double.
    reported = [{name: value for name, value in m.items() if value is not None} for m in clip.json_metrics()]
    assert [{name: row[name] for name in m} for row, m in zip(rows, reported)] == reported


def embedded(p):  # the picture inside a larger array, rows 37 bytes longer
    big = np.full((p.shape[0] + 3, p.shape[1] + 37), 255, np.uint8)
    big[2:-1, 5:-32] = p
    return big[2:-1, 5:-32]


def column_step(p):
    big = np.zeros((p.shape[0], 2 * p.shape[1]), np.uint8)
    big[:, ::2] = p
    return big[:, ::2]


@pytest.mark.parametrize("layout", [embedded, column_step, np.asfortranarray, lambda p: np.flipud(p).copy()[::-1],
                                    lambda p: np.fliplr(p).copy()[:, ::-1], memoryview],
                         ids=["embedded", "column_step", "fortran", "negative_rows", "negative_columns", "array_like"])
def test_layouts_give_the_values_of_contiguous_copies(clip, layout):
    planes = [clip.luma(i) for i in range(10)]
    with lumaqc.Analyzer(clip.width, clip.height) as a, lumaqc.Analyzer(clip.width, clip.height) as b:
        assert repr(rows_of(a, [layout(p) for p in planes])) == repr(rows_of(b, planes))


@pytest.mark.parametrize("luma, error", [
    (np.zeros((288, 352), np.float32), TypeError),
    (np.zeros((288, 352), np.int8), TypeError),
    ([[0] * 352] * 288, TypeError),
    (np.zeros((352, 288), np.uint8), ValueError),
    (np.zeros((288, 352, 1), np.uint8), ValueError),
    (np.zeros(288 * 352, np.uint8), ValueError),
])
def test_bad_pictures_raise(luma, error):
    with lumaqc.Analyzer(352, 288) as analyzer:
        with pytest.raises(error, match="lumaqc: luma"):
            analyzer.analyze(luma)
        assert analyzer.analyze(np.zeros((288, 352), np.uint8))["frame"] == 0  # nothing changed


@pytest.mark.parametrize("args, error, message", [
    ((0, 288), ValueError, "width must be from 1 to 2147483647, not 0"),
    ((352, -1), ValueError, "height must be from 1 to 2147483647, not -1"),
    ((2 ** 31, 1), ValueError, "width must be from 1 to 2147483647, not 2147483648"),
    ((30000, 30000), ValueError, "picture size out of range"),
    ((352, 288, 25.0, "sse9"), ValueError, "unknown isa"),
    ((352, 288, 25.0, 7), TypeError, "isa"),
    ((352, 288, 25.0, None, False, False, -1), ValueError, "threads must be from 0 to 1024, not -1"),
    ((352, 288, 25.0, None, False, False, 0, "fused"), ValueError, "unknown analysis_path"),
])
def test_bad_settings_raise(args, error, message):
    with pytest.raises(error, match=message):
        lumaqc.Analyzer(*args)


def test_closed_and_untimed_analyzers_raise():
    analyzer = lumaqc.Analyzer(16, 16, measure_time=False)
    with pytest.raises(RuntimeError, match="measure_time"):
        analyzer.timings()
    with pytest.raises(RuntimeError, match="no frame was sent"):
        analyzer.receive()
    with analyzer:
        pass
    analyzer.close()
    assert analyzer.closed
    for call in (lambda: analyzer.analyze(np.zeros((16, 16), np.uint8)), lambda: analyzer.isa, analyzer.__enter__):
        with pytest.raises(RuntimeError, match="no open context"):
            call()


@pytest.mark.parametrize("reference", [False, True])
def test_timings_name_every_indicator_and_grow(reference):
    with lumaqc.Analyzer(640, 480, reference=reference) as analyzer:
        for _ in range(3):
            analyzer.analyze(np.random.default_rng(1).integers(0, 256, (480, 640), np.uint8))
        timings = analyzer.timings()
    assert set(timings) == set(lumaqc.column_names()) - {"frame"}
    assert sum(timings.values()) > 0


def test_two_threads_give_the_values_of_one_after_the_other(clip):
    planes = [clip.luma(i) for i in range(clip.frames)]
    streams = [planes, planes[::-1]]
    expected = []
    for stream in streams:
        with lumaqc.Analyzer(clip.width, clip.height) as analyzer:
            expected.append(repr(rows_of(analyzer, stream)))
    got = [None, None]

    def run(k):
        with lumaqc.Analyzer(clip.width, clip.height) as analyzer:
            got[k] = repr(rows_of(analyzer, streams[k]))

    threads = [threading.Thread(target=run, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert got == expected


def test_the_interpreter_runs_while_a_frame_is_analysed():
    """The main thread counts its turns while another thread is inside analyze().

    With a switch interval far longer than the test, the interpreter hands the GIL
    over only when its holder gives it up, so the main thread can see a call in
    flight only if analyze() released the GIL: a held GIL allows no turn at all,
    however slow or loaded the machine is."""
    picture = np.random.default_rng(2).integers(0, 256, (720, 1280), np.uint8)
    analyzer = lumaqc.Analyzer(1280, 720, reference=True)  # a long call
    in_call, turns, finished = [False], [0], threading.Event()

    def analyse_until_seen():
        for _ in range(20):  # more calls only when the main thread was not scheduled during one
            in_call[0] = True
            analyzer.analyze(picture)
            in_call[0] = False
            if turns[0]:
                break
        finished.set()

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e6)
    try:
        worker = threading.Thread(target=analyse_until_seen)
        worker.start()
        while not finished.is_set():
            if in_call[0]:
                turns[0] += 1
            finished.wait(0.001)  # gives the GIL back, so that the worker can leave analyze()
        worker.join()
    finally:
        sys.setswitchinterval(interval)
        analyzer.close()
    assert turns[0] > 0
