"""Figures and checks of a load run with the search index on, after the server has stopped.

Reads the program's standard error (the index events), the samples of watch_index.py, the
access log (begin and end of each request in microseconds since the epoch, as scripts/serve.sh
writes it), the record of the table swaps, and the index folder as it is at the end. Writes
the figures as key=value lines to standard output; writes each problem found to standard error
and exits 1 when there is one:
  - two temporary files of one table's index in one sample (two builds at once);
  - more builds started for the book table than one plus one per swap, more than one for the
    lending table, none for the book table, or a build for a table of neither name;
  - a build started and never reported as built;
  - any other index event (a build that could not be made, a damaged index, a leftover removed);
  - a file in the index folder at the end other than each table's index and lock file;
  - a 500 answer in the access log other than those to the planned malformed escape;
  - fewer swaps done than planned.

Usage: index_report.py --program-log F --samples F --access-log F --swaps F --index-dir D
                       --swap-count N --main-end SECONDS [--interval SECONDS]
"""
import argparse
import math
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from gen_catalogue import BOOK_TABLE, LOAN_TABLE  # noqa: E402  (the tables' names, as the program has them)

START = re.compile(rb"index \S*?([0-9a-f]{16})\.idx of (.+?) is .+; building it\s*$")
BUILT = re.compile(rb"built index \S*?([0-9a-f]{16})\.idx of (.+?) in ([0-9.]+) s \((\d+) bytes\)")
INDEX_LINE = re.compile(rb"(^|\s)index: |[0-9a-f]{16}\.idx|index directory")
FINAL_NAME = re.compile(r"^[0-9a-f]{16}\.(idx|lock)$")
MALFORMED = "title1=%4G"  # the load run's planned malformed escape, answered by a 500 page


def table_kind(path):
    """'book', 'loans' or 'other' for a table path as the program logs it (its Shift_JIS bytes,
    or UTF-8 where a log converts them)."""
    for kind, name in (("book", BOOK_TABLE), ("loans", LOAN_TABLE)):
        if path.endswith(name.encode("cp932")) or path.endswith(name.encode("utf-8")):
            return kind
    return "other"


def parse_events(data):
    """The index events of the program's standard error: per index (its 16 hex digits) the
    table kind, the builds started and the builds finished (seconds, bytes); and the other
    index lines."""
    tables, others = {}, []
    for line in data.splitlines():
        started, built = START.search(line), BUILT.search(line)
        match = started or built
        if match:
            entry = tables.setdefault(match.group(1).decode(), {"kind": table_kind(match.group(2)), "started": 0,
                                                                 "built": []})
            if started:
                entry["started"] += 1
            else:
                entry["built"].append((float(built.group(3)), int(built.group(4))))
        elif INDEX_LINE.search(line):
            others.append(line.decode("utf-8", "backslashreplace"))
    return tables, others


def parse_samples(text):
    """[(time, [temporary file names])] from watch_index.py's lines."""
    samples = []
    for line in text.splitlines():
        words = line.split()
        if words:
            samples.append((float(words[0]), words[1:]))
    return samples


def most_at_once(samples):
    """Per index (16 hex digits): the most temporary files of it seen in one sample."""
    most = {}
    for _, names in samples:
        counts = {}
        for name in names:
            counts[name[:16]] = counts.get(name[:16], 0) + 1
        for key, n in counts.items():
            most[key] = max(most.get(key, 0), n)
    return most


def build_windows(samples, interval):
    """[(start, end, name)]: for each temporary file, the time from the first sample that saw
    it to the last, widened by one sampling interval on each side (a build may have started
    or ended at any moment between two samples)."""
    seen = {}
    for t, names in samples:
        for name in names:
            first, _ = seen.get(name, (t, t))
            seen[name] = (first, t)
    return sorted((first - interval, last + interval, name) for name, (first, last) in seen.items())


def union_length(windows):
    total, end = 0.0, None
    for start, stop, _ in windows:
        if end is None or start > end:
            total += stop - start
            end = stop
        elif stop > end:
            total += stop - end
            end = stop
    return total


def parse_access(text):
    """[(begin, end, status, request line)], times in seconds since the epoch, from the access
    log's lines "BEGIN_US END_US TAKEN_US STATUS BYTES "REQUEST"."."""
    requests = []
    for line in text.splitlines():
        words = line.split(" ", 5)
        if len(words) == 6 and words[0].isdigit() and words[1].isdigit():
            requests.append((int(words[0]) / 1e6, int(words[1]) / 1e6, words[3], words[5].strip('"')))
    return requests


def percentile(sorted_values, p):
    """Nearest-rank percentile of a sorted list."""
    return sorted_values[max(0, math.ceil(p / 100 * len(sorted_values)) - 1)]


def latency_figures(durations_ms):
    """'p50 / p90 / p99 / max ms (n requests)' of a list of durations."""
    if not durations_ms:
        return "none"
    v = sorted(durations_ms)
    return "%.0f / %.0f / %.0f / %.0f ms (%d requests)" % (percentile(v, 50), percentile(v, 90), percentile(v, 99),
                                                          v[-1], len(v))


def split_latencies(requests, windows, until):
    """Durations in ms of the requests that began before `until`: all of them, those that
    overlapped a build window, the others."""
    everything, during, outside = [], [], []
    for begin, end, _, _ in requests:
        if begin >= until:
            continue
        ms = (end - begin) * 1000
        everything.append(ms)
        if any(begin < stop and end > start for start, stop, _ in windows):
            during.append(ms)
        else:
            outside.append(ms)
    return everything, during, outside


