"""lumaqc.cluster: analyse libraries of videos on a Dask cluster.

    python3 -m lumaqc.cluster [--scheduler ADDRESS] [--chunk-frames N] [--json] [--csv]
                              [--fail-if EXPR ...] --out DIR INPUT...

Each input's outputs, DIR/<input file name>.json (and .csv), are byte for byte
what the lumaqc program writes for `lumaqc --json F [--csv F] [--fail-if ...]
INPUT [WIDTH HEIGHT]` run on that file (INPUT as an absolute path). Long raw
and Y4M files, and MP4/MOV and Matroska files whose frames the reader reaches
by seeking, are cut into pieces of a run (a piece starts at frame 0 or at
8k + 1) that the workers analyse with `lumaqc --run-start 0 --start P --frames N
--json ...` (a container's last piece without --frames); `lumaqc merge` joins
the pieces' documents into the whole run's. Other files, and short ones, run
as one task; the summary says why a file was not cut.

The workers run the lumaqc program of this build: $LUMAQC_BINARY, else the one
the build-tree package names, else bin/lumaqc below the install prefix of the
package, else `lumaqc` on PATH.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from ._lumaqc import FLICKERING_PERIOD, _probe

__all__ = ["analyze_many", "find_inputs", "plan", "piece_args", "piece_starts", "count_frames", "cut_facts",
           "lumaqc_binary", "main"]

# Files a folder search takes as videos (by extension, lower case).
VIDEO_EXTENSIONS = frozenset((
    ".yuv", ".y4m", ".mp4", ".m4v", ".mov", ".mkv", ".webm", ".avi", ".ts", ".m2ts", ".mts", ".mpg",
    ".mpeg", ".mxf", ".flv", ".nut", ".ivf", ".ogv", ".264", ".h264", ".265", ".h265", ".hevc"))
# Files given as inputs that are lists of inputs, one path per line (optionally WIDTH HEIGHT after it).
LIST_EXTENSIONS = frozenset((".txt", ".list", ".lst"))
# Inputs read as raw frames when a size is given with --size.
RAW_EXTENSIONS = frozenset((".yuv", ".raw"))
# The job's own file in the output folder; no input's report may take its name.
SUMMARY_NAME = "summary.json"
# Prefixes of the private folders of tasks; each folder's name carries its process id after the prefix.
WORK_PREFIXES = ("lumaqc-task-", "lumaqc-merge-", "lumaqc-check-")



class Input:
    """One video of the job: its absolute path, output name, and size for raw frames."""

    def __init__(self, path, name, size=None):
        self.path, self.name, self.size = path, name, size

    def args(self):
        # The path as bytes: a name that is not UTF-8 crosses the cluster and reaches lumaqc unchanged.
        return [os.fsencode(self.path)] + ([str(self.size[0]), str(self.size[1])] if self.size else [])

    def __repr__(self):
        return f"Input({self.path!r}, {self.name!r}, {self.size!r})"


# ---------------------------------------------------------------- the lumaqc program

def lumaqc_binary():
    """Path of the lumaqc program the tasks run (see the module's text)."""
    explicit = os.environ.get("LUMAQC_BINARY")
    if explicit:
        return explicit
    try:
        from . import _binary
    except ImportError:
        _binary = None
    if _binary is not None:
        build = getattr(_binary, "BUILD_BINARY", None)
        if build and os.path.exists(build):
            return build
        relative = getattr(_binary, "RELATIVE_BINARY", None)
        if relative:
            installed = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), relative))
            if os.path.exists(installed):
                return installed
    found = shutil.which("lumaqc")
    if found:
        return found
    raise FileNotFoundError("lumaqc.cluster: the lumaqc program is not found: set LUMAQC_BINARY")


# ---------------------------------------------------------------- inputs

def _parse_size(text):
    try:
        w, h = text.lower().split("x")
        w, h = int(w), int(h)
    except ValueError:
        raise ValueError(f"lumaqc.cluster: a size is WIDTHxHEIGHT, not {text!r}") from None
    if w <= 0 or h <= 0:
        raise ValueError(f"lumaqc.cluster: a size is WIDTHxHEIGHT of positive numbers, not {text!r}")
    return (w, h)


