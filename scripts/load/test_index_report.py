#!/usr/bin/env python3
"""Tests of the load run's index tools: reading the index events, the folder listings and the
access log, the checks of index_report.py, and watch_index.py's listing.
Run: python3 scripts/load/test_index_report.py"""
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import index_report as ir  # noqa: E402

BOOK = "/srv/cat/./図書.DBF".encode("cp932")
LOANS = "/srv/cat/./貸出返却.DBF".encode("cp932")
B = "0123456789abcdef"
L = "fedcba9876543210"


def started(key, table, why=b"missing"):
    return b"index: index /srv/cache/" + key.encode() + b".idx of " + table + b" is " + why + b"; building it"


def built(key, table, seconds="2.1", size=37000000):
    return (b"index: built index /srv/cache/" + key.encode() + b".idx of " + table + b" in " + seconds.encode() +
            b" s (" + str(size).encode() + b" bytes)")


class EventsTest(unittest.TestCase):
    def test_counts_builds_per_table(self):
        log = b"\n".join([started(B, BOOK), started(L, LOANS), built(L, LOANS, "0.0", 11468), built(B, BOOK),
                          started(B, BOOK, b"stale (the table changed)"), built(B, BOOK, "3.5")]) + b"\n"
        tables, others = ir.parse_events(log)
        self.assertEqual(others, [])
        self.assertEqual(tables[B]["kind"], "book")
        self.assertEqual(tables[B]["started"], 2)
        self.assertEqual(tables[B]["built"], [(2.1, 37000000), (3.5, 37000000)])
        self.assertEqual(tables[L]["kind"], "loans")
        self.assertEqual(tables[L]["started"], 1)

    def test_table_names_in_utf8_are_known_too(self):
        self.assertEqual(ir.table_kind("/a/図書.DBF".encode("utf-8")), "book")
        self.assertEqual(ir.table_kind("/a/貸出返却.DBF".encode("utf-8")), "loans")
        self.assertEqual(ir.table_kind(b"/a/other.DBF"), "other")

    def test_other_index_events_are_kept_and_other_lines_ignored(self):
        failed = b"index: could not build index /srv/cache/" + B.encode() + b".idx of " + BOOK + b": out of memory"
        log = b"\n".join([failed, b"vovivavi.exe: 500 EConvertError: '$4G' is not an integer", b""])
        tables, others = ir.parse_events(log)
        self.assertEqual(tables, {})
        self.assertEqual(len(others), 1)
        self.assertIn("could not build", others[0])


class SamplesTest(unittest.TestCase):
    def test_most_at_once_is_per_table(self):
        samples = ir.parse_samples("10.0\n10.1 %s.idx.tmp.5.0 %s.idx.tmp.6.0\n10.2 %s.idx.tmp.5.0\n" % (B, L, B))
        self.assertEqual(ir.most_at_once(samples), {B: 1, L: 1})
        samples = ir.parse_samples("10.0 %s.idx.tmp.5.0 %s.idx.tmp.9.0\n" % (B, B))
        self.assertEqual(ir.most_at_once(samples), {B: 2})

    def test_build_windows_are_widened_by_one_interval(self):
        samples = ir.parse_samples("10.0\n10.1 %s.idx.tmp.5.0\n10.2 %s.idx.tmp.5.0\n10.3\n" % (B, B))
        (start, end, name), = ir.build_windows(samples, 0.1)
        self.assertAlmostEqual(start, 10.0)
        self.assertAlmostEqual(end, 10.3)
        self.assertEqual(name, B + ".idx.tmp.5.0")
        self.assertAlmostEqual(ir.union_length([(0, 2, "a"), (1, 3, "b"), (5, 6, "c")]), 4)


class SwapsTest(unittest.TestCase):
    def test_swap_record(self):
        start, swaps = ir.parse_swaps("start 100.0\nswap 1 101.0 102.5 107.5\nswap 2 107.6 109.0 115.0\n")
        self.assertEqual(start, 100.0)
        self.assertEqual(swaps, [(101.0, 102.5, 107.5), (107.6, 109.0, 115.0)])


class LatencyTest(unittest.TestCase):
    def test_requests_split_by_overlap_with_a_build(self):
        log = ("10000000 10500000 500000 200 483 \"GET /cgi-bin/vovivavi.exe?title1=x HTTP/1.1\"\n"
               "12000000 12100000 100000 200 483 \"GET /cgi-bin/vovivavi.exe HTTP/1.1\"\n"
               "30000000 30100000 100000 200 483 \"GET /cgi-bin/vovivavi.exe HTTP/1.1\"\n")
        requests = ir.parse_access(log)
        self.assertEqual(requests[0][:3], (10.0, 10.5, "200"))
        everything, during, outside = ir.split_latencies(requests, [(10.4, 11.0, "x")], until=20.0)
        self.assertEqual([round(v) for v in everything], [500, 100])
        self.assertEqual([round(v) for v in during], [500])
        self.assertEqual([round(v) for v in outside], [100])

    def test_a_request_as_long_as_a_build_is_found(self):
        requests = [(9.0, 12.0, "200", "a"), (10.5, 10.8, "200", "b"), (10.5, 12.0, "200", "c")]
        windows = [(9.9, 11.1, "x"), (19.9, 20.1, "seen once")]  # seen from 10.0 to 11.0, and at 20.0
        builds = ir.long_builds(windows, 0.1)
        self.assertEqual(len(builds), 1)
        self.assertEqual([r[3] for r in ir.spanning(requests, builds)], ["a"])

    def test_nearest_rank_percentiles(self):
        values = list(range(1, 101))
        self.assertEqual(ir.percentile(values, 50), 50)
        self.assertEqual(ir.percentile(values, 99), 99)
        self.assertEqual(ir.percentile([7], 90), 7)
        self.assertEqual(ir.latency_figures([]), "none")
        self.assertEqual(ir.latency_figures([1.0, 2.0, 3.0, 4.0]), "2 / 4 / 4 / 4 ms (4 requests)")

    def test_only_the_malformed_escape_may_answer_500(self):
        log = ("1 2 1 500 100 \"GET /cgi-bin/vovivavi.exe?title1=%4G HTTP/1.1\"\n"
               "1 2 1 500 100 \"GET /cgi-bin/vovivavi.exe/Detail?NO=5 HTTP/1.1\"\n")
        self.assertEqual(ir.unexpected_500(ir.parse_access(log)), ["GET /cgi-bin/vovivavi.exe/Detail?NO=5 HTTP/1.1"])


