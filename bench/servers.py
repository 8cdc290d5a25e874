#!/usr/bin/env python3
"""Web-server benchmark: the catalogue search beside Groonga over the same generated catalogue,
in one run, side by side (bench/run.sh --servers; see bench/README.md):

- a process per query: the `groonga` command answering one `select` against vovivavi.exe as a
  CGI program (index on), both started by bench/spawn_time, in turns;
- one keep-alive HTTP client (median of --runs): Groonga's HTTP server beside vovivavi.exe and
  shelfra.cgi under lighttpd, each as CGI (mod_cgi) and as FastCGI (mod_fastcgi, bin-path),
  for the cheapest answer, the detail page and Q1-Q4, with the bytes of every answer;
- a load run of wrk (--connections, --duration) on CGI and FastCGI for the form and the
  rare-word search: requests/s, latency p50/p90/p99 and the FastCGI processes' resident memory
  before and after.

Usage:
  servers.py --program EXE --tools DIR --data DIR --build DIR --report FILE
             [--sizes 100000] [--runs 15] [--duration 30] [--connections 16] [--fastcgi-procs 2] [--no-load]

Every server it starts runs on 127.0.0.1 and is stopped by its PID at the end, also on failure
or on a signal. A count that differs from the generator's expectation, or an answer that is not
the page asked for, makes the exit status 1; nothing asserts on times.
"""
import argparse
import datetime
import json
import signal
import statistics
import subprocess
import sys
import urllib.parse
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))
import bench  # noqa: E402
import groonga_peer  # noqa: E402
import servers_report  # noqa: E402
import web_servers  # noqa: E402

SEARCHES = ("Q1", "Q2", "Q3", "Q4")
# The rows of the HTTP table: (key, label, shelfra.cgi's page of bench.make_opac_requests).
HTTP_ROWS = (("cheapest", "cheapest answer (Groonga status / search form)", "form"),
             ("detail", "detail page (Groonga: none)", "book"),
             ("Q1", "Q1 title, rare word", "rare"), ("Q2", "Q2 title, common word", "common"),
             ("Q3", "Q3 two keywords", "keywords"), ("Q4", "Q4 class 9 only", "class9"))
# The load run's requests: (key, label, the HTTP row it repeats).
LOAD_ROWS = (("form", "search form", "cheapest"), ("rare", "Q1 rare word", "Q1"))
PROGRAMS = ("vovivavi.exe", "shelfra.cgi")
OPAC_KEY = {key: opac_key for key, _, opac_key in HTTP_ROWS}


def say(text):
    print(text, file=sys.stderr, flush=True)


def served_config(catalogue, folder):
    """A host configuration in `folder` for the catalogue (its tables named by an absolute alias,
    so the catalogue's own folder is only read) with the search index in folder/index."""
    folder.mkdir(parents=True, exist_ok=True)
    text = (catalogue / "shelfra.conf").read_bytes()
    if b"Vadoz=." not in text:
        raise SystemExit(f"servers: {catalogue / 'shelfra.conf'} has no alias Vadoz=.")
    config = folder / "shelfra.conf"
    config.write_bytes(text.replace(b"Vadoz=.", b"Vadoz=" + bytes(catalogue.resolve())).rstrip(b"\r\n")
                       + b"\r\n[Index]\r\nDirectory=index\r\n")
    return config


def spawn(tools, argv, env, runs, save=None, warmup=0):
    """bench/spawn_time's result of `argv` (wall_ms, cpu_ms, bytes, ... lists)."""
    launcher = [str(tools / "spawn_time"), "--runs", str(runs), "--warmup", str(warmup)]
    if save:
        launcher += ["--save", str(save)]
    done = subprocess.run(launcher + ["--"] + [str(a) for a in argv], env=env, stdout=subprocess.PIPE)
    if done.returncode != 0:
        raise SystemExit(f"servers: {argv[0]} failed (launcher status {done.returncode})")
    return json.loads(done.stdout)


def in_turns(systems, runs, measure):
    """{name: [ms, ...]}: `measure(name, thing)` of every system once per run, the one going first
    changing from run to run, so that a change of the machine's load falls on all alike."""
    times = {name: [] for name, _ in systems}
    for run in range(runs):
        for name, thing in (systems if run % 2 == 0 else systems[::-1]):
            times[name].append(measure(name, thing))
    return times