def _shown(name):
    """A name as printed: bytes that are not UTF-8 and control characters escaped (\\xff, \\n)."""
    text = os.fsencode(name).decode("utf-8", "backslashreplace")
    return "".join(c if c.isprintable() else c.encode("unicode_escape").decode("ascii") for c in text)


def _is_utf8(path):
    try:
        os.fsencode(path).decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


def _raw_size(path, size):
    return size if size and os.path.splitext(path)[1].lower() in RAW_EXTENSIONS else None


def find_inputs(inputs, size=None, lists=()):
    """The videos named by inputs: files, list files (.txt, .list, .lst, or any file in lists: one path
    a line, optionally followed by WIDTH HEIGHT, relative paths from the current folder as for
    `lumaqc --list`; # starts a comment), and folders
    searched recursively for files with a video extension. size (WIDTH, HEIGHT) applies to .yuv and
    .raw files without their own. Output names are the file names, with the sub-folders of a folder
    search kept. Raises ValueError for a missing input or two inputs with one output name."""
    found = []

    def add(path, name, own_size=None):
        found.append(Input(os.path.abspath(path), name, own_size or _raw_size(path, size)))

    for item, listed in [(i, False) for i in inputs] + [(i, True) for i in lists]:
        if not os.path.exists(item):
            raise ValueError(f"lumaqc.cluster: no such input: {item}")
        if os.path.isdir(item) and not listed:
            for root, dirs, files in os.walk(item):
                dirs.sort()
                for f in sorted(files):
                    if os.path.splitext(f)[1].lower() in VIDEO_EXTENSIONS:
                        full = os.path.join(root, f)
                        add(full, os.path.relpath(full, item))
        elif listed or os.path.splitext(item)[1].lower() in LIST_EXTENSIONS:
            with open(item, encoding="utf-8", errors="surrogateescape") as listing:
                for number, line in enumerate(listing, 1):
                    line = line.strip()
                    if not line or line.startswith("#"):
                        continue
                    parts = line.rsplit(None, 2)
                    own = None
                    if len(parts) == 3 and parts[1].isdigit() and parts[2].isdigit():
                        own = (int(parts[1]), int(parts[2]))
                        if own[0] <= 0 or own[1] <= 0:
                            raise ValueError(f"lumaqc.cluster: {item}:{number}: sizes must be positive")
                        line = parts[0]
                    add(line, os.path.basename(line), own)
        else:
            add(item, os.path.basename(item))
    names = {}
    for entry in found:
        if entry.name in names and names[entry.name] != entry.path:
            raise ValueError(f"lumaqc.cluster: {names[entry.name]} and {entry.path} would both write "
                             f"{entry.name}.json: give them in separate jobs or folders")
        names[entry.name] = entry.path
        if SUMMARY_NAME in (entry.name + ".json", entry.name + ".csv"):
            raise ValueError(f"lumaqc.cluster: {_shown(entry.path)} would write {SUMMARY_NAME}, the job's summary: "
                             f"give it under another name or in a sub-folder")
    unique, seen = [], set()
    for entry in found:
        if entry.path not in seen:
            seen.add(entry.path)
            unique.append(entry)
    return unique


# ---------------------------------------------------------------- planning

def count_frames(entry):
    """Whole frames of a seekable raw or Y4M input, as the lumaqc readers count them; None for an
    input that only a container reader reads (or a Y4M file that is damaged: it runs whole and its
    error is lumaqc's)."""
    frames, exact, _ = cut_facts(entry)
    return frames if exact else None


