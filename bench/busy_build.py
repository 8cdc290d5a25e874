#!/usr/bin/env python3
"""Visitors' searches while the search index is being built: the slowest of several searches
started together (8 processes of the program, as a web server starts them for 8 visitors at
once), with no build running and while the detached build of the book table's index runs, for
the program and, with --baseline, an older build of it, side by side in one run.

Normally started by bench/run.sh --busy-build, which builds the program and the tools first.

Usage:
  busy_build.py --program EXE --tools DIR --data DIR --report FILE
                [--baseline PROGRAM] [--books 100000] [--rounds 9] [--searches 8] [--request Q3]

Both cases use the catalogue's index configuration (shelfra-index.conf) with the book table's
index missing, so every search scans the table:
  no build       the benchmark holds the index's lock, as a running build would, and nothing builds;
  build running  the index is removed and one search (Q1) made, the request that starts the
                 detached build; the searches start once the build's temporary file is there,
                 and the next case waits until the build has ended.
A round takes both cases for each program, the programs taking turns at going first. Nothing
asserts on times; a count line that differs from the generator's expectation, or a build that
leaves no index, makes the exit status 1.
"""
import argparse
import datetime
import fcntl
import glob
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))
import bench  # noqa: E402

BUILD_TIMEOUT_S = 600


def say(text):
    print(text, file=sys.stderr, flush=True)


def wait_until(condition, timeout_s, step_s=0.005):
    """Polls `condition` until it is true (returns True) or `timeout_s` has passed (False)."""
    deadline = time.monotonic() + timeout_s
    while not condition():
        if time.monotonic() >= deadline:
            return False
        time.sleep(step_s)
    return True


class BusyBuild:
    def __init__(self, args, folder, manifest):
        self.spawn_time = Path(args.tools).resolve() / "spawn_time"
        if not self.spawn_time.exists():
            raise SystemExit(f"busy_build: {self.spawn_time} is missing; run bench/run.sh --busy-build")
        self.config = bench.write_index_config(folder)
        self.index_dir = folder / "index"
        requests = {r.key: r for r in bench.make_requests(manifest)}
        self.search = requests[args.request]
        self.trigger = requests["Q1"]  # the cheapest search: the build's own request
        self.expected = manifest["expected"][args.request]
        self.searches = args.searches
        self.scratch = Path(tempfile.mkdtemp(prefix="shelfra-busy-"))
        self.stderr = open(Path(args.report).with_suffix(".log"), "wb")  # the programs' error log
        self.index = None  # the book table's index file, known after the first build
        self.problems = []

    # --- requests ------------------------------------------------------------------------------

    def start(self, program, request, save=None):
        """Starts one request of `program` under the launcher."""
        command = [str(self.spawn_time), "--runs", "1", "--warmup", "0"]
        if save:
            command += ["--save", str(save)]
        return subprocess.Popen(command + ["--", str(program)], env=bench.cgi_env(self.config, request),
                                stdout=subprocess.PIPE, stderr=self.stderr)

    @staticmethod
    def finish(process):
        """The launcher's result of a started request."""
        out, _ = process.communicate()
        if process.returncode != 0:
            raise SystemExit(f"busy_build: a request failed (launcher status {process.returncode})")
        return json.loads(out)

    def searches_at_once(self, program):
        """Starts the searches together; returns the slowest one's wall time in ms. The first
        one's page must count what the generator expects."""
        page = self.scratch / "page.out"
        started = [self.start(program, self.search, page if k == 0 else None) for k in range(self.searches)]
        slowest = max(self.finish(p)["wall_ms"][0] for p in started)
        count = bench.count_in(page.read_bytes())
        if count != self.expected:
            self.problems.append(f"{program.name}: the page counts {count}, not {self.expected}")
        return slowest

    # --- the index's files and its lock --------------------------------------------------------

    def lock_path(self):
        return self.index[:-len(".idx")] + ".lock"

    def lock_is_free(self):
        """True when nobody holds the index's lock (no build runs); takes it for a moment."""
        fd = os.open(self.lock_path(), os.O_RDWR | os.O_CLOEXEC)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return True
        except BlockingIOError:
            return False
        finally:
            os.close(fd)

    def remove_index(self):
        if os.path.exists(self.index):
            os.unlink(self.index)

    def building(self):
        return bool(glob.glob(glob.escape(self.index) + ".tmp.*"))

    def wait_for_build_end(self, program):
        if not wait_until(self.lock_is_free, BUILD_TIMEOUT_S, 0.01):
            raise SystemExit(f"busy_build: the build of {self.index} did not end in {BUILD_TIMEOUT_S} s")
        if not os.path.exists(self.index):
            self.problems.append(f"{program.name}: a build left no index (see {self.stderr.name})")

    def first_build(self, program):
        """Makes the index once from nothing, which names its file (the one .idx in the folder)."""
        shutil.rmtree(self.index_dir, ignore_errors=True)
        self.finish(self.start(program, self.trigger))
        made = lambda: glob.glob(str(self.index_dir / "*.idx"))  # noqa: E731
        if not wait_until(lambda: made() and not glob.glob(str(self.index_dir / "*.tmp.*")), BUILD_TIMEOUT_S, 0.01):
            raise SystemExit("busy_build: the first search made no index; is [Index] Directory honoured?")
        if len(made()) != 1:
            raise SystemExit(f"busy_build: one search made {len(made())} indexes, expected the book table's alone")
        self.index = made()[0]
        self.wait_for_build_end(program)

    # --- the two cases -------------------------------------------------------------------------

    def no_build(self, program):
        """The searches with the index missing and its lock held here: they scan, nothing builds."""
        self.remove_index()
        fd = os.open(self.lock_path(), os.O_RDWR | os.O_CLOEXEC)
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return self.searches_at_once(program)
        finally:
            os.close(fd)

    def build_running(self, program):
        """The searches while `program`'s detached build runs. Returns the slowest search's ms,
        the seconds from the build's request to its end, and whether the build was still running
        when the last search ended."""
        self.remove_index()
        started = time.monotonic()
        self.finish(self.start(program, self.trigger))
        if not wait_until(self.building, 10):
            raise SystemExit(f"busy_build: {program.name}'s search started no build of {self.index}")
        slowest = self.searches_at_once(program)
        outlasted = not self.lock_is_free()
        self.wait_for_build_end(program)
        return slowest, time.monotonic() - started, outlasted


