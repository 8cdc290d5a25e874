#!/usr/bin/env python3
"""Benchmark driver: measures the catalogue search program as a whole process per request, as a
web server runs it, against two reference scanners of the same mapped table, a trivial C++ CGI
program built as the program is and the sqlite3 command-line program over the same rows, and writes one Markdown table.

Normally started by bench/run.sh, which builds the program and the tools first.

Usage:
  bench.py --program EXE --tools DIR --data DIR --report FILE
           [--sizes 10000,100000] [--runs 5] [--warmup 1] [--only Q1,Q4,...] [--no-sqlite] [--index]
           [--baseline PROGRAM]

With --baseline every request is also run with PROGRAM (an older build of the program), in turn
with the program; the report adds its times and the md5 of each one's page, and a page that
differs between the two makes the exit status 1.
The catalogue of N books lives in DATA/books-N and is generated there when it is missing or was
made by another version of the generator. Nothing here asserts on times: a count that differs
between the program, sqlite3, the reference scanners and the generator's expectation is shown
as a mismatch in the table and makes the exit status 1.
"""
import argparse
import datetime
import hashlib
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import urllib.parse
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
ROOT = BENCH_DIR.parent
sys.path.insert(0, str(BENCH_DIR))
import gen_catalogue  # noqa: E402
import oai_harvest  # noqa: E402

SCRIPT_NAME = "/cgi-bin/vovivavi.exe"
COUNT_HEAD = "該当する資料は".encode("cp932")
COUNT_TAIL = "件です".encode("cp932")
LOAN_TEXT = "貸出中 返却予定日は".encode("cp932")
# The generator's seed of the catalogues (--seed).
SEED = 20251201
# The reference scanners: (name, ref_scan --mode, ref_scan --access).
REFERENCES = (("memmem", "memmem", "map"), ("prefilter", "prefilter", "map"), ("prefilter_read", "prefilter", "read"))


# ---------------------------------------------------------------------------------------------
# The requests and their statements.

def statement_lines(criteria, quote='"'):
    """The search statement as the program's search handler composes it, one text per line,
    from the program's own statement lines (gen_catalogue.STATEMENT).

    criteria: dict with any of title1..title3, Author, keyword1..keyword3 (texts) and bunrui
    (text, or absent). `quote` encloses the constants ('"' as the program writes them).
    """
    def line(name, value=""):
        return gen_catalogue.STATEMENT[name].replace('"', quote).replace("{v}", value)

    get = lambda name: criteria.get(name, "")  # noqa: E731
    lines = [line("kSqlSelect"), line("kSqlTitleFirst", get("title1"))]
    for name in ("title2", "title3"):
        if get(name):
            lines.append(line("kSqlTitleMore", get(name)))
    if get("Author"):
        lines.append(line("kSqlAuthor", get("Author")))
    if criteria.get("bunrui") != "10":
        lines.append(line("kSqlClass", get("bunrui")))
    for name in ("keyword1", "keyword2", "keyword3"):
        if get(name):
            lines.append(line("kSqlKeyword", get(name)))
    lines.append(line("kSqlOrder"))
    return lines


def ref_field_args():
    """ref_scan's --fields options: the fields each kind of criterion searches, by name, as the
    statement names them (Shift_JIS, comma-separated)."""
    args = []
    for kind, fields in gen_catalogue.SEARCHED_FIELDS.items():
        args += [b"--fields", kind.encode() + b"=" + b",".join(f.encode("cp932") for f in fields)]
    return args


FORM_NAMES = {"title1": "title1", "title2": "title2", "title3": "title3", "Author": "Author",
              "keyword1": "KeyWord1", "keyword2": "KeyWord2", "keyword3": "KeyWord3", "bunrui": "Bunrui"}


def query_string(criteria):
    """The form's query string for the criteria: Shift_JIS, percent-escaped."""
    return "&".join(f"{FORM_NAMES[k]}={urllib.parse.quote(v.encode('cp932'), safe='')}"
                    for k, v in criteria.items())