class SizeRun:
    """Everything measured at one catalogue size."""

    def __init__(self, args, books):
        self.args = args
        self.books = books
        self.tools = Path(args.tools).resolve()
        self.program = Path(args.program).resolve()
        self.opac = self.program.parent / "shelfra.cgi"
        self.work = Path(args.build).resolve() / "servers" / f"books-{books}"
        self.catalogue, self.manifest = bench.ensure_catalogue(Path(args.data).resolve(), books, args.seed)
        self.requests = {r.key: r for r in bench.make_requests(self.manifest)}
        self.opac_pages = {key: (path, query, count) for key, _, path, query, _, count
                           in bench.make_opac_requests(self.manifest)}
        self.result = {"books": books, "problems": []}

    def problem(self, text):
        say(f"servers: {self.books:,} books: {text}")
        self.result["problems"].append(text)

    # -- preparing ---------------------------------------------------------------------------

    def prepare(self):
        self.config = served_config(self.catalogue, self.work / "served")
        say(f"  {self.books:,} books: making the search index (shelfra-index)")
        made = spawn(self.tools, [self.program.parent / "shelfra-index"], self.cgi_env(self.requests["Q1"]), runs=1)
        self.result["index_s"] = made["wall_ms"][0] / 1000
        say(f"  {self.books:,} books: the Groonga database")
        self.database, seconds = groonga_peer.ensure_database(self.catalogue, self.manifest, self.work / "groonga")
        self.result["groonga_load_s"] = seconds
        self.result["groonga_mb"] = sum(f.stat().st_blocks * 512 for f in self.database.parent.glob("books.db*")) / 1e6

    def cgi_env(self, request):
        return bench.cgi_env(self.config, request)

    # -- a process per query -----------------------------------------------------------------

    def process_per_query(self):
        """The form beside `groonga DB status` (the cost of starting each), then Q1-Q4."""
        rows = []
        for key in ("cheapest",) + SEARCHES:
            request = self.requests["form" if key == "cheapest" else key]
            label = "cheapest answer (Groonga status / search form)" if key == "cheapest" else request.label
            say(f"  {self.books:,} books, a process per query: {label}")
            env = self.cgi_env(request)
            if key == "cheapest":
                groonga = ["groonga", self.database, "status"]
            else:
                groonga = groonga_peer.command_line("groonga", self.database,
                                                    groonga_peer.select_params(request.criteria))
            systems = [("program", [self.program]), ("groonga", groonga)]
            saved = {name: self.work / f"proc.{key}.{name}.out" for name, _ in systems}
            for name, argv in systems:
                spawn(self.tools, argv, env, runs=0, warmup=1, save=saved[name])
            results = {name: {"wall_ms": [], "cpu_ms": []} for name, _ in systems}

            def measure(name, argv):
                one = spawn(self.tools, argv, env, runs=1)
                results[name]["cpu_ms"] += one["cpu_ms"]
                results[name]["wall_ms"] += one["wall_ms"]
                return one["wall_ms"][0]

            in_turns(systems, self.args.runs, measure)
            page, answer = saved["program"].read_bytes(), saved["groonga"].read_bytes()
            row = {"request": key, "label": label, **results, "program_bytes": len(page), "groonga_bytes": len(answer)}
            if key == "cheapest":
                if b'name="title1"' not in page.lower() or not answer.startswith(b"[[0,"):
                    self.problem(f"process per query, {label}: not the form or not Groonga's status")
            else:
                expected = row["expected"] = self.manifest["expected"][key]
                row["program_count"] = bench.count_in(page)
                counted = groonga_peer.answer_count(answer)
                if row["program_count"] != expected or counted != (expected, min(expected, groonga_peer.LIST_LIMIT)):
                    self.problem(f"process per query {key}: program {row['program_count']}, groonga {counted}, "
                                 f"expected {expected}")
                row["groonga_count"] = list(counted or [])
            rows.append(row)
        self.result["process"] = rows

    # -- one keep-alive client ---------------------------------------------------------------

    def http_paths(self, key, opac_key):
        """{system: path} of one row of the HTTP table."""
        paths = {}
        if key == "cheapest":
            paths["groonga"] = groonga_peer.http_path([], "status")
        elif key in SEARCHES:
            paths["groonga"] = groonga_peer.http_path(groonga_peer.select_params(self.requests[key].criteria))
        old = self.requests["form" if key == "cheapest" else key]
        old_tail = "vovivavi.exe" + old.path_info + (f"?{old.query}" if old.query else "")
        path, query, _ = self.opac_pages[opac_key]
        new_tail = "shelfra.cgi" + path + (f"?{query}" if query else "")
        for mode, prefix in (("cgi", web_servers.CGI_PREFIX), ("fastcgi", web_servers.FASTCGI_PREFIX)):
            if mode == "fastcgi" and not self.fastcgi:
                continue
            paths[f"old_{mode}"] = prefix + old_tail
            paths[f"new_{mode}"] = prefix + new_tail
        return paths

    def answer_ok(self, system, key, opac_key, status, body):
        """Whether `body` is the answer asked for: its count (the generator's), the due date, the form."""
        if status != 200:
            return False
        expected = self.manifest["expected"].get(key)
        if system == "groonga":
            if key == "cheapest":
                return body.startswith(b"[[0,")
            return groonga_peer.answer_count(body) == (expected, min(expected, groonga_peer.LIST_LIMIT))
        due = self.manifest["detail"]["due"]
        if system.startswith("old"):
            if key == "cheapest":
                return b'name="title1"' in body.lower()
            if key == "detail":
                return bench.LOAN_TEXT + due.encode() in body
            return bench.count_in(body) == expected
        if key == "detail":
            return due[-5:].encode() in body
        count = self.opac_pages[opac_key][2]
        return count is None or bench.opac_count_in(body) == count

    def keep_alive(self):
        clients = {"groonga": web_servers.Client(self.groonga.port), "lighttpd": web_servers.Client(self.lighttpd.port)}
        rows = []
        try:
            floor = "/" + web_servers.STATIC_PAGE
            clients["lighttpd"].get(floor)
            self.result["static_ms"] = [clients["lighttpd"].get(floor)[2] for _ in range(self.args.runs)]
            for key, label, opac_key in HTTP_ROWS:
                say(f"  {self.books:,} books, one keep-alive client: {label}")
                paths = self.http_paths(key, opac_key)
                row = {"request": key, "label": label, "expected": self.manifest["expected"].get(key), "bytes": {},
                       "ok": {}, "ms": {}}
                client_of = {s: clients["groonga" if s == "groonga" else "lighttpd"] for s in paths}
                for system, path in paths.items():  # warm-up, checked
                    status, body, _ = client_of[system].get(path)
                    row["bytes"][system] = len(body)
                    row["ok"][system] = self.answer_ok(system, key, opac_key, status, body)
                    if not row["ok"][system]:
                        self.problem(f"{label}, {system}: status {status}, {body[:160]!r}")
                row["ms"] = in_turns(list(paths.items()), self.args.runs,
                                     lambda system, path: client_of[system].get(path)[2])
                rows.append(row)
        finally:
            self.result["connects"] = {name: c.connects for name, c in clients.items()}
            for client in clients.values():
                client.close()
        self.result["http"] = rows

    # -- load --------------------------------------------------------------------------------

    def load(self):
        http = {r["request"]: r for r in self.result["http"]}
        runs = []
        for program in PROGRAMS:
            for key, label, http_key in LOAD_ROWS:
                paths = self.http_paths(http_key, OPAC_KEY[http_key])
                side = "old" if program == "vovivavi.exe" else "new"
                run = {"program": program, "request": key, "label": label}
                for mode in ("cgi", "fastcgi"):
                    path = paths.get(f"{side}_{mode}")
                    if path is None or not http[http_key]["ok"].get(f"{side}_{mode}"):
                        continue
                    say(f"  {self.books:,} books, load: {program} {mode} {label}, {self.args.duration} s")
                    if mode == "fastcgi":
                        pids = web_servers.fastcgi_pids(self.lighttpd, self.opac if side == "new" else self.program)
                        run["pids"] = pids
                        run["rss_before_kb"] = [web_servers.resident_kb(p) for p in pids]
                    url = f"http://127.0.0.1:{self.lighttpd.port}{path}"
                    run[mode] = web_servers.run_wrk(url, self.args.duration, self.args.connections)
                    if mode == "fastcgi":
                        run["rss_after_kb"] = [web_servers.resident_kb(p) for p in pids]
                    if run[mode]["non_2xx"] or run[mode]["socket_errors"]:
                        self.problem(f"load {program} {mode} {label}: {run[mode]['non_2xx']} non-2xx answers, "
                                     f"{run[mode]['socket_errors']} socket errors")
                runs.append(run)
        self.result["load"] = runs

    # -- the whole size ----------------------------------------------------------------------

    def run(self, servers):
        self.prepare()
        self.process_per_query()
        run_dir = self.work / "lighttpd"
        programs = [self.program, self.opac]
        self.fastcgi = self.args.fastcgi_procs > 0
        self.lighttpd = None
        if self.fastcgi:
            try:
                self.lighttpd = web_servers.start_lighttpd(run_dir, self.config, programs, self.args.fastcgi_procs)
                servers.append(self.lighttpd)
                failure = self.fastcgi_probe()
            except RuntimeError as error:
                failure = str(error)
            if failure:
                log = (run_dir / "error.log").read_text(errors="replace").strip().splitlines()
                said = [line for line in log if "backend" in line] or log or ["?"]
                self.problem(f"FastCGI does not answer ({failure}; lighttpd: {said[-1]}); CGI only")
                self.result["fastcgi_missing"] = failure
                if self.lighttpd:
                    self.lighttpd.stop()
                    servers.remove(self.lighttpd)
                    self.lighttpd = None
                self.fastcgi = False
        if self.lighttpd is None:
            self.lighttpd = web_servers.start_lighttpd(run_dir, self.config, programs, 0)
            servers.append(self.lighttpd)
        self.result["fastcgi"] = self.fastcgi
        self.groonga = web_servers.start_groonga(self.database, self.work / "groonga-http.log")
        servers.append(self.groonga)
        self.keep_alive()
        self.groonga.stop()
        servers.remove(self.groonga)
        if self.args.duration > 0:
            self.load()
        self.lighttpd.stop()
        servers.remove(self.lighttpd)
        return self.result

    def fastcgi_probe(self):
        """None when both programs answer the search form as FastCGI, else what went wrong."""
        client = web_servers.Client(self.lighttpd.port, timeout=30)
        paths = self.http_paths("cheapest", OPAC_KEY["cheapest"])
        try:
            for system in ("old_fastcgi", "new_fastcgi"):
                status, _, _ = client.get(paths[system])
                if status != 200:
                    return f"{paths[system]}: status {status}"
        except OSError as error:
            return f"no answer: {error}"
        finally:
            client.close()
        return None


