#!/usr/bin/env python3
"""Groonga as a peer of the catalogue search: the live books of a generated catalogue loaded
into one Groonga table (the result list's eleven fields and the nine searched ones), the
benchmark's searches as Groonga `select` commands, for the command-line program and for its
HTTP server, and the count of an answer.

As a module: ensure_database(catalogue, manifest, folder), select_params(criteria),
command_line(database, params), http_path(params), answer_count(body). As a program:
  groonga_peer.py --catalogue DATA/books-N --out FOLDER
loads (or reuses) the database and prints the counts of the benchmark's searches.
"""
import argparse
import hashlib
import json
import mmap
import os
import shutil
import struct
import subprocess
import sys
import urllib.parse
from pathlib import Path

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))
import gen_catalogue  # noqa: E402

TABLE = "Books"
LEXICON = "Terms"
# The old result list's columns, in its order: what every answer carries.
SHOWN_FIELDS = ("登録番号", "分類記号", "図書記号", "巻冊記号", "書名", "叢書名", "著者名", "出版者", "出版年",
                "頁（ｐ）", "大きさ")
# Groonga names are ASCII: the column of each field loaded.
COLUMNS = {"登録番号": "number", "分類記号": "klass", "図書記号": "book_mark", "巻冊記号": "volume", "書名": "title",
           "叢書名": "series", "著者名": "author", "出版者": "publisher", "出版年": "year", "頁（ｐ）": "pages",
           "大きさ": "size", "件名": "subject", "内容紹介": "description", "著者名ｶﾅ": "author_kana",
           "書名ｶﾅ": "title_kana", "叢書名ｶﾅ": "series_kana", "注記": "note"}
# Every field a criterion searches (the keyword line names all nine), in the statement's order.
SEARCHED = tuple(dict.fromkeys(f for kind in ("title", "author", "keyword") for f in gen_catalogue.SEARCHED_FIELDS[kind]))
ORDER_FIELD = "書名ｶﾅ"
# The old list shows at most this many rows; Groonga's answers carry the same rows.
LIST_LIMIT = 99999
TOKENIZER = 'TokenNgram("unify_alphabet", false, "unify_digit", false, "unify_symbol", false)'
NORMALIZER = 'NormalizerNFKC130("unify_kana", true)'
# The criteria's fields by kind (bench.Request.criteria keys).
CRITERION_KIND = {"title1": "title", "title2": "title", "title3": "title", "Author": "author",
                  "keyword1": "keyword", "keyword2": "keyword", "keyword3": "keyword"}
LOAD_BATCH = 20000


