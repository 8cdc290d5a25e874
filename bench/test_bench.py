#!/usr/bin/env python3
"""Tests of the benchmark's own parts: the statement and query it sends, the generated
catalogue against an independent reading of its bytes, the reference scanner's counts and
character boundaries, and the launcher. The Groonga peer's
counts, the reading of wrk's report, the speed-ups and targets of the servers' report and
lighttpd's acceptance of its configuration. Run: python3 bench/test_bench.py"""
import contextlib
import io
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path
from types import SimpleNamespace

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))
sys.path.insert(0, str(BENCH_DIR.parent / "tools" / "catalogue"))
import bench  # noqa: E402
import gen_catalogue  # noqa: E402
import groonga_peer  # noqa: E402
import servers_report  # noqa: E402
import web_servers  # noqa: E402
import make_catalogue  # noqa: E402
from test_make_catalogue import read_dbf  # noqa: E402

TITLE_LINE = ('where ((書名 like "%猫%") or (書名ｶﾅ like "%猫%") or (叢書名 like "%猫%") '
              'or (叢書名ｶﾅ like "%猫%") or (注記 like "%猫%"))')


def sjis(text):
    return text.encode("cp932")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class StatementTest(unittest.TestCase):
    def test_lines_as_the_search_handler_writes_them(self):
        cases = [
            ({"title1": "猫"}, ["select * from 図書", TITLE_LINE, 'AND 分類記号 like "%"', "order by 書名ｶﾅ"]),
            ({"title1": "猫", "bunrui": "10"}, ["select * from 図書", TITLE_LINE, "order by 書名ｶﾅ"]),
            ({"bunrui": "3"}, ["select * from 図書", TITLE_LINE.replace("猫", ""), 'AND 分類記号 like "3%"',
                               "order by 書名ｶﾅ"]),
        ]
        for criteria, lines in cases:
            with self.subTest(criteria=criteria):
                self.assertEqual(bench.statement_lines(criteria), lines)

    def test_keyword_lines_search_nine_fields_with_like_spelled_as_written(self):
        lines = bench.statement_lines({"keyword2": "犬", "Author": "漱石"})
        self.assertEqual(lines[2], 'AND ((著者名 like "%漱石%") or (著者名ｶﾅ like "%漱石%"))')
        self.assertEqual(len(lines), 6)  # select, where, author, class, one keyword line, order by
        self.assertTrue(lines[4].startswith('AND ((件名 Like "%犬%") or (内容紹介 Like "%犬%")'))
        self.assertEqual(lines[4].count(" Like "), 9)

    def test_searched_fields_are_read_from_the_statement_lines(self):
        statement = {"kSqlTitleFirst": 'where ((書名 like "%{v}%") or (注記 like "%{v}%"))',
                     "kSqlTitleMore": 'AND ((書名 like "%{v}%") or (注記 like "%{v}%"))',
                     "kSqlAuthor": 'AND ((著者名 like "%{v}%"))', "kSqlClass": 'AND 分類記号 like "{v}%"',
                     "kSqlKeyword": 'AND ((件名 Like "%{v}%") or (書名 Like "%{v}%"))'}
        self.assertEqual(gen_catalogue.searched_fields(statement),
                         {"title": ("書名", "注記"), "author": ("著者名",), "keyword": ("件名", "書名"),
                          "class": ("分類記号",)})
        statement["kSqlTitleMore"] = 'AND ((書名 like "%{v}%"))'  # the title lines must agree
        with self.assertRaises(SystemExit):
            gen_catalogue.searched_fields(statement)

    def test_query_string_is_percent_escaped_shift_jis_with_the_form_names(self):
        self.assertEqual(bench.query_string({"title1": "猫"}), "title1=%94L")
        self.assertEqual(bench.query_string({"keyword1": "A", "bunrui": "9"}), "KeyWord1=A&Bunrui=9")

    def test_count_line_is_read_from_the_page(self):
        page = sjis("<head>\r\n該当する資料は1234件です\r\n<Table>")
        self.assertEqual(bench.count_in(page), 1234)
        self.assertIsNone(bench.count_in(b"Status: 500 Internal Server Error\r\n"))
        utf8 = '<p role="status">39,442件中 1–20件</p>'.encode()
        self.assertEqual(bench.opac_count_in(utf8), 39442)
        self.assertIsNone(bench.opac_count_in("<p>見つかりませんでした</p>".encode()))


