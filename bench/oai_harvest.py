#!/usr/bin/env python3
"""Times a whole OAI-PMH harvest of shelfra.cgi: ListRecords of every book, page by page through
the resumption tokens, one process per request as the web server runs it, and a 20-row result
page of the same catalogue beside it (what one harvest page should cost about as much as).

As a module: harvest(program, catalogue, cgi_env) and result_page(program, catalogue, cgi_env),
with bench.py's cgi_env(config, request) as the environment maker. As a program:
  oai_harvest.py [--program build/shelfra.cgi] [--index] [--runs 5] FOLDER
where FOLDER is a catalogue made by gen_catalogue.py; --index first writes its
shelfra-index.conf ([Index] Directory=index) and builds the index with shelfra-index.
"""
import argparse
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
ROOT = BENCH_DIR.parent
SCRIPT_NAME = "/cgi-bin/shelfra.cgi"
TOKEN = re.compile(rb'<resumptionToken completeListSize="(\d+)" cursor="(\d+)">([^<]*)</resumptionToken>')


class Request:
    """What cgi_env reads of a request: the path after the script and the query."""

    def __init__(self, path_info, query):
        self.path_info = path_info
        self.query = query


def config_of(catalogue):
    """The catalogue's host configuration: shelfra-index.conf when it has one, else shelfra.conf."""
    catalogue = Path(catalogue)
    indexed = catalogue / "shelfra-index.conf"
    return indexed if indexed.exists() else catalogue / "shelfra.conf"


def run(program, env):
    """(seconds, output bytes) of one run of `program` under `env`."""
    start = time.perf_counter()
    done = subprocess.run([str(program)], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    seconds = time.perf_counter() - start
    if done.returncode != 0 or not done.stdout.startswith(b"Status: 200"):
        raise RuntimeError(f"oai_harvest: {env['QUERY_STRING']} failed: {done.stdout[:300]!r} {done.stderr[-300:]!r}")
    return seconds, done.stdout


def harvest(program, catalogue, cgi_env, config=None, prefix="oai_dc", max_pages=1_000_000):
    """Harvests every record of `catalogue` with ListRecords; returns a dict: "pages" (the
    seconds of each request, in order), "total" (their sum), "records", "deleted", "bytes" and
    "complete_list_size" (as the first page announced it). Raises RuntimeError when an answer is
    no 200, holds an OAI-PMH error, or the cursors do not follow the records."""
    config = Path(config) if config else config_of(catalogue)
    query = f"verb=ListRecords&metadataPrefix={prefix}"
    pages, records, deleted, size, total_bytes = [], 0, 0, None, 0
    while len(pages) < max_pages:
        env = dict(cgi_env(config, Request("/oai", query)), SCRIPT_NAME=SCRIPT_NAME)
        seconds, output = run(program, env)
        pages.append(seconds)
        total_bytes += len(output)
        if b"<error code=" in output:
            raise RuntimeError(f"oai_harvest: {query}: {output[output.find(b'<error'):][:200]!r}")
        token = TOKEN.search(output)
        if token and size is None:
            size = int(token.group(1))
        if token and int(token.group(2)) != records:
            raise RuntimeError(f"oai_harvest: cursor {token.group(2).decode()} after {records} records")
        records += output.count(b"<record>")
        deleted += output.count(b'<header status="deleted">')
        if not token or not token.group(3):
            break
        query = "verb=ListRecords&resumptionToken=" + token.group(3).decode()
    return {"pages": pages, "total": sum(pages), "records": records, "deleted": deleted, "bytes": total_bytes,
            "complete_list_size": size if size is not None else records}


def result_page(program, catalogue, cgi_env, config=None, runs=5, query="class=9"):
    """The seconds of `runs` requests of the 20-row result page /search?`query`."""
    config = Path(config) if config else config_of(catalogue)
    env = dict(cgi_env(config, Request("/search", query)), SCRIPT_NAME=SCRIPT_NAME)
    return [run(program, env)[0] for _ in range(runs)]


def build_index(catalogue, program, cgi_env, write_index_config):
    """Writes the catalogue's shelfra-index.conf and builds its index with the shelfra-index
    beside `program`; returns the seconds it took."""
    config = write_index_config(Path(catalogue))
    env = cgi_env(config, Request("", ""))
    start = time.perf_counter()
    subprocess.run([str(Path(program).parent / "shelfra-index")], env=env, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main(argv=None):
    sys.path.insert(0, str(BENCH_DIR))
    import bench  # noqa: E402  (cgi_env and the index configuration, as the benchmark runs the program)

    parser = argparse.ArgumentParser(description="Times a whole OAI-PMH harvest of shelfra.cgi.")
    parser.add_argument("folder", help="a catalogue folder made by gen_catalogue.py")
    parser.add_argument("--program", default=str(ROOT / "build" / "shelfra.cgi"))
    parser.add_argument("--index", action="store_true", help="build the catalogue's search index first")
    parser.add_argument("--runs", type=int, default=5, help="runs of the result page (default 5)")
    args = parser.parse_args(argv)
    if args.index:
        seconds = build_index(args.folder, args.program, bench.cgi_env, bench.write_index_config)
        print(f"index built in {seconds:.2f} s")
    result = harvest(args.program, args.folder, bench.cgi_env)
    pages = result["pages"]
    ms = sorted(1000 * p for p in pages)
    print(f"config: {config_of(args.folder).name}")
    print(f"harvest: {len(pages)} pages, {result['records']} records ({result['deleted']} deleted, "
          f"completeListSize {result['complete_list_size']}), {result['bytes'] / 1e6:.1f} MB, "
          f"total {result['total']:.2f} s")
    print(f"per page: first {1000 * pages[0]:.1f} ms, median {statistics.median(ms):.1f} ms, "
          f"p90 {ms[int(0.9 * (len(ms) - 1))]:.1f} ms, max {ms[-1]:.1f} ms")
    page = sorted(1000 * s for s in result_page(args.program, args.folder, bench.cgi_env, runs=args.runs))
    print(f"20-row result page (/search?class=9): median {statistics.median(page):.1f} ms over {len(page)} runs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
