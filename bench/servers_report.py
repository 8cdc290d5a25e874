#!/usr/bin/env python3
"""The report of the web-server benchmark (bench/servers.py): its tables in Markdown, the
speed-ups against Groonga and whether the targets hold, and every figure as JSON beside it."""
import json
import statistics
from pathlib import Path

import bench

SYSTEMS = (("groonga", "Groonga HTTP"), ("old_cgi", "vovivavi.exe CGI"), ("old_fastcgi", "vovivavi.exe FastCGI"),
           ("new_cgi", "shelfra.cgi CGI"), ("new_fastcgi", "shelfra.cgi FastCGI"))
# The targets: the most ms of the form and the detail page as FastCGI; the least speed-up of a
# search over Groonga's HTTP server and over its command; the least FastCGI / CGI requests/s
# under load, per request.
PAGE_MS = 0.3
SEARCHES = ("Q1", "Q2", "Q3", "Q4")
HTTP_SPEEDUP = 2.0
PROCESS_SPEEDUP = 3.0
LOAD_GAIN = {"form": 10.0, "rare": 4.0}


def med(values):
    return statistics.median(values)


def timing(values):
    return f"{med(values):.2f} ({min(values):.2f}–{max(values):.2f})"


def speedup(theirs_ms, ours_ms, theirs_bytes=None, ours_bytes=None):
    """How many times faster ours is than theirs: by time, or by time per byte when both byte
    counts are given (answers of different rows)."""
    if theirs_bytes is not None and ours_bytes is not None:
        return (theirs_ms / theirs_bytes) / (ours_ms / ours_bytes)
    return theirs_ms / ours_ms


def http_speedups(row):
    """{side: (speed-up over Groonga, "ms" or "per byte", the mode it is of)} of an HTTP row with a
    Groonga answer: vovivavi.exe's lists carry Groonga's rows (by time), shelfra.cgi's 20-row
    pages do not (per byte); FastCGI when measured, else CGI."""
    if "groonga" not in row["ms"]:
        return {}
    found = {}
    for side in ("old", "new"):
        mode = "fastcgi" if f"{side}_fastcgi" in row["ms"] else "cgi"
        system = f"{side}_{mode}"
        if system not in row["ms"]:
            continue
        ours, theirs = med(row["ms"][system]), med(row["ms"]["groonga"])
        if side == "old" and row["request"] != "cheapest":
            found[side] = (speedup(theirs, ours), "ms", mode)
        else:
            found[side] = (speedup(theirs, ours, row["bytes"]["groonga"], row["bytes"][system]), "per byte", mode)
    return found


def process_table(results):
    lines = ["| books | request | rows | vovivavi.exe CGI ms median (min–max) | CPU ms | `groonga` command ms | CPU ms "
             "| groonga ÷ program | answer KiB program / groonga | counts program / groonga |",
             "|---|---|---|---|---|---|---|---|---|---|"]
    for size in results:
        for r in size.get("process", []):
            ratio = med(r["groonga"]["wall_ms"]) / med(r["program"]["wall_ms"])
            counts = (f"{r['program_count']} / {'/'.join(map(str, r['groonga_count'])) or '—'}"
                      if "expected" in r else "—")
            rows = f"{r['expected']:,}" if "expected" in r else ""
            lines.append(f"| {size['books']:,} | {r['label']} | {rows} "
                         f"| {timing(r['program']['wall_ms'])} | {med(r['program']['cpu_ms']):.1f} "
                         f"| {timing(r['groonga']['wall_ms'])} | {med(r['groonga']['cpu_ms']):.1f} | ×{ratio:.2f} "
                         f"| {r['program_bytes'] / 1024:.1f} / {r['groonga_bytes'] / 1024:.1f} | {counts} |")
    return "\n".join(lines)


def http_table(results):
    head = "| books | request | " + " | ".join(f"{label} ms (KiB)" for _, label in SYSTEMS)
    head += " | Groonga ÷ vovivavi.exe | Groonga ÷ shelfra.cgi (per byte) | check |"
    lines = [head, "|" + "---|" * (head.count("|") - 1)]
    for size in results:
        for r in size.get("http", []):
            cells = []
            for system, _ in SYSTEMS:
                if system in r["ms"]:
                    cells.append(f"{med(r['ms'][system]):.2f} ({r['bytes'][system] / 1024:.1f})")
                else:
                    cells.append("—")
            ups = http_speedups(r)
            for side in ("old", "new"):
                if side in ups:
                    value, kind, mode = ups[side]
                    cells.append(f"×{value:.2f}" + (" per byte" if kind == "per byte" and side == "old" else "")
                                 + (" (CGI)" if mode == "cgi" else ""))
                else:
                    cells.append("—")
            bad = [s for s, ok in r["ok"].items() if not ok]
            cells.append("FAILED " + ", ".join(bad) if bad else "ok")
            lines.append(f"| {size['books']:,} | {r['label']} | " + " | ".join(cells) + " |")
    return "\n".join(lines)


