# lumaqc.cluster on a real Dask cluster on this machine (a dask-scheduler and two dask-worker
# processes on 127.0.0.1), compared byte for byte with the lumaqc program run locally on each file.
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

import pytest

import lumaqc.cluster as cluster

BINARY = os.environ["LUMAQC_BINARY"]
SAMPLE = os.environ["LUMAQC_SAMPLE_BINARY"]
W, H = 64, 48
GATES = ["--fail-if", "black.count>0", "--fail-if", "blur.mean>100"]
# name, frames, kind: raw clips (one long enough to be cut), a Y4M cut into pieces, a damaged file.
CLIPS = [("short.yuv", 12, "raw"), ("medium.yuv", 60, "raw"), ("long.yuv", 230, "raw"),
         ("long.y4m", 130, "y4m")]
CHUNK = 40


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture(scope="module")
def library(tmp_path_factory):
    folder = tmp_path_factory.mktemp("library")
    for name, frames, kind in CLIPS:
        raw = folder / (name if kind == "raw" else name + ".yuv")
        subprocess.run([SAMPLE, str(raw), str(W), str(H), str(frames)], check=True, stdout=subprocess.DEVNULL)
        if kind == "y4m":
            subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-s",
                            f"{W}x{H}", "-r", "30", "-i", str(raw), "-f", "yuv4mpegpipe", str(folder / name)],
                           check=True)
            raw.unlink()
    (folder / "damaged.mp4").write_text("this is not a video\n")
    return folder


def dask_command(name):
    """Dask's command of this interpreter (Debian's, beside /usr/bin/python3), else the one on PATH."""
    beside = os.path.join(os.path.dirname(sys.executable), name)
    return beside if os.path.exists(beside) else name