def end_on_signal(signum, _frame):
    raise SystemExit(128 + signum)


def main(argv=None):
    parser = argparse.ArgumentParser(description="The catalogue search beside Groonga through a web server.")
    parser.add_argument("--program", required=True, help="vovivavi.exe (shelfra.cgi and shelfra-index beside it)")
    parser.add_argument("--tools", required=True, help="folder of spawn_time")
    parser.add_argument("--data", required=True, help="folder of the generated catalogues")
    parser.add_argument("--build", required=True, help="build folder: the servers' folders, the Groonga databases")
    parser.add_argument("--report", required=True, help="the Markdown report (raw figures beside it, .json)")
    parser.add_argument("--sizes", default="100000", help="book counts, comma-separated")
    parser.add_argument("--runs", type=int, default=15, help="measured runs of every request (medians)")
    parser.add_argument("--duration", type=int, default=30, help="seconds of each load run (0: no load run)")
    parser.add_argument("--connections", type=int, default=16, help="connections of the load run")
    parser.add_argument("--fastcgi-procs", type=int, default=2, help="FastCGI processes per program (0: CGI only)")
    parser.add_argument("--no-load", action="store_true", help="no load run (as --duration 0)")
    parser.add_argument("--seed", type=int, default=bench.SEED)
    args = parser.parse_args(argv)
    if args.no_load:
        args.duration = 0
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(signum, end_on_signal)
    sizes = [int(s.replace("_", "")) for s in args.sizes.split(",") if s.strip()]
    started = datetime.datetime.now()
    load_at_start = Path("/proc/loadavg").read_text().split()[:3]
    results, servers = [], []
    try:
        for books in sizes:
            results.append(SizeRun(args, books).run(servers))
    finally:
        for server in servers:
            server.stop()
    text = servers_report.write(args.report, results, args, started, " ".join(load_at_start))
    print(text)
    say(f"report written to {args.report}")
    problems = [p for r in results for p in r["problems"] if "FastCGI does not answer" not in p]
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