def long_builds(windows, interval):
    """The builds seen in more than one listing, as (first seen, last seen)."""
    inner = [(start + interval, stop - interval) for start, stop, _ in windows]
    return [(first, last) for first, last in inner if last > first]


def spanning(requests, builds):
    """The requests that began before a build was first seen and ended after it was last seen:
    a request that waited for a build would be one of them (a slow one may be too)."""
    return [r for r in requests if any(r[0] <= first and r[1] >= last for first, last in builds)]


def parse_swaps(text):
    """(start, [(copy began, copy written, renamed)]) from the swap record."""
    start, swaps = None, []
    for line in text.splitlines():
        words = line.split()
        if words[:1] == ["start"]:
            start = float(words[1])
        elif words[:1] == ["swap"]:
            swaps.append((float(words[2]), float(words[3]), float(words[4])))
    return start, swaps


def leftovers(names):
    return sorted(n for n in names if not FINAL_NAME.match(n))


def unexpected_500(requests):
    """The request lines of 500 answers other than the planned malformed escape."""
    return [r for _, _, s, r in requests if s == "500" and MALFORMED not in r]


def check(tables, others, most, swaps_done, swap_count, final_names, unexpected=()):
    """The problems of a run, as sentences."""
    problems = []
    for key, n in sorted(most.items()):
        if n > 1:
            problems.append("%d temporary files of index %s at once: two builds of one table ran together" % (n, key))
    by_kind = {"book": 0, "loans": 0, "other": 0}
    for key, entry in sorted(tables.items()):
        by_kind[entry["kind"]] += entry["started"]
        if entry["started"] != len(entry["built"]):
            problems.append("index %s (%s table): %d builds started, %d reported built" %
                            (key, entry["kind"], entry["started"], len(entry["built"])))
    if by_kind["book"] == 0:
        problems.append("no build of the book table's index was started")
    if by_kind["book"] > swap_count + 1:
        problems.append("%d builds of the book table's index for %d swaps (at most %d)" %
                        (by_kind["book"], swap_count, swap_count + 1))
    if by_kind["loans"] > 1:
        problems.append("%d builds of the lending table's index (at most 1)" % by_kind["loans"])
    if by_kind["other"]:
        problems.append("%d builds of an index of another table" % by_kind["other"])
    for line in others:
        problems.append("index event: " + line)
    for name in leftovers(final_names):
        problems.append("left in the index folder at the end: " + name)
    for request in unexpected:
        problems.append("a 500 answer in the access log for " + request)
    if swaps_done != swap_count:
        problems.append("%d of %d table swaps done" % (swaps_done, swap_count))
    return problems


def read(path, mode="r"):
    try:
        with open(path, mode) as f:
            return f.read()
    except FileNotFoundError:
        return b"" if "b" in mode else ""


def main():
    parser = argparse.ArgumentParser()
    for name in ("--program-log", "--samples", "--access-log", "--swaps", "--index-dir"):
        parser.add_argument(name, required=True)
    parser.add_argument("--swap-count", type=int, required=True)
    parser.add_argument("--main-end", type=float, required=True)
    parser.add_argument("--interval", type=float, default=0.1)
    args = parser.parse_args()

    tables, others = parse_events(read(args.program_log, "rb"))
    samples = parse_samples(read(args.samples))
    most = most_at_once(samples)
    windows = build_windows(samples, args.interval)
    start, swaps = parse_swaps(read(args.swaps))
    requests = parse_access(read(args.access_log))
    final_names = os.listdir(args.index_dir) if os.path.isdir(args.index_dir) else []

    def of_kind(kind):
        return [e for e in tables.values() if e["kind"] == kind]

    book, loans = of_kind("book"), of_kind("loans")
    book_keys = {k for k, e in tables.items() if e["kind"] == "book"}
    book_windows = [w for w in windows if w[2][:16] in book_keys]
    everything, during, outside = split_latencies(requests, windows, args.main_end)
    run_start = start if start is not None else (samples[0][0] if samples else args.main_end)
    main_windows = [(max(a, run_start), min(b, args.main_end), n) for a, b, n in windows if a < args.main_end]

    figures = {
        "swaps_done": len(swaps),
        "swap_at": ", ".join("%.1f s" % (renamed - run_start) for _, _, renamed in swaps) or "none",
        "swap_copy": ", ".join("%.1f s" % (written - began) for began, written, _ in swaps) or "none",
        "builds_book": sum(e["started"] for e in book),
        "builds_loans": sum(e["started"] for e in loans),
        "built_book": ", ".join("%.1f s" % s for e in book for s, _ in e["built"]) or "none",
        "index_bytes_book": max((b for e in book for _, b in e["built"]), default=0),
        "builds_seen_book": len(book_windows),
        "builds_seen_all": len(windows),
        "most_at_once": max(most.values(), default=0),
        "samples": len(samples),
        "build_time": "%.1f" % union_length(main_windows),
        "run_time": "%.1f" % max(0.0, args.main_end - run_start),
        "latency_all": latency_figures(everything),
        "latency_during": latency_figures(during),
        "latency_outside": latency_figures(outside),
        "long_builds": len(long_builds(book_windows, args.interval)),
        "spanning_a_build": len(spanning(requests, long_builds(book_windows, args.interval))),
        "status_500": sum(1 for _, _, s, _ in requests if s == "500"),
        "unexpected_500": len(unexpected_500(requests)),
        "final_files": " ".join(sorted(final_names)) or "none",
        "other_events": len(others),
    }
    for key, value in figures.items():
        print("%s=%s" % (key, value))
    problems = check(tables, others, most, len(swaps), args.swap_count, final_names, unexpected_500(requests))
    for p in problems:
        print(p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