class HalfwidthTest(unittest.TestCase):
    def test_readings(self):
        for full, half in [("ガッコウ", "ｶﾞｯｺｳ"), ("パン", "ﾊﾟﾝ"), ("ヴェルヌ", "ｳﾞｪﾙﾇ"), ("ねこ", "ﾈｺ"),
                           ("コーヒー　ノ", "ｺｰﾋｰ ﾉ")]:
            with self.subTest(full=full):
                self.assertEqual(gen_catalogue.to_halfwidth(full), half)


class CatalogueTest(unittest.TestCase):
    BOOKS = 3000

    @classmethod
    def setUpClass(cls):
        cls.tmp = Path(tempfile.mkdtemp(prefix="bench-test-"))
        cls.folder = cls.tmp / "cat"
        cls.manifest = gen_catalogue.generate(cls.BOOKS, cls.folder, 7)
        cls.table = gen_catalogue.native_path(cls.folder, gen_catalogue.BOOK_TABLE)
        cls.fields, cls.records = read_dbf(read_bytes(cls.table))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def test_same_seed_same_bytes(self):
        again = self.tmp / "again"
        gen_catalogue.generate(self.BOOKS, again, 7)
        for name in (gen_catalogue.BOOK_TABLE, gen_catalogue.LOAN_TABLE):
            with self.subTest(name=name):
                self.assertEqual(read_bytes(gen_catalogue.native_path(self.folder, name)),
                                 read_bytes(gen_catalogue.native_path(again, name)))

    def test_table_has_the_catalogue_layout(self):
        schema = make_catalogue.read_schema(gen_catalogue.BOOK_SCHEMA)
        self.assertEqual([f[0] for f in self.fields], [f.name for f in schema])
        self.assertEqual(self.manifest["record_length"], 2331)
        deleted = sum(1 for flag, _ in self.records if flag == "*")
        self.assertEqual(self.BOOKS - deleted, self.manifest["live_books"])
        self.assertTrue(0 < deleted < self.BOOKS * 0.03)

    def test_expected_counts_match_the_written_bytes_and_sqlite(self):
        names = [f[0] for f in self.fields]
        live = [dict(zip(names, values)) for flag, values in self.records if flag != "*"]
        words = self.manifest["words"]

        def has(record, fields, word):
            return any(word in record[f] for f in fields)

        counted = {
            "Q1": sum(has(r, gen_catalogue.TITLE_FIELDS, words["rare"]) for r in live),
            "Q2": sum(has(r, gen_catalogue.TITLE_FIELDS, words["common"]) for r in live),
            "Q3": sum(has(r, gen_catalogue.KEYWORD_FIELDS, words["kw1"]) and has(r, gen_catalogue.KEYWORD_FIELDS, words["kw2"])
                      for r in live),
            "Q4": sum(r["分類記号"].startswith("9") for r in live),
            "Q4b": sum(r["分類記号"].startswith("3") for r in live),
        }
        self.assertEqual(counted, self.manifest["expected"])
        self.assertGreater(counted["Q2"], len(live) * 0.07)
        self.assertGreater(counted["Q4"], len(live) * 0.35)
        db = sqlite3.connect(self.folder / gen_catalogue.SQLITE_FILE)
        for request in bench.make_requests(self.manifest):
            if request.is_search:
                with self.subTest(request=request.key):
                    (n,), = db.execute(request.sqlite_count_sql()).fetchall()
                    self.assertEqual(n, counted[request.key])
        db.close()

    def test_detail_book_has_an_open_loan_in_the_last_lending_record(self):
        fields, loans = read_dbf(read_bytes(gen_catalogue.native_path(self.folder, gen_catalogue.LOAN_TABLE)))
        last = dict(zip([f[0] for f in fields], loans[-1][1]))
        detail = self.manifest["detail"]
        self.assertEqual(int(last["登録番号"]), detail["number"])
        self.assertEqual(last["返却済"], "F")
        self.assertEqual(f"{last['返却予定日'][:4]}/{last['返却予定日'][4:6]}/{last['返却予定日'][6:]}",
                         detail["due"])

    @unittest.skipUnless(shutil.which("groonga"), "needs groonga")
    def test_groonga_peer_finds_the_expected_books_and_no_deleted_one(self):
        folder = self.tmp / "groonga"
        database, seconds = groonga_peer.ensure_database(self.folder, self.manifest, folder)
        self.assertIsNotNone(seconds)
        self.assertEqual(groonga_peer.ensure_database(self.folder, self.manifest, folder), (database, None))
        for request in bench.make_requests(self.manifest):
            if request.is_search:
                with self.subTest(request=request.key):
                    argv = groonga_peer.command_line("groonga", database, groonga_peer.select_params(request.criteria))
                    answer = subprocess.run(argv, check=True, stdout=subprocess.PIPE).stdout
                    expected = self.manifest["expected"][request.key]
                    self.assertEqual(groonga_peer.answer_count(answer), (expected, expected))
        self.assertIsNone(groonga_peer.answer_count(b'[[-22,0.0,0.0,"invalid name: <@^>"]]'))