def latencies(figures):
    return f"{figures['p50_ms']:.2f} / {figures['p90_ms']:.2f} / {figures['p99_ms']:.2f}"


def rss(run):
    """The FastCGI processes' resident MiB before and after, one figure per process."""
    if "rss_before_kb" not in run:
        return "—"
    mib = lambda kbs: " + ".join("gone" if k is None else f"{k / 1024:.1f}" for k in kbs)  # noqa: E731
    return f"{mib(run['rss_before_kb'])} → {mib(run['rss_after_kb'])}"


def load_table(results):
    lines = ["| books | program | request | CGI req/s | CGI p50 / p90 / p99 ms | FastCGI req/s "
             "| FastCGI p50 / p90 / p99 ms | FastCGI ÷ CGI | FastCGI processes' resident MiB before → after | errors |",
             "|---|---|---|---|---|---|---|---|---|---|"]
    for size in results:
        for run in size.get("load", []):
            cgi, fcgi = run.get("cgi"), run.get("fastcgi")
            gain = f"×{fcgi['rps'] / cgi['rps']:.1f}" if cgi and fcgi else "—"
            errors = sum(f["non_2xx"] + f["socket_errors"] for f in (cgi, fcgi) if f)
            cells = [f"{cgi['rps']:.0f} | {latencies(cgi)}" if cgi else "— | —",
                     f"{fcgi['rps']:.0f} | {latencies(fcgi)}" if fcgi else "— | —"]
            lines.append(f"| {size['books']:,} | {run['program']} | {run['label']} | {cells[0]} | {cells[1]} ")
            lines[-1] += f"| {gain} | {rss(run)} | {errors} |"
    return "\n".join(lines)


def verdict(held):
    return "held" if held else "MISSED"


def targets(results):
    """The targets' lines: each with the figures it rests on and whether it holds."""
    lines = []
    for size in results:
        books = f"{size['books']:,} books"
        http = {r["request"]: r for r in size.get("http", [])}
        if size.get("fastcgi") and http:
            worst = max(med(http[k]["ms"][f"{s}_fastcgi"]) for k in ("cheapest", "detail") for s in ("old", "new"))
            cells = ", ".join(f"{s} {k} {med(http[k]['ms'][f'{s}_fastcgi']):.2f}" for s in ("old", "new")
                              for k in ("cheapest", "detail"))
            floor = f"; a static file {med(size['static_ms']):.2f}" if size.get("static_ms") else ""
            lines.append(f"- {books}: FastCGI form and detail page within {PAGE_MS} ms (old/new: {cells}{floor}): "
                         f"{verdict(worst <= PAGE_MS)}")
        else:
            lines.append(f"- {books}: FastCGI form and detail page within {PAGE_MS} ms: not measured (no FastCGI)")
        ups = [(k, side, http_speedups(http[k]).get(side)) for k in SEARCHES if k in http for side in ("old", "new")]
        ups = [(k, side, u) for k, side, u in ups if u]
        if ups:
            least = min(u[0] for _, _, u in ups)
            modes = {u[2] for _, _, u in ups}
            cells = ", ".join(f"{side} {k} ×{u[0]:.2f}" for k, side, u in ups)
            lines.append(f"- {books}: every search at least {HTTP_SPEEDUP:g}× faster than Groonga's HTTP server "
                         f"({'/'.join(sorted(modes))}; {cells}): {verdict(least >= HTTP_SPEEDUP)}")
        gains = []
        for run in size.get("load", []):
            if run.get("cgi") and run.get("fastcgi"):
                gains.append((run, run["fastcgi"]["rps"] / run["cgi"]["rps"]))
        if gains:
            cells = ", ".join(f"{r['program']} {r['request']} ×{g:.1f}" for r, g in gains)
            held = all(g >= LOAD_GAIN[r["request"]] for r, g in gains)
            lines.append(f"- {books}: under load FastCGI at least {LOAD_GAIN['form']:g}× CGI's requests/s for the form, "
                         f"{LOAD_GAIN['rare']:g}× for the rare word ({cells}): {verdict(held)}")
        else:
            lines.append(f"- {books}: FastCGI against CGI under load: not measured")
        process = size.get("process", [])
        if process:
            ratios = [(r["request"], med(r["groonga"]["wall_ms"]) / med(r["program"]["wall_ms"]))
                      for r in process if r["request"] in SEARCHES]
            cells = ", ".join(f"{k} ×{v:.2f}" for k, v in ratios)
            lines.append(f"- {books}: a process per query at least {PROCESS_SPEEDUP:g}× faster than the `groonga` command "
                         f"({cells}): {verdict(min(v for _, v in ratios) >= PROCESS_SPEEDUP)}")
    return "\n".join(lines)


