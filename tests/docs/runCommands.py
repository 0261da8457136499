#!/usr/bin/python3
"""Runs the commands of the README and of docs/ as a reader would.

Every fenced block tagged sh runs with bash -e -o pipefail, every block tagged
python with this interpreter; the blocks of a page run in order, in a scratch
folder of their own holding the sample clip as sample/sample.yuv and the build
as build/ (first on PATH). Blocks tagged console or text are shown, not run.
Relative links of the pages must name files and headings that exist.

Usage: runCommands.py --build BUILD_DIR [PAGE.md ...]   (default: README.md docs/*.md)
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FENCE = re.compile(r"^```(\S*)\s*$")
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")


def blocks(text):
    """(tag, code) of every fenced block, in order."""
    found, tag, lines = [], None, []
    for line in text.splitlines():
        fence = FENCE.match(line)
        if tag is None and fence:
            tag, lines = fence.group(1), []
        elif tag is not None and line.strip() == "```":
            found.append((tag, "\n".join(lines) + "\n"))
            tag = None
        elif tag is not None:
            lines.append(line)
    if tag is not None:
        found.append(("unclosed", "\n".join(lines)))
    return found


def anchor(heading):
    """The id a Markdown renderer gives a heading."""
    slug = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return slug.replace(" ", "-")


def headings(text):
    outside, result = True, set()
    for line in text.splitlines():
        if FENCE.match(line) or (not outside and line.strip() == "```"):
            outside = not outside
        elif outside and line.startswith("#"):
            result.add(anchor(line.lstrip("#")))
    return result


def broken_links(page, text):
    problems = []
    for target in LINK.findall(text):
        if re.match(r"^[a-z]+:", target):
            continue
        path, _, fragment = target.partition("#")
        file = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
        if not os.path.exists(file):
            problems.append(f"{target}: no file {file}")
        elif fragment and file.endswith(".md"):
            with open(file, encoding="utf-8") as f:
                if fragment not in headings(f.read()):
                    problems.append(f"{target}: no heading #{fragment} in {file}")
    return problems


def scratch_folder(build, clip):
    folder = tempfile.mkdtemp(prefix="lumaqc-docs-")
    os.symlink(build, os.path.join(folder, "build"))
    os.mkdir(os.path.join(folder, "sample"))
    shutil.copyfile(clip, os.path.join(folder, "sample", "sample.yuv"))
    return folder


def run_block(tag, code, folder):
    env = dict(os.environ, PATH=os.path.join(folder, "build") + os.pathsep + os.environ.get("PATH", ""),
               PYTHONPATH=os.path.join(folder, "build", "python"), PYTHONDONTWRITEBYTECODE="1")
    command = ["bash", "-e", "-o", "pipefail", "-c", code] if tag == "sh" else [sys.executable, "-c", code]
    return subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, errors="replace")


def run_page(page, build, clip):
    """The failures of one page, as text."""
    with open(page, encoding="utf-8") as f:
        text = f.read()
    failures = [f"{page}: link {p}" for p in broken_links(page, text)]
    found = blocks(text)
    failures += [f"{page}: a block is not closed" for tag, _ in found if tag == "unclosed"]
    runnable = [(tag, code) for tag, code in found if tag in ("sh", "python")]
    folder = scratch_folder(build, clip)
    try:
        for number, (tag, code) in enumerate(runnable, 1):
            done = run_block(tag, code, folder)
            if done.returncode != 0:
                failures.append(f"{page}: {tag} block {number} of {len(runnable)} exited with {done.returncode}\n"
                                f"--- block\n{code}--- stdout (end)\n{done.stdout[-3000:]}\n"
                                f"--- stderr (end)\n{done.stderr[-3000:]}")
    finally:
        shutil.rmtree(folder)
    print(f"{page}: {len(runnable)} blocks run, {len(found) - len(runnable)} shown only")
    return failures


def check_the_checker(build, clip):
    """A failing command, a broken link and a shown-only command are told apart."""
    folder = tempfile.mkdtemp(prefix="lumaqc-docs-check-")
    try:
        page = os.path.join(folder, "page.md")
        with open(page, "w", encoding="utf-8") as f:
            f.write("# Page\n\n[here](#page) [gone](missing.md)\n\n```sh\ntest -s sample/sample.yuv\n```\n\n"
                    "```console\nfalse\n```\n\n```sh\ntrue\nfalse\ntrue\n```\n\n```python\nraise SystemExit(3)\n```\n")
        failures = run_page(page, build, clip)
    finally:
        shutil.rmtree(folder)
    expected = ["link missing.md", "sh block 2 of 3 exited with 1", "python block 3 of 3 exited with 3"]
    if len(failures) != len(expected) or not all(e in f for e, f in zip(expected, failures)):
        sys.exit("the checker itself is broken:\n" + "\n".join(failures))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("pages", nargs="*")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    pages = [os.path.abspath(p) for p in args.pages] or \
        [os.path.join(ROOT, "README.md")] + sorted(
            os.path.join(ROOT, "docs", p) for p in os.listdir(os.path.join(ROOT, "docs")) if p.endswith(".md"))
    with tempfile.TemporaryDirectory(prefix="lumaqc-docs-clip-") as clips:
        clip = os.path.join(clips, "sample.yuv")
        subprocess.run([os.path.join(build, "makeSampleClip"), clip], check=True, stdout=subprocess.DEVNULL)
        check_the_checker(build, clip)
        failures = [f for page in pages for f in run_page(page, build, clip)]
    for failure in failures:
        print("FAILED", failure, file=sys.stderr)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