def load_average():
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def summary(values, digits=0):
    return (f"{statistics.median(values):.{digits}f} "
            f"({min(values):.{digits}f}–{max(values):.{digits}f})")


def report(results, args, load_at_start):
    names = list(results)
    head = ("| program | no build: slowest ms, median (min–max) | build running: slowest ms, median (min–max) "
            "| build ÷ no build, of the medians | build ÷ no build, per round: median (min–max) "
            "| index ready after s, median | rounds the build outlasted the searches |")
    lines = [head, "|" + "---|" * (head.count("|") - 1)]
    for name in names:
        r = results[name]
        per_round = [b / n for b, n in zip(r["build"], r["no_build"])]
        lines.append(f"| {name} | {summary(r['no_build'])} | {summary(r['build'])} "
                     f"| {statistics.median(r['build']) / statistics.median(r['no_build']):.2f} "
                     f"| {summary(per_round, 2)} | {statistics.median(r['build_s']):.1f} "
                     f"| {sum(r['outlasted'])} of {len(r['outlasted'])} |")
    text = (f"# Searches while the index is built\n\n{datetime.datetime.now():%Y-%m-%d %H:%M}; "
            f"{bench.machine_text()} (at the start {load_at_start}).\n\n"
            f"{args.books:,} books; {args.searches} searches {args.request} started together, "
            f"{args.rounds} rounds; the slowest search's wall time (spawn to exit, page read through a pipe).\n\n"
            + "\n".join(lines) + "\n")
    if "before" in results:
        after, before = results["after"], results["before"]
        text += ("\nafter ÷ before, of the medians: no build "
                 f"{statistics.median(after['no_build']) / statistics.median(before['no_build']):.2f}, "
                 f"build running {statistics.median(after['build']) / statistics.median(before['build']):.2f}\n")
    return text


def main(argv=None):
    parser = argparse.ArgumentParser(description="Searches at once while the detached index build runs.")
    parser.add_argument("--program", required=True)
    parser.add_argument("--baseline", metavar="PROGRAM", help="an older build of the program, measured in turns with it")
    parser.add_argument("--tools", required=True, help="folder of spawn_time")
    parser.add_argument("--data", required=True, help="folder of the generated catalogues")
    parser.add_argument("--report", required=True, help="the Markdown report to write (raw data beside it, .json)")
    parser.add_argument("--books", type=int, default=100000)
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--searches", type=int, default=8, help="searches started together")
    parser.add_argument("--request", default="Q3", choices=("Q1", "Q2", "Q3", "Q4", "Q4b"))
    parser.add_argument("--seed", type=int, default=bench.SEED)
    args = parser.parse_args(argv)

    programs = {"after" if args.baseline else "program": Path(args.program).resolve()}
    if args.baseline:
        programs = {"before": Path(args.baseline).resolve(), **programs}
    for program in programs.values():
        if not program.exists():
            raise SystemExit(f"busy_build: {program} is missing")
    folder, manifest = bench.ensure_catalogue(Path(args.data).resolve(), args.books, args.seed)
    load_at_start = load_average()
    Path(args.report).parent.mkdir(parents=True, exist_ok=True)
    run = BusyBuild(args, folder, manifest)
    results = {name: {"no_build": [], "build": [], "build_s": [], "outlasted": []} for name in programs}
    try:
        run.first_build(programs[list(programs)[-1]])
        for program in programs.values():  # warm-up: the table in the page cache, the program too
            run.no_build(program)
        for round_ in range(args.rounds):
            order = list(programs.items())
            if round_ % 2:
                order.reverse()
            for name, program in order:
                say(f"  round {round_ + 1} of {args.rounds}, {name}")
                r = results[name]
                r["no_build"].append(run.no_build(program))
                slowest, seconds, outlasted = run.build_running(program)
                r["build"].append(slowest)
                r["build_s"].append(seconds)
                r["outlasted"].append(outlasted)
    finally:
        run.stderr.close()
        shutil.rmtree(run.scratch, ignore_errors=True)
    text = report(results, args, load_at_start)
    Path(args.report).write_text(text, encoding="utf-8")
    Path(args.report).with_suffix(".json").write_text(json.dumps(results, indent=1), encoding="utf-8")
    print(text)
    print(f"report written to {args.report}", file=sys.stderr)
    for problem in run.problems:
        say(f"busy_build: {problem}")
    return 1 if run.problems else 0


if __name__ == "__main__":
    sys.exit(main())