LEGEND = """\
- The machine is shared with other work; every row takes its systems in turns, the one going
  first changing from run to run, so that a change of load falls on all alike. Medians of
  {runs} runs after one warm-up (checked) run.
- A process per query: bench/spawn_time starts the process, reads its standard output through a
  pipe and waits for it, as a web server runs a CGI program. vovivavi.exe has the CGI
  environment of the request and the search index; `groonga DB select ...` answers the same
  search from the Groonga database: the criterion's fields joined by `||` as match_columns
  (an N-gram lexicon, NFKC normalised, one positional index per searched field), the class as
  `klass @^ "9"`, sorted by the title reading, at most {limit:,} rows like the old list, the
  list's eleven fields out.
- One keep-alive client: Python's http.client, one connection per server, timed from the request
  to the last byte of the body; KiB: the body. Groonga's HTTP server closes the connection
  after every answer, so its times include a new connection ({connects}); lighttpd kept its one.
  Groonga's query cache is off (`cache_limit max=0`, then `cache=no`). The FastCGI processes
  ({procs} per program) are started by lighttpd (mod_fastcgi, bin-path) and stay; the CGI ones
  are one per request. shelfra.cgi's searches are its 20-row pages (form `/`, book page
  `/book/N`). The floor of the server and the client, a static 2 KiB file that lighttpd
  serves itself: {floor}.
- Groonga ÷ …: how many times faster the program's FastCGI answer is than Groonga's (CGI when
  FastCGI did not answer: marked "(CGI)"); vovivavi.exe's lists hold Groonga's rows, so by time;
  shelfra.cgi's 20-row pages hold fewer, so by time per byte of the answer (as for the cheapest
  answer, which differs in kind).
- Load: wrk, {connections} connections, 2 threads, {duration} s each, to lighttpd on the same
  two cores; resident memory: VmRSS of each FastCGI process of the program before and after
  the run (mapped table and index pages count as they are touched).
- shelfra-index: the seconds the index took before anything was timed (near 0 when the index
  of an earlier run was still current).
"""


def write(path, results, args, started, load_at_start):
    """Writes the report and its JSON; returns the report's text."""
    sizes = []
    for r in results:
        load = "reused" if r.get("groonga_load_s") is None else f"loaded in {r['groonga_load_s']:.0f} s"
        sizes.append(f"{r['books']:,} books (shelfra-index {r['index_s']:.1f} s; Groonga database "
                     f"{r['groonga_mb']:.0f} MB, {load}; FastCGI {'measured' if r.get('fastcgi') else 'not answering'})")
    floors = ", ".join(f"{r['books']:,} books {med(r['static_ms']):.2f} ms" for r in results if r.get("static_ms"))
    connects = "; ".join(f"{r['books']:,} books: Groonga {r['connects'].get('groonga', 0)} connections, lighttpd "
                         f"{r['connects'].get('lighttpd', 0)}" for r in results if "connects" in r)
    legend = LEGEND.format(runs=args.runs, floor=floors or "not measured", limit=99999, connects=connects or "none",
                           procs=args.fastcgi_procs,
                           connections=args.connections, duration=args.duration)
    text = (f"# Web servers: the catalogue search beside Groonga\n\n{started:%Y-%m-%d %H:%M}; {bench.machine_text()}, "
            f"load average at the start {load_at_start}.\n\nCatalogues: {'; '.join(sizes)}.\n\n"
            f"## A process per query\n\n{process_table(results)}\n\n"
            f"## One keep-alive client through a web server\n\n{http_table(results)}\n\n")
    if any(r.get("load") for r in results):
        text += f"## Under load\n\n{load_table(results)}\n\n"
    text += f"## The targets\n\n{targets(results)}\n\n{legend}"
    problems = [f"- {r['books']:,} books: {p}" for r in results for p in r["problems"]]
    if problems:
        text += "\n## Problems\n\n" + "\n".join(problems) + "\n"
    Path(path).parent.mkdir(parents=True, exist_ok=True)
    Path(path).write_text(text, encoding="utf-8")
    Path(path).with_suffix(".json").write_text(json.dumps(results, ensure_ascii=False, indent=1), encoding="utf-8")
    return text
