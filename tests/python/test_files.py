# lumaqc.analyze_file on raw and Y4M files against the command line's log, and its installed package.
import os
import subprocess

import numpy as np
import pytest

import lumaqc
from conftest import log_row


def result_rows(result):
    return [log_row(result[name][i].item() for name in lumaqc.column_names()) for i in range(len(result))]


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
    assert result_rows(result) == clip.log(cli_args)
    assert np.array_equal(result["pts_time"], result["frame"] / options.get("fps", 25))


def write_y4m(clip, name, header, frame_line=b"FRAME\n"):
    """The clip's luma with 4:2:0 chroma rounded up, and half a frame more at the end."""
    chroma = bytes(2 * ((clip.width + 1) // 2) * ((clip.height + 1) // 2))
    path = os.path.join(clip.dir, name)
    with open(path, "wb") as out:
        out.write(b"YUV4MPEG2 " + header + b"\n")
        for i in range(clip.frames):
            out.write(frame_line + clip.luma(i).tobytes() + chroma)
        out.write(frame_line + clip.luma(0).tobytes()[: clip.width])
    return path


@pytest.mark.parametrize("colour", [b"", b" C420jpeg", b" C420mpeg2"])
def test_y4m_file_equals_the_raw_file(clip, colour):
    header = b"W%d H%d F50:1 Ip A1:1" % (clip.width, clip.height) + colour
    path = write_y4m(clip, "clip.y4m", header, b"FRAME Ip\n")
    result = lumaqc.analyze_file(path, frames=30, start=3)
    assert result.fps == 50
    assert result_rows(result) == clip.log("50 30 3")


def test_to_pandas_holds_the_columns(clip):
    pandas = pytest.importorskip("pandas")
    result = lumaqc.analyze_file(clip.path, clip.width, clip.height, frames=8)
    frame = result.to_pandas()
    assert isinstance(frame, pandas.DataFrame)
    assert list(frame.columns) == list(result.keys())
    for name in result.keys():
        assert np.array_equal(frame[name].to_numpy(), result[name])


@pytest.mark.parametrize("header, args, error, message", [
    (None, {}, ValueError, "width and height are required"),
    (None, {"width": 0, "height": 288}, ValueError, "width must be positive"),
    (None, {"width": 352, "height": 288, "start": -1}, ValueError, "start"),
    (None, {"width": 352, "height": 288, "fps": 0}, ValueError, "fps"),
    (None, {"width": 352, "height": 288, "threads": 0}, ValueError, "threads"),
    (None, {"width": 30000, "height": 30000}, ValueError, "picture size out of range"),
    (b"W352 H288 C422", {}, ValueError, "only 8-bit 4:2:0"),
    (b"W352 H288 C420p10", {}, ValueError, "only 8-bit 4:2:0"),
    (b"W352 H288", {"width": 351}, ValueError, "the Y4M header says 352"),
    (b"H288", {}, ValueError, "valid W and H"),
])
def test_bad_files_and_arguments_raise(tmp_path, header, args, error, message):
    path = tmp_path / "clip"
    path.write_bytes((b"YUV4MPEG2 " + header + b"\nFRAME\n" if header else b"") + bytes(352 * 288 * 3))
    with pytest.raises(error, match=message):
        lumaqc.analyze_file(path, **args)


def test_missing_file_raises_oserror(tmp_path):
    with pytest.raises(OSError):
        lumaqc.analyze_file(tmp_path / "missing.yuv", 352, 288)


def test_installed_package_imports_and_analyses(tmp_path, clip):
    build = os.environ["LUMAQC_BUILD_DIR"]
    subprocess.run([os.environ["LUMAQC_CMAKE"], "--install", build, "--prefix", str(tmp_path), "--component", "python"],
                   check=True, stdout=subprocess.DEVNULL)
    package = tmp_path / os.environ["LUMAQC_PYTHON_INSTALL_DIR"] / "lumaqc"
    assert {"__init__.py", "__init__.pyi", "py.typed"} <= set(os.listdir(package))
    script = f"import lumaqc; print(lumaqc.__file__); print(len(lumaqc.analyze_file({clip.path!r}, {clip.width}, {clip.height})))"
    out = subprocess.run(["/usr/bin/python3", "-c", script], env={"PYTHONPATH": str(package.parent)},
                         check=True, capture_output=True, text=True).stdout.split()
    assert out == [str(package / "__init__.py"), str(clip.frames)]