def cut_facts(entry):
    """(frames, exact, whole_reason) of an input: the frames to cut it by (exact for raw and Y4M, the
    container's own length for an MP4/MOV or Matroska file the reader seeks in), or None and why it runs
    whole (None when no reader opens it: the whole run says why)."""
    try:
        stream = _probe(os.fsencode(entry.path), *(entry.size or (0, 0)))
    except ValueError:
        return None, False, None
    if not stream["cuttable"]:
        return None, False, stream["whole_reason"]
    if stream["reader"] in ("raw", "y4m"):
        return stream["frames"], True, None
    if stream["expected_frames"] is None:
        return None, False, "its length is not known"
    return stream["expected_frames"], False, None


def piece_starts(run_start, frames, chunk_frames):
    """Starts of the pieces that cut frames [run_start, run_start + frames) into about chunk_frames
    each: the run start, then the first frame of the form run_start + 8k + 1 (k >= 1) at or after
    each multiple of chunk_frames."""
    starts = [run_start]
    j = 1
    while True:
        target = j * chunk_frames
        offset = max(FLICKERING_PERIOD + 1, 1 + -(-(target - 1) // FLICKERING_PERIOD) * FLICKERING_PERIOD)
        if offset >= frames:
            return starts
        if run_start + offset > starts[-1]:
            starts.append(run_start + offset)
        j += 1


def plan(entries, chunk_frames, reasons=None):
    """Tasks of the job: for each input, [(start, frames)] pieces, or None for a whole-file run. The last
    piece of a container has frames None: it runs to the end, so that a length the container tells
    wrong loses no frame. reasons, a dict, gets the reason of each input that cannot be cut."""
    tasks = []
    for entry in entries:
        frames, exact, reason = None, True, None
        if chunk_frames and not _is_utf8(entry.path):
            # Its report's settings.input writes the bytes as \ufffd escapes, which merge, reading them
            # back as characters, would write otherwise.
            reason = "its name is not UTF-8"
        elif chunk_frames:
            frames, exact, reason = cut_facts(entry)
        if reason is not None and reasons is not None:
            reasons[entry.name] = reason
        if frames is None or frames <= chunk_frames:
            tasks.append((entry, None))
            continue
        starts = piece_starts(0, frames, chunk_frames)
        ends = starts[1:] + [frames if exact else None]
        tasks.append((entry, [(s, None if e is None else e - s) for s, e in zip(starts, ends)]))
    return tasks


def piece_args(start, frames):
    """The lumaqc options of a piece of the run from frame 0 (frames None: to the end)."""
    return ["--run-start", "0", "--start", str(start)] + ([] if frames is None else ["--frames", str(frames)])


# ---------------------------------------------------------------- tasks (run on the workers)

def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def remove_stale_folders(folder=None):
    """Remove the private folders of tasks (WORK_PREFIXES + PID + "-") in the temporary folder that
    belong to this user and to a process that is gone: a worker that was killed left them."""
    folder = folder or tempfile.gettempdir()
    try:
        names = os.listdir(folder)
    except OSError:
        return
    for name in names:
        prefix = next((p for p in WORK_PREFIXES if name.startswith(p)), None)
        owner, dash, _ = name[len(prefix):].partition("-") if prefix else ("", "", "")
        if not (owner.isdigit() and dash):
            continue
        path = os.path.join(folder, name)
        try:
            if os.lstat(path).st_uid != os.getuid() or not os.path.isdir(path) or os.path.islink(path):
                continue
        except OSError:
            continue
        if not _alive(int(owner)):
            shutil.rmtree(path, ignore_errors=True)


def _work_folder(kind):
    """A private temporary folder named with this process's id, so that a later start can tell it stale."""
    remove_stale_folders()
    return tempfile.TemporaryDirectory(prefix=f"lumaqc-{kind}-{os.getpid()}-")


def run_lumaqc(args, outputs=("json",), binary=None, threads=1):
    """Run lumaqc with args plus --json (and --csv) into a private temporary directory (where its log
    goes too). Returns {"rc", "stderr", "json", "csv"} with the reports' bytes (None when missing)."""
    binary = binary or lumaqc_binary()
    with _work_folder("task") as work:
        command = [binary, "--quiet", "--no-progress", "--threads", str(threads)]
        for kind in outputs:
            command += [f"--{kind}", os.path.join(work, "out." + kind)]
        command += list(args)
        return _run_in(work, command)


def _run_in(work, command):
    """Runs lumaqc in work with its reports named out.json / out.csv there: {"rc", "stderr", "json", "csv"}."""
    done = subprocess.run(command, cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    result = {"rc": done.returncode, "stderr": done.stderr.decode("utf-8", "replace").strip()}
    for kind in ("json", "csv"):
        try:
            with open(os.path.join(work, "out." + kind), "rb") as f:
                result[kind] = f.read()
        except OSError:
            result[kind] = None
    return result


def check_report_options(report_args, binary=None):
    """Raise ValueError with lumaqc's own message when the report options (--fail-if EXPR, --min-*, ...)
    are malformed: `lumaqc --merge OPTIONS` without pieces checks them, then asks for pieces."""
    binary = binary or lumaqc_binary()
    with _work_folder("check") as work:
        done = subprocess.run([binary, "--merge", *report_args], cwd=work, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
    message = done.stderr.decode("utf-8", "replace").strip()
    if not message.startswith("Usage:"):
        raise ValueError(message or f"lumaqc.cluster: {binary} does not check the report options")


def _merge(pieces, outputs, report_args, binary):
    """lumaqc merge over the pieces' JSON texts: {"rc", "stderr", "json", "csv"}."""
    with _work_folder("merge") as work:
        names = []
        for i, text in enumerate(pieces):
            names.append(os.path.join(work, f"piece{i:06d}.json"))
            with open(names[-1], "wb") as f:
                f.write(text)
        command = [binary, "merge"]
        for kind in outputs:
            command += [f"--{kind}", os.path.join(work, "out." + kind)]
        command += list(report_args) + names
        return _run_in(work, command)


# ---------------------------------------------------------------- outputs

def _output_paths(out, entry, outputs):
    return {kind: os.path.join(out, f"{entry.name}.{kind}") for kind in outputs}


def _write_atomically(path, text):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    handle, temporary = tempfile.mkstemp(prefix="." + os.path.basename(path) + ".", suffix=".part",
                                         dir=os.path.dirname(path) or ".")
    try:
        with os.fdopen(handle, "wb") as f:
            f.write(text)
            f.flush()
            os.fsync(f.fileno())
        mask = os.umask(0)
        os.umask(mask)
        os.chmod(temporary, 0o666 & ~mask)  # as a file the program writes, not mkstemp's 0600
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def _made_with(paths, report_args, binary, input_path):
    """Whether finished outputs are what these report options make of their rows: lumaqc merge over
    the JSON with the options gives the same bytes (also true without a JSON output to check)."""
    if "json" not in paths:
        return True
    try:
        existing = {}
        for kind, path in paths.items():
            with open(path, "rb") as f:
                existing[kind] = f.read()
    except OSError:
        return False
    again = _merge([existing["json"]], tuple(paths), report_args, binary)
    if again["rc"] not in (0, 1) or again["json"] is None:
        return False
    try:
        unknown = json.loads(existing["json"])["settings"]["frames"] is None
    except (ValueError, TypeError, KeyError):
        return False
    if unknown:  # a container's run counts no frames ahead; merge writes the count of its rows there
        again["json"] = _SETTINGS_FRAMES.sub(rb"\g<1>null", again["json"], count=1)
    if not _is_utf8(input_path):  # lumaqc escapes the bytes of such a name as \ufffd, merge writes the character
        again["json"] = again["json"].replace("\ufffd".encode("utf-8"), b"\\ufffd")
    return all(again[kind] == existing[kind] for kind in paths)


# settings.frames in a JSON report: the settings object is one line, and no string in it holds an
# unescaped quote, so the first `, "frames": ` after its start is the member.
_SETTINGS_FRAMES = re.compile(rb'(\n"settings": \{[^\n]*?, "frames": )[0-9]+')


def _facts(json_text):
    """frames analysed and tripped gates of a report."""
    document = json.loads(json_text)
    tripped = [g["expression"] for g in document.get("gates", []) if g.get("tripped")]
    return document.get("frames_analysed", 0), tripped


# ---------------------------------------------------------------- the job

def _report_args(fail_if, extra):
    args = []
    for expression in fail_if or ():
        args += ["--fail-if", expression]
    return args + list(extra or ())


def analyze_many(inputs, out, scheduler=None, chunk_frames=0, json_output=True, csv_output=False,
                 fail_if=(), report_options=(), size=None, force=False, retries=2, client=None,
                 progress=None, task_threads=1, lists=()):
    """Analyse the videos named by inputs (see find_inputs) on a Dask cluster and write
    out/<name>.json (and .csv) for each, plus out/summary.json. scheduler is the address of a running
    scheduler (else a LocalCluster on this machine's processors, unless client is given),
    chunk_frames the length of the pieces long inputs are cut into (0: whole files; see plan).
    Files whose outputs all exist are skipped unless force, or unless they were made with other report
    options (checked by merging their JSON with these options). Returns the summary dict."""
    if progress is None:
        def progress(line):
            print(line, flush=True)  # a line as each file finishes, also into a pipe

    outputs = tuple(k for k, on in (("json", json_output), ("csv", csv_output)) if on) or ("json",)
    produce = ("json", "csv") if "csv" in outputs else ("json",)  # the JSON always: the summary reads it
    entries = find_inputs(inputs, size=_parse_size(size) if isinstance(size, str) else size, lists=lists)
    if not entries:
        raise ValueError("lumaqc.cluster: no input given")
    report = _report_args(fail_if, report_options)
    binary = lumaqc_binary()  # the merge's; each worker finds its own for the tasks
    check_report_options(report, binary)
    os.makedirs(out, exist_ok=True)
    started = time.monotonic()
    files, todo = {}, []
    for entry in entries:
        paths = _output_paths(out, entry, outputs)
        record = {"input": entry.path, "name": entry.name, "outputs": sorted(os.path.basename(p) for p in paths.values())}
        files[entry.name] = record
        finished = not force and all(os.path.exists(p) for p in paths.values())
        if finished and not _made_with(paths, report, binary, entry.path):
            finished = False
            progress(f"analysing {_shown(entry.name)} again: its outputs were made with other report options")
        if finished:
            json_path = _output_paths(out, entry, ("json",))["json"]
            record["status"] = "skipped"
            try:
                with open(json_path, "rb") as f:
                    record["frames"], record["gates_tripped"] = _facts(f.read())
            except (OSError, ValueError):
                record["frames"], record["gates_tripped"] = None, []
            progress(f"skipped {_shown(entry.name)}: its outputs exist")
        else:
            todo.append(entry)

    from dask.distributed import Client, LocalCluster, as_completed

    own_cluster = None
    if client is None:
        if scheduler:
            client = Client(scheduler)
        else:
            workers = max(1, len(os.sched_getaffinity(0)))
            own_cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                       dashboard_address=None)
            client = Client(own_cluster)
        owns_client = True
    else:
        owns_client = False
    try:
        futures = {}
        pending = {}
        estimated = set()  # inputs cut by the length their container tells
        completed = None

        def submit_whole(number, entry):
            future = client.submit(run_lumaqc, report + entry.args(), produce, None, task_threads,
                                   key=f"lumaqc-whole-{number}-{time.time_ns()}", retries=retries, pure=False)
            futures[future] = (number, entry, None)
            pending[entry.name] = 1
            if completed is not None:
                completed.add(future)

        reasons = {}
        # Keys by the input's place, not its name: a name need not be UTF-8, which keys must be.
        for number, (entry, pieces) in enumerate(plan(todo, chunk_frames, reasons)):
            if entry.name in reasons:
                files[entry.name]["whole_reason"] = reasons[entry.name]
            if pieces is None:
                submit_whole(number, entry)
                continue
            if pieces[-1][1] is None:
                estimated.add(entry.name)
            for index, (start, frames) in enumerate(pieces):
                args = piece_args(start, frames) + list(report_options) + entry.args()
                future = client.submit(run_lumaqc, args, ("json",), None, task_threads,
                                       key=f"lumaqc-piece-{number}-{index}-{time.time_ns()}",
                                       retries=retries, pure=False)
                futures[future] = (number, entry, index)
            pending[entry.name] = len(pieces)
        results = {}
        done_files = 0
        completed = as_completed(list(futures))
        for future in completed:
            number, entry, index = futures.pop(future)
            try:
                result = future.result()
            except Exception as error:  # the task failed on every try
                result = {"rc": -1, "stderr": f"task failed: {error!r}", "json": None, "csv": None}
            results.setdefault(entry.name, {})[index] = result
            pending[entry.name] -= 1
            if pending[entry.name]:
                continue
            if entry.name in estimated and any(r["rc"] not in (0, 1) or r["json"] is None
                                               for r in results[entry.name].values()):
                # A container shorter than it tells leaves pieces with no frame: the file runs whole.
                estimated.discard(entry.name)
                del results[entry.name]
                submit_whole(number, entry)
                continue
            record = files[entry.name]
            _finish(entry, results.pop(entry.name), record, out, outputs, produce, report, binary)
            done_files += 1
            line = f"[{done_files}/{len(todo)}] {_shown(entry.name)}: "
            if record["status"] == "failed":
                line += f"error: {record['error']}"
            else:
                line += f"{record['frames']} frames" + (f", {record['pieces']} pieces" if record.get("pieces") else "")
                if record["gates_tripped"]:
                    line += ", tripped: " + ", ".join(record["gates_tripped"])
            if record.get("whole_reason"):
                line += f", whole: {record['whole_reason']}"
            progress(line)
    finally:
        if owns_client:
            client.close()
        if own_cluster is not None:
            own_cluster.close()

    seconds = time.monotonic() - started
    analysed = sum(r.get("frames") or 0 for r in files.values() if r.get("status") in ("ok", "gate"))
    summary = {
        "files": [files[e.name] for e in entries],
        "count": {s: sum(1 for r in files.values() if r["status"] == s) for s in ("ok", "gate", "failed", "skipped")},
        "frames_analysed": analysed,
        "seconds": round(seconds, 3),
        "frames_per_second": round(analysed / seconds, 1) if seconds > 0 else None,
        "gates_tripped": sum(1 for r in files.values() if r.get("gates_tripped")),
        "failed": sum(1 for r in files.values() if r["status"] == "failed"),
    }
    _write_atomically(os.path.join(out, SUMMARY_NAME), (json.dumps(summary, indent=1) + "\n").encode("ascii"))
    progress(_table(summary))
    progress(f"{len(todo)} files analysed ({summary['failed']} failed, {summary['count']['skipped']} skipped), "
             f"{analysed} frames in {seconds:.2f} s: {summary['frames_per_second']} frames/s")
    return summary


def _finish(entry, results, record, out, outputs, produce, report, binary):
    """Merge a file's pieces (or take its whole run) and write its outputs."""
    if None in results:
        result = results[None]
        record["pieces"] = None
    else:
        pieces = [results[i] for i in sorted(results)]
        record["pieces"] = len(pieces)
        broken = next((p for p in pieces if p["rc"] not in (0, 1) or p["json"] is None), None)
        if broken is not None:
            result = broken
        else:
            result = _merge([p["json"] for p in pieces], produce, report, binary)
    facts = None
    if result["rc"] in (0, 1) and all(result[k] is not None for k in produce):
        try:
            facts = _facts(result["json"])
        except ValueError as error:
            result = dict(result, stderr=f"lumaqc.cluster: unreadable report: {error}")
    if facts is None:
        record["status"] = "failed"
        message = result["stderr"].splitlines()
        record["error"] = message[-1] if message else f"lumaqc exited with status {result['rc']}"
        record["frames"], record["gates_tripped"] = None, []
        return
    record["frames"], record["gates_tripped"] = facts
    paths = _output_paths(out, entry, outputs)
    # The JSON last: its presence (with the others) marks the file finished.
    for kind in sorted(paths, key=lambda k: k == "json"):
        _write_atomically(paths[kind], result[kind])
    record["status"] = "gate" if record["gates_tripped"] else "ok"


def _table(summary):
    rows = [("file", "status", "frames", "gates tripped / error")]
    for r in summary["files"]:
        detail = r.get("error") or ", ".join(r.get("gates_tripped") or []) or "-"
        rows.append((_shown(r["name"]), r["status"], "-" if r.get("frames") is None else str(r["frames"]), detail))
    widths = [max(len(row[i]) for row in rows) for i in range(3)]
    return "\n".join(f"{a:<{widths[0]}}  {b:<{widths[1]}}  {c:>{widths[2]}}  {d}" for a, b, c, d in rows)


# ---------------------------------------------------------------- command line

class _Parser(argparse.ArgumentParser):
    def error(self, message):  # a usage error is status 255, as for lumaqc
        self.print_usage(sys.stderr)
        self.exit(255, f"{self.prog}: {message}\n")


def main(argv=None):
    parser = _Parser(
        prog="python3 -m lumaqc.cluster",
        description="Analyse videos on a Dask cluster; outputs byte-identical to lumaqc run on each file.")
    parser.add_argument("inputs", nargs="*", metavar="INPUT", help="video file, list file (.txt/.list/.lst) or folder")
    parser.add_argument("--out", required=True, metavar="DIR", help="folder of the outputs")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="address of a running scheduler (tcp://host:8786)")
    parser.add_argument("--chunk-frames", type=int, default=0, metavar="N",
                        help="cut raw, Y4M and seekable MP4/MOV/Matroska files longer than N frames into pieces of "
                             "about N (default 0: whole files)")
    parser.add_argument("--json", action="store_true", help="write DIR/<name>.json (the default)")
    parser.add_argument("--csv", action="store_true", help="write DIR/<name>.csv")
    parser.add_argument("--fail-if", action="append", default=[], metavar="EXPR", help="gate, as for lumaqc")
    parser.add_argument("--list", action="append", default=[], metavar="FILE",
                        help="a file of inputs, one path a line (optionally followed by WIDTH HEIGHT)")
    parser.add_argument("--size", metavar="WIDTHxHEIGHT", help="picture size of .yuv and .raw inputs")
    parser.add_argument("--force", action="store_true", help="analyse files whose outputs exist again")
    for name in ("--min-black", "--min-freeze", "--min-letterbox", "--min-pillarbox", "--min-interlaced",
                 "--min-flat", "--min-flash", "--interlace-threshold", "--field-order-threshold", "--min-bar", "--bar-change",
                 "--black-level", "--freeze-noise"):
        parser.add_argument(name, metavar="VALUE", help="as for lumaqc")
    args = parser.parse_args(argv)
    if args.chunk_frames < 0:
        parser.error("--chunk-frames needs a number of frames, 0 or more")
    extra = []
    for name in ("min_black", "min_freeze", "min_letterbox", "min_pillarbox", "min_interlaced", "min_flat",
                 "min_flash", "interlace_threshold", "field_order_threshold", "min_bar", "bar_change", "black_level", "freeze_noise"):
        value = getattr(args, name)
        if value is not None:
            extra += ["--" + name.replace("_", "-"), value]
    try:
        summary = analyze_many(args.inputs, args.out, scheduler=args.scheduler, chunk_frames=args.chunk_frames,
                               json_output=args.json or not args.csv, csv_output=args.csv, fail_if=args.fail_if,
                               report_options=extra, size=args.size, force=args.force, lists=args.list)
    except (ValueError, FileNotFoundError, OSError) as error:
        print(str(error), file=sys.stderr)
        return 255
    if summary["failed"]:
        return 255
    return 1 if summary["gates_tripped"] else 0


if __name__ == "__main__":
    sys.exit(main())