class Request:
    """One measured request: how the program, the references and sqlite3 are asked."""

    def __init__(self, key, label, criteria=None, path_info="", query="", detail=None):
        self.key = key
        self.label = label
        self.criteria = criteria
        self.path_info = path_info
        self.query = query if criteria is None else query_string(criteria)
        self.detail = detail  # manifest's detail entry for the detail page

    @property
    def is_search(self):
        return self.criteria is not None

    def ref_args(self):
        args = ref_field_args()
        for name, option in (("title1", "--title"), ("title2", "--title"), ("title3", "--title"),
                             ("Author", "--author"), ("keyword1", "--keyword"), ("keyword2", "--keyword"),
                             ("keyword3", "--keyword")):
            if self.criteria.get(name):
                args += [option.encode(), self.criteria[name].encode("cp932")]
        if self.criteria.get("bunrui") != "10" and self.criteria.get("bunrui"):
            args += [b"--class", self.criteria["bunrui"].encode("cp932")]
        return args

    def sqlite_sql(self):
        if self.is_search:
            return "\n".join(statement_lines(self.criteria, quote="'")) + ";"
        if self.detail:
            n = self.detail["number"]
            return (f'select * from "図書" where "登録番号" = {n};\n'
                    f'select "返却予定日" from "貸出返却" where "登録番号" = {n} and "返却済" <> \'T\' limit 1;')
        return None

    def sqlite_count_sql(self):
        lines = statement_lines(self.criteria, quote="'")
        return "select count(*) from 図書\n" + "\n".join(lines[1:-1]) + ";"


def make_requests(manifest):
    words = manifest["words"]
    return [
        Request("Q1", "Q1 title, rare word", {"title1": words["rare"]}),
        Request("Q2", "Q2 title, common word", {"title1": words["common"]}),
        Request("Q3", "Q3 two keywords", {"keyword1": words["kw1"], "keyword2": words["kw2"]}),
        Request("Q4", "Q4 class 9 only", {"bunrui": "9"}),
        Request("Q4b", "Q4b class 3 only", {"bunrui": "3"}),
        Request("detail", "detail page, on loan", path_info="/Detail",
                query=f"NO={manifest['detail']['number']}", detail=manifest["detail"]),
        Request("form", "search form"),
    ]


# The UTF-8 pages (shelfra.cgi), each against the old page nearest to it: (key, label, path,
# query from the manifest's words, the old request's key, the count its page must show).
OPAC_SCRIPT_NAME = "/cgi-bin/shelfra.cgi"
OPAC_TARGET = 1.2  # at most this many times the old page's median


def make_opac_requests(manifest):
    words, expected = manifest["words"], manifest["expected"]
    escape = urllib.parse.quote
    return [
        ("form", "search page / search form", "/", "", "form", None),
        ("rare", "20-row page, rare word / Q1", "/search", "title=" + escape(words["rare"]), "Q1", expected["Q1"]),
        ("class9", "20-row page, class 9 / Q1", "/search", "class=9", "Q1", expected["Q4"]),
        ("common", "20-row page, common word / Q1", "/search", "title=" + escape(words["common"]), "Q1",
         expected["Q2"]),
        ("keywords", "20-row page, two keywords / Q1", "/search",
         "keyword=" + escape(words["kw1"] + " " + words["kw2"]), "Q1", expected["Q3"]),
        ("class9-title", "class 9 by title, 20 rows / Q1", "/search", "class=9&sort=title", "Q1", expected["Q4"]),
        ("class9-last", "class 9, last 20-row page / Q1", "/search", "class=9&page=999999", "Q1", expected["Q4"]),
        ("book", "book page / detail page, on loan", f"/book/{manifest['detail']['number']}", "", "detail", None),
        ("json-rare", "JSON search, rare word / Q1", "/api/v1/search", "title=" + escape(words["rare"]), "Q1", None),
        ("json-class9", "JSON search, class 9, 20 rows / Q1", "/api/v1/search", "class=9", "Q1", None),
        ("json-book", "JSON book / detail page", f"/api/v1/book/{manifest['detail']['number']}", "", "detail", None),
        ("isbn", "ISBN look-up / detail page", "/api/v1/isbn/{isbn}", "", "detail", None),
        ("new", "new arrivals, 20 rows / Q1", "/new", "", "Q1", None),
        ("new-atom", "new arrivals feed, 20 entries / Q1", "/new.atom", "", "Q1", None),
    ]


