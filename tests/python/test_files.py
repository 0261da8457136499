# lumaqc.analyze_file on raw, Y4M and container files against the command line's log and JSON report,
# its errors, and its installed package.
import _thread
import inspect
import json
import math
import os
import shutil
import subprocess
import threading

import numpy as np
import pytest

import lumaqc
from conftest import log_row


def result_rows(result, log):
    """The result's rows as log rows and the log's own, both without the fields where the result is NaN (the
    reports' nulls, which the log shows as the library's placeholders)."""
    ours, theirs = [], []
    for i, line in enumerate(log[:result.frames_analysed]):
        values = [result[name][i].item() for name in lumaqc.column_names()]
        kept = [not (isinstance(v, float) and math.isnan(v)) for v in values]
        shown = log_row(v if k else 0 for v, k in zip(values, kept)).split(" \t")
        ours.append([f for f, k in zip(shown, kept) if k])
        theirs.append([f for f, k in zip(line.split(" \t"), kept) if k])
    return ours + [None] * (result.frames_analysed - len(log)), theirs + [None] * (len(log) - result.frames_analysed)


@pytest.mark.parametrize("cli_args, options", [
    ("", {}),
    ("50 12 5", {"fps": 50, "frames": 12, "start": 5}),
    ("25 1000 15", {"frames": 1000, "start": 15}),  # past the end: the frames that exist
    ("25 0", {"frames": 0}),
    ("", {"threads": 2}),
    ("50 40 7", {"fps": 50, "frames": 40, "start": 7, "threads": 3}),
])
def test_raw_file_equals_the_command_line_log(clip, cli_args, options):
    result = lumaqc.analyze_file(clip.path, clip.width, clip.height, **options)
    ours, theirs = result_rows(result, clip.log(cli_args))
    assert ours == theirs
    assert np.array_equal(result["pts_time"], result["frame"] / options.get("fps", 25))


def write_y4m(clip, name, header, frame_line=b"FRAME\n", chroma="420", depth=8):
    """The clip's luma (scaled to depth bits) with neutral chroma, and half a frame more at the end."""
    cw = {"420": (clip.width + 1) // 2, "422": (clip.width + 1) // 2, "444": clip.width, "mono": 0}[chroma]
    ch = {"420": (clip.height + 1) // 2, "422": clip.height, "444": clip.height, "mono": 0}[chroma]
    dtype = np.uint8 if depth == 8 else np.dtype("<u2")
    chroma_bytes = np.full(2 * cw * ch, 1 << (depth - 1), dtype).tobytes()
    path = os.path.join(clip.dir, name)
    with open(path, "wb") as out:
        out.write(b"YUV4MPEG2 " + header + b"\n")
        for i in range(clip.frames):
            out.write(frame_line + (clip.luma(i).astype(dtype) << (depth - 8)).tobytes() + chroma_bytes)
        out.write(frame_line + clip.luma(0).tobytes()[: clip.width])
    return path


@pytest.mark.parametrize("colour", [b"", b" C420jpeg", b" C420mpeg2"])
def test_y4m_file_equals_the_raw_file(clip, colour):
    header = b"W%d H%d F50:1 Ip A1:1" % (clip.width, clip.height) + colour
    path = write_y4m(clip, "clip.y4m", header, b"FRAME Ip\n")
    result = lumaqc.analyze_file(path, frames=30, start=3)
    assert result.fps == 50 and result.reader == "y4m"
    ours, theirs = result_rows(result, clip.log("50 30 3"))
    assert ours == theirs


def ffmpeg_encode(clip, name, *codec):
    if shutil.which("ffmpeg") is None:
        pytest.skip("ffmpeg is not installed (scripts/install-deps.sh installs it)")
    path = os.path.join(clip.dir, name)
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-s",
                    f"{clip.width}x{clip.height}", "-r", "25", "-i", clip.path, *codec, path], check=True)
    return path