class CheckTest(unittest.TestCase):
    def tables(self, book_started=2, book_built=2, loans_started=1):
        return {B: {"kind": "book", "started": book_started, "built": [(1.0, 10)] * book_built},
                L: {"kind": "loans", "started": loans_started, "built": [(0.0, 1)] * loans_started}}

    final = [B + ".idx", B + ".lock", L + ".idx", L + ".lock"]

    def test_a_clean_run_has_no_problems(self):
        self.assertEqual(ir.check(self.tables(), [], {B: 1, L: 1}, 1, 1, self.final), [])

    def test_each_kind_of_problem_is_named(self):
        cases = [
            (dict(most={B: 2}), "at once"),
            (dict(tables=self.tables(book_started=4, book_built=4)), "builds of the book table"),
            (dict(tables=self.tables(book_started=0, book_built=0)), "no build of the book table"),
            (dict(tables=self.tables(loans_started=2)), "lending table"),
            (dict(tables=self.tables(book_built=1)), "reported built"),
            (dict(others=["index: could not build x"]), "could not build"),
            (dict(final=self.final + [B + ".idx.tmp.77.0"]), "left in the index folder"),
            (dict(final=self.final + [B + ".report"]), "left in the index folder"),
            (dict(swaps_done=0), "swaps done"),
            (dict(unexpected=["GET /x HTTP/1.1"]), "500 answer"),
        ]
        for change, words in cases:
            args = dict(tables=self.tables(), others=[], most={B: 1}, swaps_done=1, swap_count=1, final=self.final,
                        unexpected=[])
            args.update(change)
            problems = ir.check(args["tables"], args["others"], args["most"], args["swaps_done"], args["swap_count"],
                                args["final"], args["unexpected"])
            self.assertEqual(len(problems), 1, (change, problems))
            self.assertIn(words, problems[0])


class ToolsTest(unittest.TestCase):
    def test_report_of_a_run_and_its_leftover(self):
        with tempfile.TemporaryDirectory() as d:
            d = Path(d)
            (d / "index").mkdir()
            for name in (B + ".idx", B + ".lock"):
                (d / "index" / name).write_bytes(b"")
            (d / "program.log").write_bytes(b"\n".join([started(B, BOOK), built(B, BOOK)]) + b"\n")
            (d / "samples").write_text("100.0 %s.idx.tmp.5.0\n100.1\n" % B)
            (d / "access.log").write_text("100000000 100200000 200000 200 483 \"GET /cgi-bin/vovivavi.exe HTTP/1.1\"\n")
            (d / "swaps").write_text("start 99.0\n")
            args = [sys.executable, str(HERE / "index_report.py"), "--program-log", str(d / "program.log"),
                    "--samples", str(d / "samples"), "--access-log", str(d / "access.log"), "--swaps", str(d / "swaps"),
                    "--index-dir", str(d / "index"), "--swap-count", "0", "--main-end", "101"]
            run = subprocess.run(args, capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            figures = dict(line.split("=", 1) for line in run.stdout.splitlines())
            self.assertEqual(figures["builds_book"], "1")
            self.assertEqual(figures["latency_during"], "200 / 200 / 200 / 200 ms (1 requests)")
            self.assertEqual(figures["latency_outside"], "none")
            (d / "index" / (B + ".idx.tmp.5.0")).write_bytes(b"")
            run = subprocess.run(args, capture_output=True, text=True)
            self.assertEqual(run.returncode, 1)
            self.assertIn(B + ".idx.tmp.5.0", run.stderr)

    def test_watch_lists_temporary_files_and_stops_by_itself(self):
        with tempfile.TemporaryDirectory() as d:
            index = os.path.join(d, "index")
            os.mkdir(index)
            # A build's side files belong to its temporary file and are not listed.
            for name in (B + ".idx", B + ".idx.tmp.42.0", B + ".idx.tmp.42.0.pairs", B + ".idx.tmp.42.0.rows",
                         B + ".lock"):
                open(os.path.join(index, name), "w").close()
            out = os.path.join(d, "samples")
            subprocess.run([sys.executable, str(HERE / "watch_index.py"), index, out, os.path.join(d, "stop"),
                            "--interval", "0.05", "--limit", "0.3"], check=True, timeout=30)
            samples = ir.parse_samples(Path(out).read_text())
            self.assertGreaterEqual(len(samples), 2)
            self.assertTrue(all(names == [B + ".idx.tmp.42.0"] for _, names in samples))


if __name__ == "__main__":
    unittest.main()
