# Sample clips and the command line's logs of them, the independent path the
# module is compared with. CTest passes the programs' paths in the environment.
import json
import math
import os
import re
import subprocess

import numpy as np
import pytest

# The log row of the command line, as tests/package/firstFrames.c writes it.
LOG_FORMATS = ["%05i", "%-5.5f", "%-5.5f", "%-5.5f", "%-5.5f", "%-5.5f", "%-5.3f", "%-5.5f", "%-d", "%-d",
               "%-6i", "%-5.5f", "%-5.5f", "%-8.4f", "%-7.3f", "%-5.5f"]


def c_format(fmt, value):
    if isinstance(value, float) and math.isnan(value):  # glibc writes the sign of a NaN
        return re.sub(r"\.\d+f", "s", fmt) % ("-nan" if math.copysign(1, value) < 0 else "nan")
    return fmt % value


def exposure_column(value):
    return int(value) if -2147483649.0 < value < 2147483648.0 else -2147483648


def log_row(values):
    """values: the sixteen column values in column_names() order."""
    values = list(values)
    values[10] = exposure_column(values[10])
    return " \t".join(c_format(f, v) for f, v in zip(LOG_FORMATS, values))


def run_cli(directory, name, args):
    subprocess.run([os.environ["LUMAQC_BINARY"], name, *args.split()], cwd=directory, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(directory, "metricsResultsCSV.csv")) as log:
        return log.read().splitlines()[1:]


class Clip:
    def __init__(self, directory, width, height, frames):
        self.dir, self.width, self.height, self.frames = str(directory), width, height, frames
        self.path = os.path.join(self.dir, "clip.yuv")
        subprocess.run([os.environ["LUMAQC_SAMPLE_BINARY"], self.path, str(width), str(height), str(frames)], check=True)
        self.bytes = np.fromfile(self.path, dtype=np.uint8)

    def luma(self, i):
        plane = self.width * self.height
        offset = i * (plane * 3 // 2)
        return self.bytes[offset:offset + plane].reshape(self.height, self.width).copy()

    def log(self, args=""):
        return run_cli(self.dir, "clip.yuv", f"{self.width} {self.height} {args}")

    def json_metrics(self):
        """The metrics of every frame in the command line's JSON report (None where it writes null)."""
        report = os.path.join(self.dir, "report.json")
        subprocess.run([os.environ["LUMAQC_BINARY"], "--quiet", "--json", report, "clip.yuv", str(self.width),
                        str(self.height)], cwd=self.dir, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(report) as file:
            return [frame["metrics"] for frame in json.load(file)["frames"]]


@pytest.fixture(scope="session", params=[(352, 288, 60), (301, 263, 20)], ids=["352x288", "301x263"])
def clip(request, tmp_path_factory):
    return Clip(tmp_path_factory.mktemp("clip"), *request.param)
