#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/ (run from anywhere).

The seeds are committed; run this again after changing it. Japanese text is written in cp932,
as the program meets it. Each target's input layout is described at the top of its source.
"""
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


def sjis(text):
    return text.encode("cp932")


def write(target, name, data):
    folder = HERE / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def query_string():
    seeds = {
        "form": b"GET\n\n",
        "search": b"GET\n\ntitle1=%94%4C&title2=&title3=&Author=%89%C4%96%DA&keyword1=&bunrui=9",
        "detail": b"GET\n/Detail\nNO=12",
        "list": b"get\n/list\n",
        "quoted": b'POST\n/x\n"a&b"&c=1',
        "bad_escape": b"GET\n\nx=%4G",
        "escapes": b"GET\n\nx=%%41&y=+%2B&z=100%25&w=%e6%96%87",
        "equals": b"HEAD\n/Detail/\na=b=c&a=2&&=x&%3D=y",
        "tag_params": b'OPTIONS\n*\nsrc="a b.gif" alt=x q=a+b%21 a="b"c d',
    }
    for name, data in seeds.items():
        write("query_string_fuzzer", name, data)


def template():
    # Byte 0: bit 0 strips parameter quotes, bit 1 answers tags, bit 2 makes every third
    # answer raise.
    for res in ("search_form.html", "detail.html", "result_header.html", "result_footer.html", "searching.html"):
        text = (ROOT / "app" / "res" / res).read_text(encoding="utf-8").replace("\n", "\r\n")
        write("template_fuzzer", res, b"\x03" + sjis(text))
    seeds = {
        "tags": b'\x03<#Name> < #Name> <# Name > <#name> <#image> <#NDC10> <#1abc> <#>\r\n',
        "params": b'\x02<#Img src="a b.gif" alt=x><#T a=\'x y\'><#T q=a+b%21><#T a="b"c d>\r\n',
        "text": b"\x03i < 5 i<=85 <<#T> a < b\r\n<",
        "unclosed": b'\x03<#A <#B>> <#T a="b >c" d',
        "raise": b"\x07<#A><#B><#C><#D>",
        "long_line": b"\x03" + b"x" * 4094 + b"\n" + b"y" * 4095,
        "sjis_name": b"\x03<#" + sjis("図書") + b" p=1>",
    }
    for name, data in seeds.items():
        write("template_fuzzer", name, data)


# Field names of the fixture table (fuzz/fuzz_support.cpp).
TITLE, REGNO, RETURNED = sjis("書名"), sjis("登録番号"), sjis("返却済")


def sql():
    # Byte 0: bits 0-1 choose the frame (0 raw, 1 "SELECT * FROM T WHERE " + rest, 2 the same
    # with ORDER BY a field, 3 "SELECT * FROM T ORDER BY " + rest); bit 7 runs it through the
    # query dataset instead of the statement alone.
    seeds = {
        "select": b"\x00SELECT * FROM T",
        "select_query": b"\x80SELECT * FROM T WHERE KANA LIKE \"%a%\" ORDER BY KANA",
        "where": b"\x01" + TITLE + b' LIKE "%' + sjis("猫") + b'%" OR PRICE > 3 AND NOT (COUNT IS NULL)',
        "where_query": b"\x81" + REGNO + b" = 2 OR " + RETURNED + b" = TRUE",
        "order": b"\x06CLASS <> -1 AND REGDATE >= '2000/01/01'",
        "order_by": b"\x83KANA DESC, " + REGNO + b" ASC, PRICE",
        "params": b"\x80SELECT * FROM T WHERE KANA = :p AND CODE = 'a:b' AND X = \"it's: ok\"",
        "search": b"\x80SELECT * FROM \"" + b"T.DBF" + b"\"\r\nWHERE ((KANA LIKE \"%x%\") OR (CODE LIKE \"9%\"))\r\nORDER BY KANA;",
        "bracket": b"\x01[MEMO] IS NOT NULL AND [" + TITLE + b"] NOT LIKE '_%'",
        "numbers": b"\x01RATE < 1e400 AND PRICE <> .5 AND COUNT = -3 AND CODE = \"\"\"\"",
    }
    for name, data in seeds.items():
        write("sql_fuzzer", name, data)


def filter_():
    # Byte 0: bit 0 clear: a filter condition; set: a LIKE pattern alone.
    seeds = {
        "lending": b"\x00" + RETURNED + b" <> True",
        "logic": b"\x00COUNT >= 2 AND NOT (KANA IS NULL) OR (PRICE < 3 AND CODE LIKE '9%')",
        "compare_text": b"\x00KANA = 'same' OR " + REGNO + b" = '2'",
        "like": b"\x01%abc%",
        "like_general": b"\x01_" + sjis("あ") + b"%_%" + sjis("ｱﾞ"),
        "like_exact": b"\x01" + sjis("吾輩は猫である"),
    }
    for name, data in seeds.items():
        write("filter_fuzzer", name, data)


def dbf():
    # Tables of other writers: dBase III, FoxPro 2.x, and Visual FoxPro with null flags.
    for name in ("xbase_fixture.dbf", "foxpro2_fixture.dbf", "vfp_fixture.dbf", "dbffile_fixture.dbf"):
        fixture = ROOT / "engine" / "testdata" / name
        if fixture.exists():
            write("dbf_fuzzer", name, fixture.read_bytes())
    with tempfile.TemporaryDirectory() as tmp:
        tmp = Path(tmp)
        books = (ROOT / "sample" / "books.csv").read_text(encoding="utf-8").splitlines()
        (tmp / "books.csv").write_text("\n".join(books[:4]) + "\n", encoding="utf-8")
        loans = (ROOT / "sample" / "loans.csv").read_text(encoding="utf-8").splitlines()
        (tmp / "loans.csv").write_text("\n".join(loans[:4]) + "\n", encoding="utf-8")
        writer = ROOT / "tools" / "catalogue" / "make_catalogue.py"
        schema = ROOT / "tools" / "catalogue" / "schema"
        for name, csv in (("books", "books.csv"), ("loans", "loans.csv")):
            out = tmp / (name + ".dbf")
            subprocess.run([sys.executable, str(writer), "--schema", str(schema / csv), "--csv", str(tmp / csv),
                            "--out", str(out), "--date", "2026-12-01"], check=True, stdout=subprocess.DEVNULL)
            write("dbf_fuzzer", name + ".dbf", out.read_bytes())
    # A small table by hand: every type, a long character field, a deleted record.
    fields = [(b"NAME", b"C", 10, 0), (b"NO", b"N", 6, 0), (b"PRICE", b"N", 8, 2), (b"WHEN", b"D", 8, 0),
              (b"OK", b"L", 1, 0), (b"MEMO", b"M", 10, 0), (b"LONG", b"C", 44, 1)]
    record_length = 1 + sum(f[2] + (256 * f[3] if f[1] == b"C" else 0) for f in fields)
    header = struct.pack("<BBBBIHH20x", 3, 124, 1, 1, 2, 32 + 32 * len(fields) + 1, record_length)
    header = header[:29] + b"\x13" + header[30:]
    for name, kind, length, decimals in fields:
        header += name.ljust(11, b"\0") + kind + b"\0" * 4 + bytes([length, decimals]) + b"\0" * 14
    header += b"\x0d"
    rows = [b" " + b"abc".ljust(10) + b"    12" + b"  -12.50" + b"20040315" + b"T" + b"        99" + b"x" * 300,
            b"*" + sjis("図書").ljust(10) + b"******" + b"        " + b"00000000" + b"?" + b"          " + b" " * 300]
    write("dbf_fuzzer", "handmade.dbf", header + b"".join(r[:record_length].ljust(record_length) for r in rows) + b"\x1a")


def profile():
    ini = (ROOT / "sample" / "Shelfra.ini.txt").read_text(encoding="utf-8").replace("\n", "\r\n")
    write("profile_fuzzer", "settings", sjis("Web棚読\nメッセージ\n") + sjis(ini))
    write("profile_fuzzer", "digits", sjis("番号設定\n桁\n") + sjis(ini))
    write("profile_fuzzer", "host", b"Aliases\nVadoz\n[Aliases]\nVadoz=/tmp\n[Locale]\nDecimalSeparator=,\n"
                                    b"DateSeparator=-\nShortDateFormat=yyyy/mm/dd\n[Index]\nDirectory=/var/cache\n")
    write("profile_fuzzer", "quotes", b" s \n k \n; c\n[ s ]\n k = \"quoted value\" \n[s]\nk=second\n")
    write("profile_fuzzer", "sjis_bracket", b"\x83\x5d\n\x95\x5c\n[\x83\x5d]\n\x95\x5c=\x95\x5c\x8e\xa6\n")


def field_text():
    # 8 bytes of a double, a precision byte, the separator byte, 4 bytes of a day number, the
    # date pattern.
    values = [0.0, 1234.0, 1234.5, 0.1 + 0.2, 0.05, 0.0001, 0.00001, 1e15, 999999999999999.0, 123456789012345678.0,
              -3.0, 2147483648.0, -0.5, 1235.5, 4294967296.0, float("inf"), float("nan"), 5e-324, 1.7976931348623157e308]
    days = [731655, 1, 0, -1, 2**31 - 1, -2**31, 730120]
    patterns = [b"yyyy/mm/dd", b"m/d/yy", b"'yyyy'\"m\"dd", b"yyyyy mmm ddd", sjis("yyyy年m月d日")]
    for i, v in enumerate(values):
        data = struct.pack("<dbc", v, 15 if i % 3 else 18 - i % 19, b"." if i % 2 else b",")
        data += struct.pack("<i", days[i % len(days)]) + patterns[i % len(patterns)]
        write("field_text_fuzzer", "value%02d" % i, data)


def index(fixture):
    # Variants of the index the fuzzer builds at start-up, written by it as fixture.idx
    # (SHELFRA_INDEX_FUZZER_FIXTURE=fuzz/corpus/index_fuzzer/fixture.idx build-fuzz/fuzz/index_fuzzer
    # -runs=1); the fuzzer writes the table's path over the path kept here.
    if fixture is None:
        print("make_seeds: no fuzz/corpus/index_fuzzer/fixture.idx; write it with the fuzzer first", file=sys.stderr)
        return
    no_slot = 0xFFFFFFFF
    path_length, path_offset = struct.unpack_from("<IQ", fixture, 60)
    base = bytearray(fixture)
    base[path_offset:path_offset + path_length] = b"/tmp/shelfra-index-fuzz-XXXXXX/books".ljust(path_length - 4, b"x") + b".dbf"
    write("index_fuzzer", "fixture.idx", bytes(base))

    def variant(name, *fields):
        data = bytearray(base)
        for offset, form, value in fields:
            struct.pack_into(form, data, offset, value)
        write("index_fuzzer", name, bytes(data))

    # No sort order (answers in table order), no number and no shown rows.
    variant("no_sort", (56, "<I", no_slot))
    variant("no_number_no_shown", (144, "<I", no_slot), (212, "<I", 0))
    # The first and last record lists swapped, and the first two slots' text spans: sound
    # blocks, contents that disagree.
    postings, count = struct.unpack_from("<QQ", base, 104)
    first, last = postings, postings + 16 * (count - 1)
    variant("lists_swapped", (first + 8, "<Q", struct.unpack_from("<Q", base, last + 8)[0]),
            (last + 8, "<Q", struct.unpack_from("<Q", base, first + 8)[0]))
    slots = struct.unpack_from("<Q", base, 96)[0]
    variant("slots_swapped", (slots + 8, "<Q", struct.unpack_from("<Q", base, slots + 32 + 8)[0]),
            (slots + 32 + 8, "<Q", struct.unpack_from("<Q", base, slots + 8)[0]))


def main():
    corpus = HERE / "corpus"
    fixture = corpus / "index_fuzzer" / "fixture.idx"
    fixture = fixture.read_bytes() if fixture.exists() else None
    if corpus.exists():
        shutil.rmtree(corpus)
    query_string()
    template()
    sql()
    filter_()
    dbf()
    profile()
    field_text()
    index(fixture)


if __name__ == "__main__":
    main()