@unittest.skipUnless(shutil.which("g++"), "needs g++")
class ToolsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = Path(tempfile.mkdtemp(prefix="bench-tools-"))
        for name in ("ref_scan", "spawn_time"):
            subprocess.run(["g++", "-O2", "-std=c++20", "-Wall", "-Wextra", "-Werror", "-o", str(cls.tmp / name),
                            str(BENCH_DIR / f"{name}.cpp")], check=True)
        subprocess.run(["gcc", "-O2", "-Wall", "-Wextra", "-Werror", "-shared", "-fPIC", "-o",
                        str(cls.tmp / "heap_peak.so"), str(BENCH_DIR / "heap_peak.c")], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def scan(self, table, reference, *args):
        _, mode, access = reference
        out = subprocess.run([str(self.tmp / "ref_scan").encode(), b"--table", table, b"--mode", mode.encode(),
                              b"--access", access.encode(), b"--count-only", *bench.ref_field_args(), *args],
                             check=True, stdout=subprocess.PIPE).stdout
        return int(out)

    def test_a_match_starts_on_a_character_boundary(self):
        # "A" is the trail byte of ア (83 41): only the titles holding a real letter A match,
        # and the deleted record never does.
        fields = make_catalogue.read_schema(gen_catalogue.BOOK_SCHEMA)
        titles = [("アイ", False), ("ABC", False), ("xアA", False), ("ア", False), ("A", True)]
        records = []
        for title, deleted in titles:
            values = [b" " * f.length for f in fields]
            values[4] = make_catalogue.format_value(fields[4], title, "test")
            values[16] = make_catalogue.format_value(fields[16], "913", "test")
            records.append((b"*" if deleted else b" ") + b"".join(values))
        path = self.tmp / "boundary.dbf"
        path.write_bytes(make_catalogue.build_table(fields, records, gen_catalogue.UPDATE_DATE))
        for reference in bench.REFERENCES:
            with self.subTest(reference=reference[0]):
                self.assertEqual(self.scan(bytes(path), reference, b"--title", b"A"), 2)
                self.assertEqual(self.scan(bytes(path), reference, b"--title", b"A", b"--class", b"91"), 2)
                self.assertEqual(self.scan(bytes(path), reference, b"--title", b"A", b"--class", b"3"), 0)

    def test_counts_of_the_requests_match_the_manifest(self):
        folder = self.tmp / "cat"
        manifest = gen_catalogue.generate(2000, folder, 11)
        table = gen_catalogue.native_path(folder, gen_catalogue.BOOK_TABLE)
        pages = {}
        for request in bench.make_requests(manifest):
            if not request.is_search:
                continue
            for name, mode, access in bench.REFERENCES:
                with self.subTest(request=request.key, reference=name):
                    out = subprocess.run([os.fsencode(self.tmp / "ref_scan"), b"--table", table, b"--mode",
                                          mode.encode(), b"--access", access.encode(), *request.ref_args()],
                                         check=True, stdout=subprocess.PIPE).stdout
                    self.assertEqual(bench.count_in(out), manifest["expected"][request.key])
                    pages.setdefault(request.key, set()).add(out)
        # Every reference writes the same page: same rows, same order, mapped or read.
        for key, variants in pages.items():
            with self.subTest(request=key):
                self.assertEqual(len(variants), 1)

    def test_launcher_reads_the_output_and_reports_failures(self):
        saved = self.tmp / "saved.out"
        launcher = str(self.tmp / "spawn_time")
        done = subprocess.run([launcher, "--runs", "2", "--warmup", "1", "--save", str(saved), "--env", "X=abc",
                               "--", "sh", "-c", 'printf "$X"'], check=True, stdout=subprocess.PIPE)
        result = json.loads(done.stdout)
        self.assertEqual(result["bytes"], [3, 3])
        self.assertEqual(result["status"], [0, 0])
        self.assertEqual(saved.read_bytes(), b"abc")
        failed = subprocess.run([launcher, "--runs", "0", "--", "sh", "-c", "exit 4"], stdout=subprocess.PIPE)
        self.assertEqual(failed.returncode, 3)

    def test_baseline_runs_in_turn_and_a_different_page_fails(self):
        def fake(name, page):
            path = self.tmp / name
            path.write_text(f"#!/bin/sh\nexec printf '{page}'\n")  # exec: the heap meter reports at exit
            path.chmod(0o755)
            return str(path)

        form = 'Status: 200 OK\\r\\n\\r\\n<input name="title1">'
        args = SimpleNamespace(program=fake("after", form + "A"), trivial=fake("trivial", "x"), tools=str(self.tmp),
                               runs=2, warmup=1, no_sqlite=True, index=False, baseline=None)
        for baseline, verdict in ((form + "A", "ok"), (form + "B", "PAGE DIFFERS FROM THE BASELINE'S")):
            with self.subTest(baseline=baseline):
                args.baseline = fake("before", baseline)
                runner = bench.Runner(args)
                try:
                    with contextlib.redirect_stderr(io.StringIO()):
                        entry, = runner.bench_size(self.tmp, {"books": 1}, [bench.Request("form", "search form")])
                finally:
                    shutil.rmtree(runner.scratch)
                self.assertEqual(len(entry["baseline"]["wall_ms"]), 2)
                self.assertEqual(bench.check(entry), verdict)
                row = bench.report_table([{"books": 1, "rows": [entry]}]).splitlines()[2]
                self.assertIn(f"| `{entry['baseline_md5']}` | `{entry['program_md5']}` |", row)

    def test_heap_meter_sees_the_peak_of_the_command_only(self):
        report = self.tmp / "heap.txt"
        script = "b = bytearray(20 * 1024 * 1024); del b"
        subprocess.run([str(self.tmp / "spawn_time"), "--runs", "1", "--warmup", "0",
                        "--env", f"LD_PRELOAD={self.tmp / 'heap_peak.so'}", "--env", f"BENCH_HEAP_OUT={report}",
                        "--", sys.executable, "-c", script], check=True, stdout=subprocess.PIPE)
        peak, current = map(int, report.read_text().split())
        self.assertGreaterEqual(peak, 20 * 1024 * 1024)
        self.assertLess(current, peak - 20 * 1024 * 1024 + 1)


WRK_REPORT = """Running 30s test @ http://127.0.0.1:8080/cgi-bin/vovivavi.exe
  2 threads and 16 connections
  Thread Stats   Avg      Stdev     Max   +/- Stdev
    Latency     5.01ms    2.10ms  45.20ms   80.00%
  Latency Distribution
     50%  812.00us
     75%    4.50ms
     90%    1.20s
     99%    1.00m
  36000 requests in 30.00s, 180.00MB read
  Socket errors: connect 0, read 2, write 0, timeout 1
  Non-2xx or 3xx responses: 5
Requests/sec:   1199.87
Transfer/sec:      6.00MB
"""


class ServersTest(unittest.TestCase):
    def test_wrk_report_is_read_in_ms(self):
        figures = web_servers.parse_wrk(WRK_REPORT)
        self.assertEqual(figures, {"rps": 1199.87, "requests": 36000, "p50_ms": 0.812, "p75_ms": 4.5, "p90_ms": 1200.0,
                                   "p99_ms": 60000.0, "non_2xx": 5, "socket_errors": 3})
        clean = WRK_REPORT.replace("  Socket errors: connect 0, read 2, write 0, timeout 1\n", "")
        self.assertEqual(web_servers.parse_wrk(clean.replace("Non-2xx", "x"))["socket_errors"], 0)
        with self.assertRaises(ValueError):
            web_servers.parse_wrk(WRK_REPORT.replace("Requests/sec", "Req"))

    def test_speed_ups_over_groonga_and_the_targets(self):
        def row(key, groonga_ms, groonga_bytes, old_ms, new_ms, new_bytes):
            return {"request": key, "ms": {"groonga": [groonga_ms], "old_cgi": [9.0], "old_fastcgi": [old_ms],
                                           "new_fastcgi": [new_ms]},
                    "bytes": {"groonga": groonga_bytes, "old_cgi": 1, "old_fastcgi": 1, "new_fastcgi": new_bytes}}
        http = [row("cheapest", 0.2, 500, 0.25, 0.2, 2500), row("detail", 0, 0, 0.3, 0.2, 1000),
                row("Q1", 3.0, 20000, 1.0, 1.0, 10000), row("Q2", 30.0, 3e6, 20.0, 1.5, 10000)]
        del http[1]["ms"]["groonga"]
        ups = servers_report.http_speedups(http[3])
        self.assertEqual(ups["old"], (1.5, "ms", "fastcgi"))  # the same rows: by time
        self.assertAlmostEqual(ups["new"][0], (30.0 / 3e6) / (1.5 / 10000))  # fewer rows: by time per byte
        self.assertEqual(servers_report.http_speedups(http[1]), {})
        load = [{"program": "vovivavi.exe", "request": "form", "cgi": {"rps": 100.0}, "fastcgi": {"rps": 1000.0}},
                {"program": "vovivavi.exe", "request": "rare", "cgi": {"rps": 100.0}, "fastcgi": {"rps": 390.0}}]
        process = [{"request": "cheapest", "program": {"wall_ms": [1.0]}, "groonga": {"wall_ms": [1.0]}},
                   {"request": "Q1", "program": {"wall_ms": [2.0]}, "groonga": {"wall_ms": [6.0]}}]
        lines = servers_report.targets([{"books": 10, "fastcgi": True, "http": http, "load": load,
                                         "process": process}]).splitlines()
        self.assertEqual([line.rsplit(": ", 1)[1] for line in lines], ["held", "MISSED", "MISSED", "held"])
        self.assertIn("old Q2 ×1.50", lines[1])
        self.assertIn("rare ×3.9", lines[2])

    @unittest.skipUnless(shutil.which("lighttpd"), "needs lighttpd")
    def test_lighttpd_accepts_the_configuration(self):
        with tempfile.TemporaryDirectory() as run_dir:
            for procs in (0, 2):
                with self.subTest(fastcgi_procs=procs):
                    conf = Path(run_dir) / "lighttpd.conf"
                    conf.write_text(web_servers.lighttpd_conf(8080, run_dir, '/a "b"/shelfra.conf',
                                                              ["/x/vovivavi.exe", "/x/shelfra.cgi"], procs))
                    done = subprocess.run(["lighttpd", "-tt", "-f", str(conf)], stdout=subprocess.PIPE,
                                          stderr=subprocess.STDOUT)
                    self.assertEqual(done.returncode, 0, done.stdout)
                    self.assertEqual(conf.read_text().count('"bin-path"'), procs and 2)


if __name__ == "__main__":
    unittest.main()
