"""Writes the load run's wrk script to standard output: the request mix and the expected
answers of one catalogue, as Lua constants holding Shift_JIS bytes, followed by the checks of
wrk_checks.lua beside this file.

Usage: make_wrk_script.py MANIFEST URL RUN_DIR
  MANIFEST  the catalogue's manifest.json (bench/gen_catalogue.py)
  URL       the program's address; only its path goes into the requests
  RUN_DIR   where the wrk script writes its figures ("results", "results.wrong")
"""
import json
import os
import sys
import urllib.parse


def q(text):
    """The text's Shift_JIS bytes, percent-escaped for a query."""
    return urllib.parse.quote(text.encode("cp932"), safe="")


def lua(text):
    """A Lua string literal of the text's Shift_JIS bytes."""
    data = text.encode("cp932") if isinstance(text, str) else text
    return '"' + "".join("\\%d" % b if b < 32 or b > 126 or b in (34, 92) else chr(b) for b in data) + '"'


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        manifest = json.load(f)
    url = urllib.parse.urlsplit(sys.argv[2])
    script, results = url.path, sys.argv[3] + "/results"
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "wrk_checks.lua"), encoding="ascii") as f:
        checks = f.read()

    w, e = manifest["words"], manifest["expected"]
    # A POST that announces a body of 93 GiB and sends three bytes: the server must refuse it
    # at once (413) rather than wait for the rest. wrk.format writes a Content-Length of its
    # own, so this one goes out as it is written.
    huge_body = ("POST %s HTTP/1.1\r\nHost: %s\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 99999999999\r\n\r\nabc" % (script, url.netloc))
    mix = [  # (weight, path and query for a GET, or a whole request)
        (2, script),
        (3, script + "?title1=" + q(w["rare"]) + "&title2=&title3=&Author=&keyword1=&bunrui=10"),
        (2, script + "?keyword1=" + q(w["kw1"]) + "&keyword2=" + q(w["kw2"])),
        (1, script + "?title1=" + q(w["common"])),
        (1, script + "/list"),
        (3, script + "/Detail?NO=%d" % manifest["detail"]["number"]),
        (1, script + "/Detail?NO=0"),
        (1, script + "?title1=%4G"),  # a malformed escape: the 500 page
        (1, {"raw": huge_body}),  # the server's 413
    ]
    paths = [p for weight, p in mix for _ in range(weight)]
    print("local paths = {" + ", ".join("{raw = %s}" % lua(p["raw"]) if isinstance(p, dict) else lua(p)
                                        for p in paths) + "}")
    print("local counts = {[%d] = true, [%d] = true, [%d] = true}" % (e["Q1"], e["Q3"], e["Q2"]))
    print("local count_mark = " + lua("該当する資料は"))
    print("local detail_mark = " + lua("利用状況"))
    print("local due = " + lua(manifest["detail"]["due"]))
    print("local invalid_mark = " + lua("指定された番号は無効です"))
    print("local list_mark = " + lua("<Caption"))
    print('local results = "%s"' % results)
    print()
    sys.stdout.write(checks)


if __name__ == "__main__":
    main()