def opac_count_in(page):
    """The number of the UTF-8 list's count line ("3,504件中 1–20件"), or None."""
    match = re.search(rb'<p role="status">([0-9,]+)' + "件中".encode(), page)
    return int(match.group(1).replace(b",", b"")) if match else None


# ---------------------------------------------------------------------------------------------
# Running.

def cgi_env(config, request):
    """The environment a web server gives the program for `request`, with the host configuration
    `config`."""
    return {
        "GATEWAY_INTERFACE": "CGI/1.1", "SERVER_SOFTWARE": "shelfra-bench", "SERVER_NAME": "localhost",
        "SERVER_PORT": "80", "SERVER_PROTOCOL": "HTTP/1.1", "REQUEST_METHOD": "GET",
        "SCRIPT_NAME": SCRIPT_NAME, "PATH_INFO": request.path_info, "QUERY_STRING": request.query,
        "REMOTE_ADDR": "127.0.0.1", "HTTP_HOST": "localhost", "SHELFRA_CONFIG": str(config),
    }


def write_index_config(catalogue):
    """Writes books-N/shelfra-index.conf, the catalogue's configuration with [Index] Directory=index
    added (the index folder books-N/index); returns its path."""
    config = catalogue / "shelfra-index.conf"
    base = (catalogue / "shelfra.conf").read_bytes()
    config.write_bytes(base.rstrip(b"\n") + b"\n[Index]\nDirectory=index\n")
    return config