# Every input kind, each read by the program and by the module: the files.
INPUTS = {
    "raw": lambda clip: (clip.path, [str(clip.width), str(clip.height)], {"width": clip.width, "height": clip.height}),
    "y4m_422_p10": lambda clip: (write_y4m(clip, "p10.y4m", b"W%d H%d F30000:1001 C422p10" % (clip.width, clip.height),
                                           chroma="422", depth=10), [], {}),
    "y4m_mono": lambda clip: (write_y4m(clip, "mono.y4m", b"W%d H%d F24:1 Cmono" % (clip.width, clip.height),
                                        chroma="mono"), [], {}),
    "ffv1_mkv": lambda clip: (ffmpeg_encode(clip, "clip.mkv", "-c:v", "ffv1"), [], {}),
    "h264_mp4": lambda clip: (ffmpeg_encode(clip, "clip.mp4", "-c:v", "libx264", "-bf", "2", "-g", "12"), [], {}),
}


def same(ours, theirs):
    """ours (Python numbers, NaN for none) equals the JSON document's (null for none)."""
    if isinstance(theirs, dict):
        return ours.keys() == theirs.keys() and all(same(ours[k], theirs[k]) for k in theirs)
    if isinstance(theirs, list):
        return len(ours) == len(theirs) and all(same(a, b) for a, b in zip(ours, theirs))
    if theirs is None:
        return isinstance(ours, float) and math.isnan(ours)
    return ours == theirs


@pytest.mark.parametrize("kind", INPUTS)
@pytest.mark.parametrize("cli_options, options", [
    ([], {}),
    (["--start", "7", "--frames", "40", "--threads", "3"], {"start": 7, "frames": 40, "threads": 3}),
    (["--fps", "50", "--min-freeze", "0", "--min-black", "0.1", "--interlace-threshold", "0.05"],
     {"fps": 50, "min_freeze": 0, "min_black": 0.1, "interlace_threshold": 0.05}),
    (["--range", "nominal", "--range-area", "0.001", "--min-out-of-range", "0.1"],
     {"range": "nominal", "range_area": 0.001, "min_out_of_range": 0.1}),
    (["--range", "40-200"], {"range": "40-200"}),
    (["--black-level", "15.5", "--freeze-noise", "0", "--min-flat", "0.2"],
     {"black_level": 15.5, "freeze_noise": 0, "min_flat": 0.2}),
    (["--min-flash", "0.5"], {"min_flash": 0.5}),
], ids=["defaults", "start_frames_threads", "fps_segments", "nominal_range", "narrow_range", "black_freeze_flat",
        "min_flash"])