def quote(text):
    """A value in Groonga's command syntax: double quotes, backslash before \\ and "."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def schema_commands():
    """The table and its columns (before the load)."""
    lines = [f"table_create {TABLE} TABLE_NO_KEY"]
    for field, column in COLUMNS.items():
        kind = "UInt32" if field == "登録番号" else "ShortText"
        lines.append(f"column_create {TABLE} {column} COLUMN_SCALAR {kind}")
    return lines


def index_commands():
    """The lexicon and one positional index per searched field (after the load: one pass each)."""
    lines = [f"table_create {LEXICON} TABLE_PAT_KEY ShortText --default_tokenizer {quote(TOKENIZER)} "
             f"--normalizer {quote(NORMALIZER)}"]
    for field in SEARCHED:
        column = COLUMNS[field]
        lines.append(f"column_create {LEXICON} {TABLE}_{column} COLUMN_INDEX|WITH_POSITION {TABLE} {column}")
    return lines


def dbf_live_records(path, fields):
    """(text, ...) of `fields` for every live record of the .DBF at `path`, streaming: the header
    names the fields, a record whose flag is "*" is deleted, texts are Shift_JIS padded with
    blanks (numbers on the left, the rest on the right)."""
    with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as data:
        count, header_length, record_length = struct.unpack_from("<IHH", data, 4)
        places, offset, pos = {}, 1, 32
        while data[pos] != 0x0D:
            name = data[pos:pos + 11].rstrip(b"\0").decode("cp932")
            places[name] = (offset, data[pos + 16])
            offset += data[pos + 16]
            pos += 32
        missing = [n for n in fields if n not in places]
        if missing or offset != record_length:
            raise SystemExit(f"groonga_peer: {path!r}: unexpected header (missing {missing})")
        slices = [(places[n][0], places[n][0] + places[n][1]) for n in fields]
        for i in range(count):
            start = header_length + i * record_length
            record = data[start:start + record_length]
            if record[0:1] == b"*":
                continue
            yield tuple(record[a:b].decode("cp932").strip(" ") for a, b in slices)


def load_lines(records):
    """The load commands of the records (tuples in COLUMNS' order), LOAD_BATCH rows per command."""
    names = list(COLUMNS.values())
    batch = []
    for values in records:
        row = dict(zip(names, values))
        row["number"] = int(row["number"] or 0)
        batch.append(json.dumps(row, ensure_ascii=False))
        if len(batch) == LOAD_BATCH:
            yield f"load --table {TABLE}\n[\n" + ",\n".join(batch) + "\n]"
            batch = []
    if batch:
        yield f"load --table {TABLE}\n[\n" + ",\n".join(batch) + "\n]"


def check_output(path):
    """Raises SystemExit with Groonga's message when a command's answer in `path` (one JSON
    answer per line) reports an error."""
    for line in Path(path).read_text(encoding="utf-8", errors="replace").splitlines():
        try:
            head = json.loads(line)[0]
        except (ValueError, IndexError, KeyError, TypeError):
            continue
        if isinstance(head, list) and head and head[0] != 0:
            raise SystemExit(f"groonga_peer: groonga failed: {head[3] if len(head) > 3 else head}")


def schema_digest():
    return hashlib.sha1("\n".join(schema_commands() + index_commands()).encode()).hexdigest()[:12]


def ensure_database(catalogue, manifest, folder, groonga="groonga"):
    """The path of the Groonga database of `catalogue` in `folder`: reused when it was loaded from
    the same generated catalogue with the same schema, otherwise loaded afresh (the live books
    of its book table), then indexed. Returns (path, seconds the load took or None when reused)."""
    folder = Path(folder)
    database = folder / "books.db"
    stamp = folder / "stamp.json"
    wanted = {"generator": manifest["generator"], "seed": manifest["seed"], "books": manifest["books"],
              "schema": schema_digest()}
    if stamp.exists() and database.exists() and json.loads(stamp.read_text()) == wanted:
        return database, None
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    table = gen_catalogue.native_path(catalogue, gen_catalogue.BOOK_TABLE)
    output = folder / "load.out"
    started = os.times().elapsed
    with open(output, "wb") as out:
        process = subprocess.Popen([groonga, "-n", str(database)], stdin=subprocess.PIPE, stdout=out,
                                   stderr=subprocess.STDOUT)
        try:
            commands = process.stdin
            for line in schema_commands():
                commands.write(line.encode() + b"\n")
            for command in load_lines(dbf_live_records(table, list(COLUMNS))):
                commands.write(command.encode() + b"\n")
            for line in index_commands():
                commands.write(line.encode() + b"\n")
            commands.close()
        finally:
            status = process.wait()
    if status != 0:
        raise SystemExit(f"groonga_peer: groonga -n {database} ended with status {status} (see {output})")
    check_output(output)
    stamp.write_text(json.dumps(wanted))
    return database, os.times().elapsed - started


def select_params(criteria):
    """The `select` parameters of a search (bench.Request.criteria): the criterion's fields joined
    by ||, its words as the query (Groonga's query ANDs words), the class as a prefix filter,
    the title reading's order and the old list's limit, the list's eleven fields out."""
    params = [("table", TABLE)]
    kinds = {CRITERION_KIND[k] for k, v in criteria.items() if k in CRITERION_KIND and v}
    words = [v for k, v in criteria.items() if k in CRITERION_KIND and v]
    if len(kinds) > 1:
        raise ValueError(f"one kind of criterion per search, not {sorted(kinds)}")
    if kinds:
        fields = gen_catalogue.SEARCHED_FIELDS[kinds.pop()]
        params += [("match_columns", "||".join(COLUMNS[f] for f in fields)), ("query", " ".join(words))]
    if criteria.get("bunrui") and criteria["bunrui"] != "10":
        params.append(("filter", f'{COLUMNS[gen_catalogue.CLASS_FIELD]} @^ {quote(criteria["bunrui"])}'))
    params += [("sort_keys", COLUMNS[ORDER_FIELD]), ("limit", str(LIST_LIMIT)),
               ("output_columns", ",".join(COLUMNS[f] for f in SHOWN_FIELDS)), ("cache", "no")]
    return params


def command_line(groonga, database, params):
    """argv of the command-line program answering one `select` (it joins its arguments with
    blanks into one command, so every value goes quoted)."""
    argv = [groonga, str(database), "select"]
    for name, value in params:
        argv += [f"--{name}", quote(value)]
    return argv


def http_path(params, command="select"):
    """The HTTP server's address of a command: /d/COMMAND?name=value&..., commas left literal
    (the server's cache took %2C-escaped output_columns for a cached answer even with cache=no)."""
    query = urllib.parse.urlencode(params, safe=",", quote_via=urllib.parse.quote)
    return f"/d/{command}" + (f"?{query}" if query else "")


def answer_count(body):
    """(hits, rows) of a `select` answer (JSON), or None when it is an error or no such answer."""
    try:
        answer = json.loads(body)
        if answer[0][0] != 0:
            return None
        result = answer[1][0]
        return result[0][0], len(result) - 2
    except (ValueError, IndexError, KeyError, TypeError):
        return None


def main(argv=None):
    parser = argparse.ArgumentParser(description="Loads a generated catalogue into Groonga and counts its searches.")
    parser.add_argument("--catalogue", required=True, help="a folder made by gen_catalogue.py")
    parser.add_argument("--out", required=True, help="folder of the Groonga database")
    args = parser.parse_args(argv)
    import bench  # noqa: E402  (the requests)
    manifest = json.loads((Path(args.catalogue) / gen_catalogue.MANIFEST).read_text(encoding="utf-8"))
    database, seconds = ensure_database(Path(args.catalogue), manifest, Path(args.out))
    print(f"{database}: {'reused' if seconds is None else f'loaded in {seconds:.1f} s'}")
    status = 0
    for request in bench.make_requests(manifest):
        if request.is_search:
            out = subprocess.run(command_line("groonga", database, select_params(request.criteria)),
                                 stdout=subprocess.PIPE, check=True).stdout
            counted = answer_count(out)
            expected = manifest["expected"][request.key]
            print(f"{request.key}: {counted} expected {expected}")
            status |= counted is None or counted[0] != expected
    return status


if __name__ == "__main__":
    sys.exit(main())