@pytest.fixture(scope="module")
def scheduler(tmp_path_factory, library):
    """A scheduler and two workers; tasks made slow (a wrapper sleeps first) so a kill lands mid-task."""
    work = tmp_path_factory.mktemp("cluster")
    slow = work / "slow-lumaqc"
    slow.write_text(f"#!/bin/sh\nsleep 0.1\nexec '{BINARY}' \"$@\"\n")
    slow.chmod(0o755)
    port = free_port()
    address = f"tcp://127.0.0.1:{port}"
    env = dict(os.environ, LUMAQC_BINARY=str(slow))
    processes = [subprocess.Popen([dask_command("dask-scheduler"), "--host", "127.0.0.1", "--port", str(port),
                                   "--dashboard-address", ":0"], cwd=work, env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    try:
        for _ in range(2):
            processes.append(subprocess.Popen([dask_command("dask-worker"), address, "--nthreads", "1", "--nworkers", "1",
                                               "--host", "127.0.0.1", "--dashboard-address", ":0",
                                               "--local-directory", str(work)],
                                              cwd=work, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        from dask.distributed import Client
        with Client(address, timeout=30) as client:
            client.wait_for_workers(2, timeout=30)
        yield address
    finally:
        for process in reversed(processes):
            process.terminate()
        for process in reversed(processes):
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def local_run(path, tmp_path, extra=()):
    """The lumaqc program on one file: exit status and its JSON and CSV bytes."""
    size = [str(W), str(H)] if path.endswith(".yuv") else []
    out = tmp_path / "local"
    out.mkdir(exist_ok=True)
    done = subprocess.run([BINARY, "--json", str(out / "r.json"), "--csv", str(out / "r.csv"), *extra, path, *size],
                          cwd=out, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return done.returncode, (out / "r.json").read_bytes(), (out / "r.csv").read_bytes()


def run_job(scheduler, library, out, *extra, watch=None):
    command = [sys.executable, "-m", "lumaqc.cluster", "--scheduler", scheduler, "--chunk-frames", str(CHUNK),
               "--json", "--csv", "--size", f"{W}x{H}", *GATES, "--out", str(out), *extra, str(library)]
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = []
    for line in process.stdout:
        lines.append(line)
        if watch and len(lines) == 1:
            watch()
    process.wait(timeout=120)
    return process.returncode, "".join(lines), process.stderr.read()


def check_outputs(out, library, tmp_path):
    summary = json.loads((out / "summary.json").read_text())
    files = {f["name"]: f for f in summary["files"]}
    assert sorted(files) == sorted([c[0] for c in CLIPS] + ["damaged.mp4"])
    for name, frames, kind in CLIPS:
        status, local_json, local_csv = local_run(str(library / name), tmp_path, GATES)
        assert (out / f"{name}.json").read_bytes() == local_json, name
        assert (out / f"{name}.csv").read_bytes() == local_csv, name
        assert files[name]["frames"] == frames
        assert bool(files[name]["gates_tripped"]) == (status == 1)
        assert files[name]["status"] in ("skipped", "gate" if status == 1 else "ok")
    assert files["damaged.mp4"]["status"] == "failed" and files["damaged.mp4"]["error"]
    assert not (out / "damaged.mp4.json").exists()
    assert not [p for p in os.listdir(out) if p.endswith(".part")]
    return summary


def test_plan_cuts_long_seekable_inputs_into_pieces(library):
    entries = cluster.find_inputs([str(library)], size=(W, H))
    planned = {e.name: pieces for e, pieces in cluster.plan(entries, CHUNK)}
    for name, frames, _ in CLIPS:
        pieces = planned[name]
        if frames <= CHUNK:
            assert pieces is None, name
            continue
        assert sum(n for _, n in pieces) == frames and pieces[0][0] == 0 and len(pieces) > 1
        assert all(a + n == b for (a, n), (b, _) in zip(pieces, pieces[1:]))
    assert planned["damaged.mp4"] is None


@pytest.fixture(scope="module")
def variants(library, tmp_path_factory):
    """Copies of the library's clips, cut inside a frame, 10-bit, with a damaged frame line."""
    folder = tmp_path_factory.mktemp("variants")
    data = (library / "long.y4m").read_bytes()
    third = data.index(b"FRAME", data.index(b"FRAME", data.index(b"FRAME") + 1) + 1)
    (folder / "long.y4m").write_bytes(data)
    (folder / "cut.y4m").write_bytes(data[: len(data) - 1000])
    (folder / "damaged.y4m").write_bytes(data[:third] + b"FRXME" + data[third + 5:])
    subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-i", str(folder / "long.y4m"), "-pix_fmt", "yuv420p10le",
                    "-strict", "-1", "-f", "yuv4mpegpipe", str(folder / "deep.y4m")], check=True)
    medium = (library / "medium.yuv").read_bytes()
    (folder / "medium.yuv").write_bytes(medium)
    (folder / "cut.yuv").write_bytes(medium[: W * H * 3 // 2 * 25 // 2])
    (folder / "damaged.mp4").write_text("this is not a video\n")
    return folder


@pytest.mark.parametrize("name, size, counted", [
    ("medium.yuv", (W, H), True), ("cut.yuv", (W, H), True), ("long.y4m", None, True), ("cut.y4m", None, True),
    ("deep.y4m", None, True),
    # Run whole: a damaged Y4M file, one whose header gives another size, a container.
    ("damaged.y4m", None, False), ("long.y4m", (W + 2, H), False), ("damaged.mp4", None, False),
])
def test_count_frames_is_what_the_program_analyses(variants, tmp_path, name, size, counted):
    entry = cluster.Input(str(variants / name), name, size)
    frames = cluster.count_frames(entry)
    if not counted:
        assert frames is None
        return
    status, document, _ = local_run(entry.path, tmp_path)
    assert status == 0 and frames == json.loads(document)["frames_analysed"] > 0


@pytest.mark.parametrize("name", ["long.yuv", "long.y4m"])
def test_pieces_concatenate_to_the_whole_run(library, tmp_path, name):
    # The lumaqc program refuses a start that is no piece start, and each piece's rows are the run's.
    entry = next(e for e in cluster.find_inputs([str(library / name)], size=(W, H)))
    (_, pieces), = cluster.plan([entry], CHUNK)
    rows = []
    for start, frames in pieces:
        result = cluster.run_lumaqc(["--run-start", "0", "--start", str(start), "--frames", str(frames)] + entry.args(),
                                    binary=BINARY)
        assert result["rc"] == 0, result["stderr"]
        rows += json.loads(result["json"])["frames"]
    _, whole, _ = local_run(entry.path, tmp_path)
    assert rows == json.loads(whole)["frames"]


def test_job_matches_local_runs_with_a_worker_killed_then_skips_on_rerun(scheduler, library, tmp_path):
    out = tmp_path / "out"
    from dask.distributed import Client
    with Client(scheduler) as client:
        pids = client.run(os.getpid)
    victim = sorted(pids.values())[0]
    status, printed, errors = run_job(scheduler, library, out, watch=lambda: os.kill(victim, signal.SIGKILL))
    assert status == 255, errors  # the damaged file
    # The first file's line came while the job ran: the kill fell mid-job, before the other files' lines.
    assert printed.startswith("[1/") and printed.count("] ") >= len(CLIPS) + 1 and "frames/s" in printed
    summary = check_outputs(out, library, tmp_path)
    assert summary["count"]["skipped"] == 0 and summary["failed"] == 1
    assert summary["count"]["ok"] + summary["count"]["gate"] == len(CLIPS)
    with Client(scheduler) as client:
        assert victim not in client.run(os.getpid).values()  # the worker did die (and was replaced)

    stamps = {p: os.stat(out / p).st_mtime_ns for p in os.listdir(out) if p != "summary.json"}
    status, printed, errors = run_job(scheduler, library, out)
    assert status == 255, errors
    summary = check_outputs(out, library, tmp_path)
    assert summary["count"] == {"ok": 0, "gate": 0, "skipped": len(CLIPS), "failed": 1}
    assert stamps == {p: os.stat(out / p).st_mtime_ns for p in os.listdir(out) if p != "summary.json"}

    # Other report options: the earlier outputs are not what they would write, so every file runs again.
    status, printed, errors = run_job(scheduler, library, out, "--min-freeze", "0")
    assert status == 255 and json.loads((out / "summary.json").read_text())["count"]["skipped"] == 0
    assert printed.count("again: its outputs were made with other report options") == len(CLIPS)
    for name, _, _ in CLIPS:
        assert json.loads((out / f"{name}.json").read_text())["settings"]["segments"]["min_freeze"] == 0

    status, printed, errors = run_job(scheduler, library, out, "--force")
    assert status == 255 and json.loads((out / "summary.json").read_text())["count"]["skipped"] == 0
    check_outputs(out, library, tmp_path)


@pytest.mark.parametrize("where", ["build", "installed"])
def test_the_package_finds_its_own_lumaqc(tmp_path, where):
    env = {"PATH": "/usr/bin:/bin"}
    if where == "build":
        path, expected = os.environ["PYTHONPATH"], os.path.realpath(BINARY)
    else:
        subprocess.run([os.environ["LUMAQC_CMAKE"], "--install", os.environ["LUMAQC_BUILD_DIR"], "--prefix",
                        str(tmp_path)], check=True, stdout=subprocess.DEVNULL)
        path = str(tmp_path / os.environ["LUMAQC_PYTHON_INSTALL_DIR"])
        expected = str(tmp_path / "bin" / "lumaqc")
    script = "import lumaqc.cluster, os; print(os.path.realpath(lumaqc.cluster.lumaqc_binary()))"
    found = subprocess.run([sys.executable, "-c", script], env=dict(env, PYTHONPATH=path), check=True,
                           capture_output=True, text=True).stdout.strip()
    assert found == expected
    configured = subprocess.run([sys.executable, "-c", script], env=dict(env, PYTHONPATH=path, LUMAQC_BINARY="/x/y"),
                                check=True, capture_output=True, text=True).stdout.strip()
    assert configured == "/x/y"


@pytest.mark.parametrize("lines, inputs, refused", [
    (["medium.yuv", "# a comment", "", "long.y4m"], [("medium.yuv", (W, H)), ("long.y4m", None)], None),
    (["medium.yuv 32 24"], [("medium.yuv", (32, 24))], None),
    (["medium.yuv", "sub/medium.yuv"], None, "would both write medium.yuv.json"),
    (["medium.yuv 0 24"], None, "sizes must be positive"),
])
def test_list_files(library, tmp_path, monkeypatch, lines, inputs, refused):
    monkeypatch.chdir(library)  # paths in a list are relative to the current folder, as for lumaqc --list
    listing = library / f"list{abs(hash(tuple(lines)))}.txt"
    listing.write_text("\n".join(lines) + "\n")
    if refused:
        done = subprocess.run([sys.executable, "-m", "lumaqc.cluster", "--size", f"{W}x{H}", "--out", str(tmp_path),
                               "--list", str(listing)], capture_output=True, text=True)
        assert done.returncode == 255 and refused in done.stderr and not os.listdir(tmp_path)
        return
    found = cluster.find_inputs([str(listing)], size=(W, H))
    assert [(e.name, e.size) for e in found] == inputs
    assert [e.path for e in found] == [str(library / name) for name, _ in inputs]


@pytest.mark.parametrize("args, message", [
    (["missing.mp4"], "no such input"),
    (["--fail-if", "blur.mean>>1", "long.y4m"], "blur.mean>>1"),
    (["--chunk-frames", "-1", "long.y4m"], "--chunk-frames"),
    (["long.y4m", "--unknown"], "--unknown"),
])
def test_usage_errors_analyse_nothing(library, tmp_path, args, message):
    # The same message as the lumaqc program's for a bad gate; nothing is written.
    done = subprocess.run([sys.executable, "-m", "lumaqc.cluster", "--out", str(tmp_path / "out"), *args],
                          capture_output=True, text=True, cwd=library)
    assert done.returncode == 255 and message in done.stderr and not (tmp_path / "out").exists()


@pytest.mark.parametrize("name, refused", [("summary", True), ("summary.json", False), ("summary.yuv", False)])
def test_no_input_takes_the_name_of_the_jobs_summary(library, tmp_path, name, refused):
    (tmp_path / name).write_bytes((library / "short.yuv").read_bytes())
    out = tmp_path / "out"
    done = subprocess.run([sys.executable, "-m", "lumaqc.cluster", "--size", f"{W}x{H}", "--out", str(out),
                           "--fail-if", "blur.mean>>1", str(tmp_path / name)], capture_output=True, text=True)
    # A bad gate stops every job that gets past the input check, before anything is written.
    assert done.returncode == 255 and not out.exists()
    assert ("would write summary.json" in done.stderr) == refused, done.stderr
    if not refused:
        assert [e.name for e in cluster.find_inputs([str(tmp_path / name)], size=(W, H))] == [name]


# Inputs of the resume job: a name that is not UTF-8, containers made by ffmpeg (cut into pieces), and a
# container at two frame rates (whole).
ODD = [(os.fsdecode(b"\xff\xfe.yuv"), ["-f", "rawvideo"]), ("clip.mp4", ["-c:v", "mpeg4"]),
       ("clip.mkv", ["-c:v", "ffv1"]), ("plain.yuv", ["-f", "rawvideo"])]
VFR = "vfr.mp4"


@pytest.fixture(scope="module")
def odd_job(scheduler, library, tmp_path_factory):
    """The job twice over ODD: the second run finds every output finished."""
    folder = tmp_path_factory.mktemp("odd")
    for name, codec in ODD:
        subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", f"{W}x{H}",
                        "-r", "30", "-i", str(library / "medium.yuv"), *codec, os.path.join(folder, name)], check=True)
    subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", f"testsrc2=size={W}x{H}:rate=25:duration=1",
                    "-f", "lavfi", "-i", f"testsrc2=size={W}x{H}:rate=30:duration=1", "-filter_complex",
                    "[0][1]concat=n=2:v=1,settb=1/150", "-vsync", "vfr", "-c:v", "mpeg4", str(folder / VFR)], check=True)
    out = tmp_path_factory.mktemp("odd-out")
    runs = []
    for _ in range(2):
        runs.append(run_job(scheduler, folder, out))
        runs[-1] += (json.loads((out / "summary.json").read_text()),)
    return folder, out, runs


@pytest.mark.parametrize("name", [n for n, _ in ODD] + [VFR])
def test_odd_names_and_containers_run_then_resume(odd_job, tmp_path, name):
    folder, out, runs = odd_job
    (status, printed, errors, first), (status2, printed2, _, second) = runs
    assert status in (0, 1) and status2 == status, errors
    assert {f["name"]: f["status"] for f in first["files"]}[name] in ("ok", "gate")
    assert {f["name"]: f["status"] for f in second["files"]}[name] == "skipped", printed2
    _, local_json, local_csv = local_run(os.path.join(folder, name), tmp_path, GATES)
    assert (out / f"{name}.json").read_bytes() == local_json
    assert (out / f"{name}.csv").read_bytes() == local_csv
    assert f"{cluster._shown(name)} again" not in printed2 and f"skipped {cluster._shown(name)}: its outputs" in printed2


@pytest.mark.parametrize("name, pieces, reason", [
    ("clip.mp4", 2, None), ("clip.mkv", 2, None), (VFR, None, "variable frame rate"),
    (os.fsdecode(b"\xff\xfe.yuv"), None, "its name is not UTF-8"), ("plain.yuv", 2, None)])
def test_containers_are_cut_unless_their_frames_cannot_be_numbered(odd_job, name, pieces, reason):
    # The outputs of every input are the local run's (the test above); here how each ran.
    _, _, runs = odd_job
    record = {f["name"]: f for f in runs[0][3]["files"]}[name]
    assert record["pieces"] == pieces and record.get("whole_reason") == reason
    assert (f"whole: {reason}" in runs[0][1]) == (reason is not None)


def test_a_container_shorter_than_it_tells_runs_again_whole(scheduler, odd_job, tmp_path, monkeypatch):
    folder, _, _ = odd_job
    told = cluster.cut_facts
    monkeypatch.setattr(cluster, "cut_facts", lambda entry: (told(entry)[0] * 3, False, None))
    out = tmp_path / "out"
    from dask.distributed import Client
    with Client(scheduler) as client:
        summary = cluster.analyze_many([str(folder / "clip.mp4")], str(out), client=client, chunk_frames=CHUNK,
                                       csv_output=True, fail_if=GATES[1::2], progress=lambda line: None)
    assert summary["files"][0]["status"] in ("ok", "gate") and summary["files"][0]["pieces"] is None
    _, local_json, local_csv = local_run(str(folder / "clip.mp4"), tmp_path, GATES)
    assert (out / "clip.mp4.json").read_bytes() == local_json
    assert (out / "clip.mp4.csv").read_bytes() == local_csv


@pytest.mark.parametrize("kill, removed", [(True, True), (False, False)])
def test_folders_of_killed_workers_go_at_the_next_start(tmp_path, monkeypatch, kill, removed):
    hang = tmp_path / "hang"
    hang.write_text("#!/bin/sh\nexec sleep 60\n")
    hang.chmod(0o755)
    temp = tmp_path / "tmp"
    temp.mkdir()
    script = f"import lumaqc.cluster as c; c.run_lumaqc([], binary={str(hang)!r})"
    worker = subprocess.Popen([sys.executable, "-c", script], env=dict(os.environ, TMPDIR=str(temp)),
                              start_new_session=True)
    try:
        # Python's first use of TMPDIR writes and removes a probe file of its own: wait for the task's folder.
        for _ in range(600):
            if any(name.startswith("lumaqc-task-") for name in os.listdir(temp)):
                break
            time.sleep(0.05)
        left = os.listdir(temp)
        assert len(left) == 1 and left[0].startswith(f"lumaqc-task-{worker.pid}-")
        if kill:
            worker.kill()  # the worker only: its lumaqc (here the hanging script) may outlive it
            worker.wait()
        monkeypatch.setattr(tempfile, "tempdir", str(temp))
        assert cluster.run_lumaqc(["missing.yuv"], binary=BINARY)["rc"] != 0
        assert os.listdir(temp) == ([] if removed else left)
    finally:
        try:
            os.killpg(worker.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        worker.wait()