class Runner:
    def __init__(self, args):
        self.program = Path(args.program).resolve()
        self.baseline = Path(args.baseline).resolve() if args.baseline else None
        self.tools = Path(args.tools).resolve()
        self.spawn_time = self.tools / "spawn_time"
        self.ref_scan = self.tools / "ref_scan"
        self.trivial = Path(args.trivial).resolve()
        self.heap_lib = self.tools / "heap_peak.so"
        self.runs = args.runs
        self.warmup = args.warmup
        self.sqlite = None if args.no_sqlite else shutil.which("sqlite3")
        self.index = args.index
        self.scratch = Path(tempfile.mkdtemp(prefix="shelfra-bench-"))
        for tool in (self.program, self.spawn_time, self.ref_scan, self.trivial, self.heap_lib, self.baseline):
            if tool and not tool.exists():
                raise SystemExit(f"bench: {tool} is missing; run bench/run.sh")

    def measure(self, command, env, save=None, stdout="pipe", runs=None, warmup=None, child_env=()):
        """Times `command` (a list of str or bytes); returns the launcher's result dict.
        child_env: "NAME=VALUE" texts set for the command only, not for the launcher."""
        launcher = [str(self.spawn_time), "--runs", str(self.runs if runs is None else runs),
                    "--warmup", str(self.warmup if warmup is None else warmup), "--stdout", stdout]
        if save:
            launcher += ["--save", str(save)]
        for entry in child_env:
            launcher += ["--env", entry]
        done = subprocess.run(launcher + ["--"] + command, env=env, stdout=subprocess.PIPE)
        if done.returncode != 0:
            raise SystemExit(f"bench: {command[0]!r} failed (launcher status {done.returncode}): "
                             f"{done.stdout.decode(errors='replace').strip()}")
        return json.loads(done.stdout)

    def heap_peak(self, command, env):
        """Peak heap bytes of one run under the heap meter; its output goes to /dev/null."""
        report = self.scratch / "heap.txt"
        if report.exists():
            report.unlink()
        self.measure(command, env, stdout="null", runs=1, warmup=0,
                     child_env=(f"LD_PRELOAD={self.heap_lib}", f"BENCH_HEAP_OUT={report}"))
        return int(report.read_text().split()[0])

    def cgi_env(self, catalogue, request):
        return cgi_env(catalogue / ("shelfra-index.conf" if self.index else "shelfra.conf"), request)

    def prepare_index(self, catalogue, requests):
        """With --index: a configuration beside the catalogue's that adds [Index] Directory=index,
        and the operator's command shelfra-index (beside the program) run once before anything is
        timed, which makes the indexes of both tables. Returns the seconds that run took, the
        indexes' size in bytes and the run's peak resident memory in KiB."""
        write_index_config(catalogue)
        index_dir = catalogue / "index"
        shutil.rmtree(index_dir, ignore_errors=True)
        indexer = self.program.parent / "shelfra-index"
        env = self.cgi_env(catalogue, next(r for r in requests if r.is_search))
        result = self.measure([str(indexer)], env, stdout="null", runs=1, warmup=0)
        size = sum(f.stat().st_size for f in index_dir.glob("*.idx"))
        return result["wall_ms"][0] / 1000, size, result["maxrss_kb"][0]

    def bench_size(self, catalogue, manifest, requests):
        table = os.path.join(os.fsencode(catalogue), gen_catalogue.BOOK_TABLE.encode("cp932"))
        database = str(catalogue / gen_catalogue.SQLITE_FILE)
        rows = []
        if self.index:
            say(f"  {manifest['books']} books, making the index")
            self.index_build = self.prepare_index(catalogue, requests)
        for request in requests:
            say(f"  {manifest['books']} books, {request.label}")
            env = self.cgi_env(catalogue, request)
            entry = {"request": request.key, "label": request.label}
            # (name, command, stdout) of everything measured for this request.
            systems = [("program", [str(self.program)], "pipe")]
            if self.baseline:
                systems.append(("baseline", [str(self.baseline)], "pipe"))
            if request.is_search:
                for name, mode, access in REFERENCES:
                    command = [str(self.ref_scan).encode(), b"--table", table, b"--mode", mode.encode(),
                               b"--access", access.encode()]
                    systems.append((name, command + request.ref_args(), "pipe"))
            sql = request.sqlite_sql()
            if self.sqlite and sql:
                systems.append(("sqlite3", [self.sqlite, "-readonly", database, sql], "null"))
            systems.append(("trivial", [str(self.trivial)], "pipe"))

            entry["program_heap"] = self.heap_peak(systems[0][1], env)
            outputs = {}
            for name, command, stdout in systems:  # warm-up; the first run's output is kept
                outputs[name] = self.scratch / f"{request.key}.{name}.out"
                self.measure(command, env, save=outputs[name], stdout=stdout, runs=0)
            # Measured runs in turns, so that a change in the machine's load touches every
            # system alike and the ratios stay fair; the program and the baseline also take
            # turns at going first.
            for run in range(self.runs):
                turn = systems
                if self.baseline and run % 2:
                    turn = [systems[1], systems[0]] + systems[2:]
                for name, command, stdout in turn:
                    result = self.measure(command, env, stdout=stdout, runs=1, warmup=0)
                    if name not in entry:
                        entry[name] = result
                    else:
                        for key, values in result.items():
                            entry[name][key] += values

            page = outputs["program"].read_bytes()
            entry["page_bytes"] = len(page)
            if self.baseline:
                entry["program_md5"] = hashlib.md5(page).hexdigest()
                entry["baseline_md5"] = hashlib.md5(outputs["baseline"].read_bytes()).hexdigest()
            entry["program_count"] = count_in(page)
            entry["program_ok"] = page.startswith(b"Status: 200")
            if request.is_search:
                for name, _, _ in REFERENCES:
                    entry[f"{name}_count"] = count_in(outputs[name].read_bytes())
                entry["expected"] = manifest["expected"][request.key]
            elif request.detail:
                shown = LOAN_TEXT + request.detail["due"].encode("ascii")
                entry["program_ok"] = entry["program_ok"] and shown in page
            else:
                entry["program_ok"] = entry["program_ok"] and b'name="title1"' in page.lower()
            if "sqlite3" in entry:
                if request.is_search:
                    counted = subprocess.run([self.sqlite, "-readonly", database, request.sqlite_count_sql()],
                                             check=True, stdout=subprocess.PIPE).stdout
                    entry["sqlite3_count"] = int(counted.strip())
                else:
                    answer = subprocess.run([self.sqlite, "-readonly", database, sql],
                                            check=True, stdout=subprocess.PIPE).stdout
                    due = request.detail["due"].replace("/", "-").encode("ascii")
                    entry["sqlite3_ok"] = answer.rstrip().endswith(due)
            rows.append(entry)
        return rows

    def bench_harvest(self, catalogue):
        """A whole ListRecords harvest by shelfra.cgi, a process per page, and its 20-row class 9
        page beside it; nothing when shelfra.cgi is not beside the program."""
        opac = self.program.parent / "shelfra.cgi"
        if not opac.exists():
            return None
        say(f"  {catalogue.name}: a whole OAI-PMH harvest")
        config = catalogue / ("shelfra-index.conf" if self.index else "shelfra.conf")
        result = oai_harvest.harvest(opac, catalogue, cgi_env, config=config)
        result["result_page"] = oai_harvest.result_page(opac, catalogue, cgi_env, config=config, runs=self.runs)
        return result

    def bench_opac(self, catalogue, manifest, requests):
        """shelfra.cgi's pages, each run in turns with the old page nearest to it; nothing when
        shelfra.cgi is not beside the program."""
        opac = self.program.parent / "shelfra.cgi"
        if not opac.exists():
            return []
        old = {r.key: r for r in requests}
        rows = []
        for key, label, path, query, old_key, count in make_opac_requests(manifest):
            if old_key not in old:
                continue
            if "{isbn}" in path:  # an ISBN of the rare word's books, as the interface gives it
                env = dict(self.cgi_env(catalogue, old[old_key]), SCRIPT_NAME=OPAC_SCRIPT_NAME,
                           PATH_INFO="/api/v1/search", QUERY_STRING="per=100&title=" + urllib.parse.quote(manifest["words"]["rare"]))
                answer = subprocess.run([str(opac)], env=env, stdout=subprocess.PIPE, check=False).stdout
                books = json.loads(answer.split(b"\r\n\r\n", 1)[1])["books"]
                path = path.replace("{isbn}", next(b["isbn"] for b in books if b["isbn"]))
            say(f"  {manifest['books']} books, shelfra.cgi: {label}")
            env = dict(self.cgi_env(catalogue, old[old_key]), SCRIPT_NAME=OPAC_SCRIPT_NAME, PATH_INFO=path,
                       QUERY_STRING=query)
            systems = [("opac", [str(opac)], env), ("old", [str(self.program)], self.cgi_env(catalogue, old[old_key]))]
            entry = {"request": key, "label": label, "old_request": old_key}
            saved = self.scratch / f"opac.{key}.out"
            self.measure(systems[0][1], env, save=saved, runs=0)
            self.measure(systems[1][1], systems[1][2], runs=0)
            for run in range(self.runs):  # in turns, the one going first changing
                for name, command, system_env in (systems if run % 2 == 0 else systems[::-1]):
                    result = self.measure(command, system_env, runs=1, warmup=0)
                    if name not in entry:
                        entry[name] = result
                    else:
                        for k, values in result.items():
                            entry[name][k] += values
            page = saved.read_bytes()
            entry["page_bytes"] = len(page)
            entry["ok"] = page.startswith(b"Status: 200") and (count is None or opac_count_in(page) == count)
            if key == "book":
                entry["ok"] = entry["ok"] and manifest["detail"]["due"][-5:].encode() in page
            rows.append(entry)
        return rows