def test_file_results_equal_the_command_line_json(clip, kind, cli_options, options):
    if kind == "h264_mp4" and ("start" in options or clip.width % 2):
        pytest.skip("H.264 needs even sizes; a start frame in a container is reached by decoding (the other kinds)")
    path, size, size_options = INPUTS[kind](clip)
    report = os.path.join(clip.dir, f"{kind}.json")
    subprocess.run([os.environ["LUMAQC_BINARY"], "--quiet", "--json", report, *cli_options, path, *size],
                   cwd=clip.dir, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(report) as file:
        expected = json.load(file)
    result = lumaqc.analyze_file(path, **size_options, **options)

    assert result.reader == expected["settings"]["reader"]
    assert result.fps == expected["settings"]["fps"]
    assert result.frames_analysed == expected["frames_analysed"] == len(expected["frames"])
    assert all(len(column) == result.frames_analysed for column in result.values())
    assert list(result["frame"]) == [f["frameNum"] for f in expected["frames"]]
    assert list(result["pts_time"]) == [f["pts_time"] for f in expected["frames"]]
    # Every value, NaN exactly where the report writes null, also through pandas.
    frame = result.to_pandas() if _has_pandas() else None
    for name in lumaqc.column_names()[1:]:
        values = [f["metrics"][name] for f in expected["frames"]]
        assert same(result[name].tolist(), values), name
        if frame is not None:
            assert same(frame[name].tolist(), values), name
    assert same(result.pooled, expected["pooled_metrics"])
    assert same(result.segments, expected["events"])
    assert same(result.segment_summary, expected["segment_summary"])
    assert result.flash_screening == expected["settings"]["flash_screening"]


@pytest.mark.parametrize("half_period, flashing", [(4, True), (6, False)], ids=["3.125_per_second", "2.1_per_second"])
def test_flash_columns_and_segments_equal_the_command_line_json(tmp_path, half_period, flashing):
    # 64 x 48 at 25 fps: the whole screen between codes 40 and 200 every half_period frames.
    width, height, frames = 64, 48, 75
    path = tmp_path / "flashing.yuv"
    with open(path, "wb") as file:
        for t in range(frames):
            file.write(bytes([200 if (t // half_period) % 2 else 40]) * (width * height) + bytes([128]) * (width * height // 2))
    report = tmp_path / "flashing.json"
    subprocess.run([os.environ["LUMAQC_BINARY"], "--quiet", "--json", str(report), str(path), str(width), str(height)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(report) as file:
        expected = json.load(file)
    result = lumaqc.analyze_file(str(path), width, height)
    for name in ("flash_area", "flashes_per_second"):
        values = [f["metrics"][name] for f in expected["frames"]]
        assert [v for v, e in zip(result[name].tolist(), values) if e is not None] == [e for e in values if e is not None]
    assert same(result.segments, expected["events"])
    assert any(s["type"] == "flash" for s in result.segments) == flashing


def _has_pandas():
    try:
        import pandas  # noqa: F401
        return True
    except ImportError:
        return False


def test_the_segment_keywords_default_to_the_command_lines_settings(clip):
    report = os.path.join(clip.dir, "defaults.json")
    subprocess.run([os.environ["LUMAQC_BINARY"], "--quiet", "--frames", "1", "--json", report, clip.path,
                    str(clip.width), str(clip.height)], cwd=clip.dir, check=True, stdout=subprocess.DEVNULL)
    with open(report) as file:
        settings = json.load(file)["settings"]["segments"]
    keywords = inspect.signature(lumaqc.analyze_file).parameters
    # Every setting the command line records is a keyword but the range's codes, which range names.
    assert set(settings) - set(keywords) == {"range_low", "range_high"}
    assert {name: keywords[name].default for name in settings if name in keywords} == \
        {name: value for name, value in settings.items() if name in keywords}


def test_the_result_is_a_dict_of_columns_and_a_data_frame(clip):
    pandas = pytest.importorskip("pandas")
    result = lumaqc.analyze_file(clip.path, clip.width, clip.height, frames=8)
    assert isinstance(result, dict) and list(result) == lumaqc.column_names() + ["has_previous", "pts_time"]
    for frame in (result.to_pandas(), result.frame, pandas.DataFrame(result)):
        assert isinstance(frame, pandas.DataFrame) and list(frame.columns) == list(result)
        for name in result:
            assert np.array_equal(frame[name].to_numpy(), result[name], equal_nan=result[name].dtype.kind == "f")


@pytest.mark.parametrize("header, args, error, message", [
    (None, {}, ValueError, "not a video file that libav can read"),
    (None, {"width": 0, "height": 288}, ValueError, "width must be positive"),
    (None, {"width": 352, "height": 288, "start": -1}, ValueError, "start"),
    (None, {"width": 352, "height": 288, "start": 2}, ValueError, "start frame 2 lies past the end"),
    (None, {"width": 352, "height": 288, "fps": 0}, ValueError, "fps"),
    (None, {"width": 352, "height": 288, "threads": 0}, ValueError, "threads"),
    (None, {"width": 30000, "height": 30000}, ValueError, "too large"),
    (None, {"width": 352, "height": 288, "input_format": "y4m"}, ValueError, "not a Y4M stream"),
    (None, {"width": 352, "height": 288, "input_format": "mp4"}, ValueError, "input_format"),
    (None, {"width": 352, "height": 288, "min_freeze": -1}, ValueError, "min_freeze"),
    (b"W352 H288 C423", {}, ValueError, "423"),
    (b"W352 H288", {"width": 351}, ValueError, "351"),
    (b"H288", {}, ValueError, "picture size"),
])
def test_bad_files_and_arguments_raise(tmp_path, header, args, error, message):
    path = tmp_path / "clip"
    path.write_bytes((b"YUV4MPEG2 " + header + b"\nFRAME\n" if header else b"") + bytes(352 * 288 * 3))
    with pytest.raises(error, match=message):
        lumaqc.analyze_file(path, **args)


@pytest.mark.parametrize("header, frame_line, message", [
    (b"W16 H16", b"FRAMX\n", "Frame 1 of .* does not begin with a FRAME line"),
    (b"W16 H16", b"FRAME " + b"x" * 70000 + b"\n", "Frame 1 of .* longer than 65536 bytes"),
    (b"W16 H16 W32", b"FRAME\n", "gives the parameter W twice"),
])
@pytest.mark.parametrize("args", [{}, {"frames": 3}, {"start": 2}])
def test_a_damaged_y4m_file_raises_whatever_is_asked(tmp_path, header, frame_line, message, args):
    frame = bytes(range(256)) + bytes(128)
    path = tmp_path / "damaged.y4m"
    path.write_bytes(b"YUV4MPEG2 " + header + b"\n" + b"FRAME\n" + frame + frame_line + frame + b"FRAME\n" + frame)
    with pytest.raises(ValueError, match=message):
        lumaqc.analyze_file(path, **args)


@pytest.mark.parametrize("call, name, value", [
    ("analyze_file", "decoder_threads", 10**6),
    ("analyze_file", "decoder_threads", -5),
    ("analyze_file", "threads", 1025),
    ("analyze_file", "threads", 2**64),
    ("analyze_file", "start", 2**63),
    ("analyze_file", "frames", 2**63),
    ("analyze_file", "frames", -1),
    ("analyze_file", "width", 2**70),
    ("analyze_file", "height", -2),
    ("analyze_file", "fps", 10**400),
    ("analyze_file", "fps", float("nan")),
    ("analyze_file", "min_black", 10**400),
    ("analyze_file", "min_pillarbox", float("inf")),
    ("analyze_file", "interlace_threshold", -0.5),
    ("analyze_file", "black_level", -1),
    ("analyze_file", "freeze_noise", float("inf")),
    ("analyze_file", "min_flat", -0.1),
    ("analyze_file", "interlace_threshold", float("nan")),
    ("analyze_file", "range_area", 1.5),
    ("analyze_file", "range_area", float("nan")),
    ("analyze_file", "range", "0-300"),
    ("analyze_file", "range", "ebu"),
    ("Analyzer", "threads", 10**6),
    ("Analyzer", "threads", 2**64),
    ("Analyzer", "width", 2**64),
    ("Analyzer", "height", -2**70),
    ("Analyzer", "fps", 0),
    ("Analyzer", "fps", -25.0),
    ("Analyzer", "fps", float("inf")),
    ("Analyzer", "fps", 10**400),
])
def test_arguments_out_of_range_raise_valueerror_naming_them(clip, call, name, value):
    args = {"width": clip.width, "height": clip.height, name: value}
    with pytest.raises(ValueError, match=f"lumaqc: {name} "):
        if call == "Analyzer":
            lumaqc.Analyzer(**args)
        else:
            lumaqc.analyze_file(clip.path, **args)


def test_paths_as_bytes_and_pathlike_and_huge_files_by_the_frames_asked(clip, tmp_path):
    name = os.path.join(os.fsencode(tmp_path), b"clip\xff\xfe.yuv")
    shutil.copyfile(clip.path, name)
    expected = clip.log("25 5")
    for path in (name, os.fsdecode(name), tmp_path / os.fsdecode(b"clip\xff\xfe.yuv")):
        result = lumaqc.analyze_file(path, clip.width, clip.height, frames=5)
        ours, theirs = result_rows(result, expected)
        assert ours == theirs, path
        assert result.path == os.fspath(path)
    with pytest.raises(ValueError, match=r"lumaqc: .*clip\\xff\\xfe.yuv"):
        lumaqc.analyze_file(name, clip.width, clip.height, start=10**6)
    # A sparse file of 20 GiB: the rows are those of the frame asked for, not of the file.
    huge = tmp_path / "20G.yuv"
    with open(huge, "wb") as file:
        file.truncate(20 << 30)
    assert lumaqc.analyze_file(huge, 2, 2, frames=1).frames_analysed == 1


@pytest.mark.parametrize("name, error", [("missing.yuv", FileNotFoundError), (".", IsADirectoryError)])
def test_unopenable_paths_raise_oserror(tmp_path, name, error):
    with pytest.raises(error):
        lumaqc.analyze_file(tmp_path / name, 352, 288)


def test_a_short_last_frame_is_a_warning_not_an_error(clip):
    result = lumaqc.analyze_file(clip.path, clip.width, clip.height, frames=clip.frames + 5, start=2)
    assert result.frames_analysed == clip.frames - 2
    assert result.warnings == [f"The input ends before frame {clip.frames}: {clip.frames - 2} of "
                               f"{clip.frames + 5} requested frames analysed"]


def test_installed_package_imports_and_analyses(tmp_path, clip):
    build = os.environ["LUMAQC_BUILD_DIR"]
    subprocess.run([os.environ["LUMAQC_CMAKE"], "--install", build, "--prefix", str(tmp_path), "--component", "python"],
                   check=True, stdout=subprocess.DEVNULL)
    package = tmp_path / os.environ["LUMAQC_PYTHON_INSTALL_DIR"] / "lumaqc"
    assert {"__init__.py", "__init__.pyi", "py.typed"} <= set(os.listdir(package))
    script = (f"import lumaqc; print(lumaqc.__file__); print(lumaqc.analyze_file({clip.path!r}, {clip.width}, "
              f"{clip.height}).frames_analysed); print(lumaqc.check({clip.path!r}, 'archive', None, {clip.width}, "
              f"{clip.height}).profile)")
    out = subprocess.run(["/usr/bin/python3", "-c", script], env={"PYTHONPATH": str(package.parent)},
                         check=True, capture_output=True, text=True).stdout.split()
    assert out == [str(package / "__init__.py"), str(clip.frames), "archive"]
    assert maps_of_a_run(package.parent, clip) == ["False", "libav module", "True"]


def test_an_interrupt_stops_the_analysis_between_frames(clip):
    """Ctrl-C in the middle of a stream that never ends: KeyboardInterrupt, not a hang."""
    fifo = os.path.join(clip.dir, "endless.yuv")
    os.mkfifo(fifo)
    frame = clip.bytes[: clip.width * clip.height * 3 // 2].tobytes()
    stop, written = threading.Event(), [0]

    def write_frames():
        # Interrupts once the analysis reads, then ends the stream 1000 frames later:
        # a missed interrupt lets the analysis read them all, and the test fails instead of hanging.
        with open(fifo, "wb") as out:
            try:
                while written[0] < 1020 and not stop.is_set():
                    out.write(frame)
                    out.flush()
                    written[0] += 1
                    if written[0] == 20:
                        _thread.interrupt_main()
            except BrokenPipeError:
                pass

    writer = threading.Thread(target=write_frames)
    writer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            lumaqc.analyze_file(fifo, clip.width, clip.height)
    finally:
        stop.set()
        os.close(os.open(fifo, os.O_RDONLY | os.O_NONBLOCK))  # frees a writer still waiting for a reader
        writer.join()
    assert written[0] < 1020


# What a fresh interpreter maps: nothing of FFmpeg's for raw files and frames handed over, FFmpeg's
# libraries (through the libav module beside the extension) once a file without sizes is probed.
MAPS_SCRIPT = """
import sys, numpy as np, lumaqc
path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
def mapped():
    maps = open("/proc/self/maps").read()
    return any("/" + name in maps for name in ("libavcodec", "libavformat", "libavutil", "libswscale"))
lumaqc.analyze_file(path, width, height, frames=2)
with lumaqc.Analyzer(width, height) as analyzer:
    analyzer.analyze(np.zeros((height, width), np.uint8))
print(mapped())
try:
    lumaqc.analyze_file(path)
except ValueError as error:
    print("libav module" if "not a video file that libav can read" in str(error) else error)
print(mapped())
"""


def maps_of_a_run(package_parent, clip):
    return subprocess.run(["/usr/bin/python3", "-c", MAPS_SCRIPT, clip.path, str(clip.width), str(clip.height)],
                          env={"PYTHONPATH": str(package_parent)}, check=True, capture_output=True,
                          text=True).stdout.splitlines()


def test_only_a_container_maps_ffmpegs_libraries(clip):
    assert maps_of_a_run(os.path.dirname(os.path.dirname(lumaqc.__file__)), clip) == ["False", "libav module", "True"]