def count_in(page):
    """The number of the count line in a result page, or None."""
    at = page.find(COUNT_HEAD)
    if at < 0:
        return None
    at += len(COUNT_HEAD)
    end = page.find(COUNT_TAIL, at)
    try:
        return int(page[at:end])
    except ValueError:
        return None


def say(text):
    print(text, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------------------------
# Catalogues.

def ensure_catalogue(data_dir, books, seed):
    """The folder of the N-book catalogue, generated when missing or stale; returns (dir, manifest)."""
    folder = data_dir / f"books-{books}"
    manifest_path = folder / gen_catalogue.MANIFEST
    digest = gen_catalogue.generator_digest()
    if manifest_path.exists():
        manifest = json.loads(manifest_path.read_text(encoding="utf-8"))
        if manifest.get("generator") == digest and manifest.get("seed") == seed:
            return folder, manifest
    data_dir.mkdir(parents=True, exist_ok=True)
    staging = Path(tempfile.mkdtemp(prefix=f".books-{books}-", dir=data_dir))
    staging.chmod(0o755)  # readable by a web server's user, like a real catalogue folder
    say(f"bench: generating {books} books in {folder} ...")
    started = datetime.datetime.now()
    try:
        manifest = gen_catalogue.generate(books, staging, seed)
        if folder.exists():
            shutil.rmtree(folder)
        staging.rename(folder)
    finally:
        if staging.exists():
            shutil.rmtree(staging)
    say(f"bench: generated in {(datetime.datetime.now() - started).total_seconds():.0f} s")
    return folder, manifest


# ---------------------------------------------------------------------------------------------
# Report.

def median(result):
    return statistics.median(result["wall_ms"])


def timing(result):
    times = result["wall_ms"]
    return f"{statistics.median(times):.1f} ({min(times):.1f}–{max(times):.1f})"


def versus(entry, key):
    """A reference's median and the program's ratio to it: "58.1 (×2.24)"."""
    if not entry.get(key):
        return "—"
    return f"{median(entry[key]):.1f} (×{median(entry['program']) / median(entry[key]):.2f})"


def check(entry):
    if not entry["program_ok"]:
        return "PROGRAM FAILED"
    if entry.get("baseline_md5", entry.get("program_md5")) != entry.get("program_md5"):
        return "PAGE DIFFERS FROM THE BASELINE'S"
    if "expected" not in entry:
        return "ok" if entry.get("sqlite3_ok", True) else "sqlite3 differs"
    counts = {"program": entry["program_count"], "expected": entry["expected"]}
    for name, _, _ in REFERENCES:
        counts[name] = entry[f"{name}_count"]
    if "sqlite3_count" in entry:
        counts["sqlite3"] = entry["sqlite3_count"]
    if len(set(counts.values())) == 1:
        return "ok"
    return "MISMATCH " + " ".join(f"{k}={v}" for k, v in counts.items())


def before_after(entry):
    """The baseline's and the program's cells: before ms, after ms, after/before, the md5 of
    each one's page."""
    before, after = median(entry["baseline"]), median(entry["program"])
    return (f"| {timing(entry['baseline'])} | {timing(entry['program'])} | {after / before:.2f} "
            f"| `{entry['baseline_md5']}` | `{entry['program_md5']}` ")


def report_table(results):
    baseline = any("baseline" in e for size in results for e in size["rows"])
    head = ("| books | request | rows | program ms median (min–max) | CPU ms | peak RSS MiB | heap MiB | page MiB "
            "| trivial CGI | sqlite3 | memmem ref | prefilter ref | prefilter read() ref | counts |")
    if baseline:
        head += " before ms | after ms | after/before | page md5 before | page md5 after |"
    lines = [head, "|" + "---|" * (head.count("|") - 1)]
    for size in results:
        for e in size["rows"]:
            rss = max(e["program"]["maxrss_kb"]) / 1024
            lines.append(
                f"| {size['books']:,} | {e['label']} | {e.get('expected', '')} | {timing(e['program'])} "
                f"| {statistics.median(e['program']['cpu_ms']):.1f} | {rss:.1f} | {e['program_heap'] / 1048576:.2f} "
                f"| {e.get('page_bytes', 0) / 1048576:.2f} | {versus(e, 'trivial')} | {versus(e, 'sqlite3')} "
                f"| {versus(e, 'memmem')} | {versus(e, 'prefilter')} | {versus(e, 'prefilter_read')} | {check(e)} "
                + (before_after(e) if baseline else "") + "|")
    return "\n".join(lines)


def harvest_table(results):
    lines = ["## A whole OAI-PMH harvest (ListRecords, oai_dc)", "",
             "| books | pages | records | MB | total s | first page ms | page ms median (p90) | 20-row page ms |",
             "|---|---|---|---|---|---|---|---|"]
    for size in results:
        h = size.get("harvest")
        if not h:
            continue
        ms = sorted(1000 * p for p in h["pages"])
        page = statistics.median(1000 * p for p in h["result_page"])
        lines.append(f"| {size['books']:,} | {len(ms)} | {h['records']:,} | {h['bytes'] / 1e6:.0f} | {h['total']:.1f} "
                     f"| {1000 * h['pages'][0]:.1f} | {statistics.median(ms):.1f} ({ms[int(0.9 * (len(ms) - 1))]:.1f}) "
                     f"| {page:.1f} |")
    return "\n".join(lines)


def opac_table(results):
    lines = ["## shelfra.cgi against vovivavi.exe", "",
             "| books | page / old page | shelfra.cgi ms median (min–max) | vovivavi.exe ms | ratio | target | "
             "page KiB | check |", "|---|---|---|---|---|---|---|---|"]
    for size in results:
        for e in size.get("opac", []):
            ratio = median(e["opac"]) / median(e["old"])
            lines.append(f"| {size['books']:,} | {e['label']} | {timing(e['opac'])} | {timing(e['old'])} "
                         f"| {ratio:.2f} | {'met' if ratio <= OPAC_TARGET else 'MISSED'} "
                         f"| {e['page_bytes'] / 1024:.1f} | {'ok' if e['ok'] else 'FAILED'} |")
    return "\n".join(lines)


OPAC_LEGEND = """\
- Each page of the UTF-8 pages (shelfra.cgi) and the old page nearest to it, run in turns on the
  same catalogue and configuration; ratio: shelfra.cgi's median over vovivavi.exe's (target: at
  most {target}). Both 20-row pages are measured against the old rare-word list (Q1). check: a
  200 whose count line agrees with the generator (the lists), the due date shown (the book).
"""


def machine_text():
    model = ""
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    commit = subprocess.run(["git", "-C", str(ROOT), "describe", "--always", "--dirty"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.strip()
    load = " ".join(Path("/proc/loadavg").read_text().split()[:3]) if Path("/proc/loadavg").exists() else "?"
    return (f"{os.cpu_count()} CPUs ({model}), {platform.system()} {platform.release()}, "
            f"commit {commit or '?'}, load average at the end {load}")


LEGEND = """\
- Every figure is the wall time in ms of a whole process, from spawn to exit, standard output
  read through a pipe as a web server reads it (sqlite3: output to /dev/null); page cache warm
  ({warmup} warm-up run(s), then {runs} measured runs taken in turns with the references;
  median and min–max). CPU ms: the program's user + system time (median), steadier than the
  wall time on a busy machine.
- Reference cells: the reference's median, and in brackets the program's median divided by it
  (above 1: the program is slower).
- peak RSS: largest `ru_maxrss` of the measured runs; it counts the touched pages of mapped files.
  heap: peak bytes held by malloc in one extra run under bench/heap_peak.c (memory beyond the
  mapped files); page: the size of the program's answer, which the heap holds whole before it
  goes out.
- trivial CGI: a C++ CGI program built and linked as the program is (`bench/trivial.cpp`) that
  reads its query and writes a small page: the floor of any request.
- memmem ref: maps the book table, `memmem` over each searched field of each record, sorts the
  matches by the title reading and writes the rows (for Q4/Q4b, which have no words: scan of the
  class field, sort, write). prefilter ref: the same, but `memchr` of the words' rarest byte over
  the whole record area first (the scanning limit). prefilter read() ref: the same prefilter over
  the table read in 1 MB chunks instead of mapped, copying out the matching rows' columns.
- sqlite3: the same statement (UTF-8, `LIKE`, `ORDER BY 書名ｶﾅ`) by the sqlite3 command-line
  program over the same live rows, imported once, no index.
- counts: the program's count line, the three references, sqlite3's `count(*)` and the
  generator's expectation agree ("ok"). The planted words are kanji, so the counts do not depend
  on kana, width or case folding in `LIKE`.
"""


BASELINE_LEGEND = """\
- before / after: the baseline (`--baseline`, an older build: {baseline}) and the program, each
  request run with both in turn, the one going first changing from run to run; median and
  min–max ms, and after/before (below 1: the program has become faster). The md5 of the page
  each one wrote in its warm-up run; a page that differs fails the run ("counts").
"""


def write_report(path, results, args):
    now = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    sizes = ", ".join(f"{r['books']:,} books ({r['table_mb']:.0f} MB table, {r['sqlite_mb']:.0f} MB sqlite, "
                      f"{r['blank_padding'] * 100:.0f} % blank)" for r in results)
    if args.index:
        sizes += ". Search index: " + ", ".join(
            f"{r['books']:,} books {r.get('index_mb', 0):.0f} MB, made by shelfra-index in "
            f"{r.get('index_build_s', 0):.1f} s at a peak of {r.get('index_rss_mb', 0):.0f} MiB resident"
            for r in results)
    else:
        sizes += ". No search index"
    text = (f"# Catalogue search benchmark\n\n{now}; {machine_text()}.\n\nCatalogues: {sizes}.\n\n"
            f"{report_table(results)}\n\n{LEGEND.format(runs=args.runs, warmup=args.warmup)}")
    if any(r.get("harvest") for r in results):
        text += f"\n{harvest_table(results)}\n"
    if any(r.get("opac") for r in results):
        text += f"\n{opac_table(results)}\n\n{OPAC_LEGEND.format(target=OPAC_TARGET)}"

    if args.baseline:
        text += BASELINE_LEGEND.format(baseline=os.path.basename(args.baseline))
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    Path(path).write_text(text, encoding="utf-8")
    Path(path).with_suffix(".json").write_text(json.dumps(results, ensure_ascii=False, indent=1), encoding="utf-8")
    return text


def main(argv=None):
    parser = argparse.ArgumentParser(description="Benchmark of the catalogue search program.")
    parser.add_argument("--program", required=True)
    parser.add_argument("--baseline", metavar="PROGRAM",
                        help="an older build of the program, run in turns with it; every page must be the same")
    parser.add_argument("--tools", required=True, help="folder of spawn_time, ref_scan, heap_peak.so")
    parser.add_argument("--trivial", required=True, help="the trivial CGI program, built as the program is")
    parser.add_argument("--data", required=True, help="folder of the generated catalogues")
    parser.add_argument("--report", required=True, help="the Markdown report to write (raw data beside it, .json)")
    parser.add_argument("--sizes", default="10000,100000", help="book counts, comma-separated")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--warmup", type=int, default=1)
    parser.add_argument("--only", default="", help="request keys to run, e.g. Q1,Q4,detail")
    parser.add_argument("--no-sqlite", action="store_true", help="skip sqlite3")
    parser.add_argument("--seed", type=int, default=SEED)
    parser.add_argument("--index", action="store_true",
                        help="configure [Index] Directory (books-N/index) and make the index before timing")
    args = parser.parse_args(argv)
    sizes = [int(s.replace("_", "")) for s in args.sizes.split(",") if s.strip()]
    only = {k.strip() for k in args.only.split(",") if k.strip()}

    runner = Runner(args)
    results = []
    try:
        for books in sizes:
            folder, manifest = ensure_catalogue(Path(args.data).resolve(), books, args.seed)
            requests = [r for r in make_requests(manifest) if not only or r.key in only]
            table = os.path.join(os.fsencode(folder), gen_catalogue.BOOK_TABLE.encode("cp932"))
            results.append({
                "books": books,
                "table_mb": os.path.getsize(table) / 1e6,
                "sqlite_mb": os.path.getsize(folder / gen_catalogue.SQLITE_FILE) / 1e6,
                "blank_padding": manifest["blank_padding"],
                "rows": runner.bench_size(folder, manifest, requests),
            })
            results[-1]["opac"] = runner.bench_opac(folder, manifest, make_requests(manifest))
            results[-1]["harvest"] = runner.bench_harvest(folder)
            if args.index:
                results[-1]["index_build_s"], results[-1]["index_mb"] = runner.index_build[0], runner.index_build[1] / 1e6
                results[-1]["index_rss_mb"] = runner.index_build[2] / 1024
    finally:
        shutil.rmtree(runner.scratch, ignore_errors=True)
    text = write_report(args.report, results, args)
    print(text)
    print(f"report written to {args.report}", file=sys.stderr)
    bad = [(r["books"], e) for r in results for e in r["rows"] if check(e) != "ok"]
    bad += [(r["books"], e) for r in results for e in r.get("opac", []) if not e["ok"]]
    for books, e in bad:
        say(f"bench: {books:,} books, {e['label']}: {check(e) if 'program_ok' in e else 'FAILED'}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
