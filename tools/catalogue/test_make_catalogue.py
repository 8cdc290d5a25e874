#!/usr/bin/env python3
"""Tests of the catalogue writer: exact table bytes, value layout, refusals, and the sample catalogue."""
import collections
import csv
import datetime
import io
import os
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import make_catalogue as mc  # noqa: E402

DAY = datetime.date(2024, 3, 15)


def read_dbf(data):
    """A minimal independent reader: (fields [(name, type, length, decimals)], records [(flag, [text])])."""
    count, header_length, record_length = struct.unpack_from("<IHH", data, 4)
    fields = []
    pos = 32
    while data[pos] != 0x0D:
        d = data[pos:pos + 32]
        fields.append((d[:11].rstrip(b"\0").decode("cp932"), chr(d[11]), d[16], d[17]))
        pos += 32
    assert pos + 1 == header_length, "header length disagrees with the descriptors"
    records = []
    for i in range(count):
        rec = data[header_length + i * record_length:header_length + (i + 1) * record_length]
        values, off = [], 1
        for _, _, length, _ in fields:
            values.append(rec[off:off + length].decode("cp932").rstrip(" "))
            off += length
        records.append((chr(rec[0]), values))
    assert data[header_length + count * record_length:] == b"\x1a", "end mark missing or extra bytes"
    return fields, records


class WriterTestCase(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory()
        self.dir = Path(self._tmp.name)

    def tearDown(self):
        self._tmp.cleanup()

    def write(self, name, text):
        path = self.dir / name
        path.write_text(text, encoding="utf-8")
        return path

    def build(self, schema_text, csv_text):
        fields = mc.read_schema(self.write("schema.csv", schema_text))
        records = mc.read_records(self.write("data.csv", csv_text), fields)
        return mc.build_table(fields, records, DAY)


class TableBytesTest(WriterTestCase):
    def test_tiny_table_is_byte_exact(self):
        table = self.build(
            "name,type,length,decimals\n登録番号,N,10,0\n書名ｶﾅ,C,8,0\n価格（円）,N,7,2\n登録日,D,8,0\n禁帯出,L,1,0\n",
            "登録番号,書名ｶﾅ,価格（円）,登録日,禁帯出,_deleted\n"
            "123,ｺｺﾛ,1200.5,2004-03-15,T,\n"
            "7,ﾊﾟﾝ,,,,1\n")
        expected = (
            # version, 2024-03-15, 2 records, header 32+5*32+1=193, record 1+10+8+7+8+1=35
            b"\x03\x7c\x03\x0f" b"\x02\x00\x00\x00" b"\xc1\x00" b"\x23\x00"
            + b"\x00" * 17 + b"\x13" + b"\x00\x00"
            # 登録番号: 93 6F 98 5E 94 D4 8D 86
            + b"\x93\x6f\x98\x5e\x94\xd4\x8d\x86\x00\x00\x00" + b"N" + b"\x00" * 4 + b"\x0a\x00" + b"\x00" * 14
            # 書名ｶﾅ: 8F 91 96 BC B6 C5
            + b"\x8f\x91\x96\xbc\xb6\xc5\x00\x00\x00\x00\x00" + b"C" + b"\x00" * 4 + b"\x08\x00" + b"\x00" * 14
            # 価格（円）: 89 BF 8A 69 81 69 89 7E 81 6A, ten bytes and one zero
            + b"\x89\xbf\x8a\x69\x81\x69\x89\x7e\x81\x6a\x00" + b"N" + b"\x00" * 4 + b"\x07\x02" + b"\x00" * 14
            # 登録日: 93 6F 98 5E 93 FA
            + b"\x93\x6f\x98\x5e\x93\xfa\x00\x00\x00\x00\x00" + b"D" + b"\x00" * 4 + b"\x08\x00" + b"\x00" * 14
            # 禁帯出: 8B D6 91 D1 8F 6F
            + b"\x8b\xd6\x91\xd1\x8f\x6f\x00\x00\x00\x00\x00" + b"L" + b"\x00" * 4 + b"\x01\x00" + b"\x00" * 14
            + b"\x0d"
            + b" " + b"       123" + b"\xba\xba\xdb     " + b"1200.50" + b"20040315" + b"T"
            + b"*" + b"         7" + b"\xca\xdf\xdd     " + b"       " + b"        " + b" "
            + b"\x1a")
        self.assertEqual(table.hex(" "), expected.hex(" "))

    def test_empty_table_has_header_and_end_mark_only(self):
        table = self.build("name,type,length,decimals\nA,C,3,0\n", "A\n")
        self.assertEqual(len(table), 32 + 32 + 1 + 1)
        self.assertEqual(table[4:8], b"\x00\x00\x00\x00")
        self.assertEqual(table[-2:], b"\x0d\x1a")


class StreamingWriterTest(WriterTestCase):
    SCHEMA = "name,type,length,decimals\n番号,N,4,0\n書名,C,6,0\n日付,D,8,0\n可,L,1,0\n"
    ROWS = [(["12", "ﾈｺ", "2004-03-15", "T"], False), (["", "", "", ""], True), (["7", "abcdef", "", "F"], False)]

    def fields(self):
        return mc.read_schema(self.write("s.csv", self.SCHEMA))

    def stream(self, record_count):
        """The bytes TableWriter writes for ROWS into a file, with the count given or left to close()."""
        path = self.dir / "t.dbf"
        with open(path, "wb") as out:
            out.write(b"lead")  # the table need not start the file
            writer = mc.TableWriter(out, self.fields(), DAY, record_count)
            for texts, deleted in self.ROWS:
                writer.add_values(texts, deleted, "row")
            writer.close()
        data = path.read_bytes()
        self.assertEqual(data[:4], b"lead")
        return data[4:], writer

    def test_count_given_or_patched_in_gives_the_bytes_of_the_csv_path(self):
        csv_text = "番号,書名,日付,可,_deleted\n12,ﾈｺ,2004-03-15,T,\n,,,,1\n7,abcdef,,F,\n"
        expected = mc.build_table(self.fields(), mc.read_records(self.write("d.csv", csv_text), self.fields()), DAY)
        for record_count in (3, None):
            with self.subTest(record_count=record_count):
                data, writer = self.stream(record_count)
                self.assertEqual(data.hex(" "), expected.hex(" "))
                self.assertEqual(data[4:8], b"\x03\x00\x00\x00")
                # Blank bytes that fill values: 4-2 + 6-2 + 0 + 0, then 4+6+8+1, then 4-1 + 0 + 8 + 0.
                self.assertEqual(writer.padding, 6 + 19 + 11)

    def test_wrong_count_length_or_value_is_refused(self):
        fields = self.fields()
        cases = [
            (lambda w: w.add_values(["1", "x", "", ""]), 2, "1 records written, the header counts 2"),
            (lambda w: w.add(b" " * 19), None, "a record of 19 bytes in a table of 20-byte records"),
            (lambda w: w.add_values(["1", "x", "2004-02-30", ""], where="book 9"), None,
             "book 9, field 日付: '2004-02-30' is not a date"),
            (lambda w: w.add_values(["1", "x"]), None, "record: 2 values for 4 fields"),
        ]
        for write, record_count, fragment in cases:
            with self.subTest(fragment=fragment):
                writer = mc.TableWriter(io.BytesIO(), fields, DAY, record_count)
                with self.assertRaises(mc.CatalogueError) as caught:
                    write(writer)
                    writer.close()
                self.assertIn(fragment, str(caught.exception))


class ValueLayoutTest(WriterTestCase):
    CASES = [
        # (type, length, decimals, input, stored bytes)
        ("C", 6, 0, "abc", b"abc   "),
        ("C", 6, 0, " a", b" a    "),              # leading blanks are data
        ("C", 6, 0, "", b"      "),
        ("C", 4, 0, "ナツ", b"\x83\x69\x83\x63"),  # two double-byte characters fill four bytes
        ("C", 6, 0, "ソ表", b"\x83\x5c\x95\x5c  "),  # trail bytes 0x5C kept as they are
        ("C", 8, 0, '"超"%', b'"\x92\xb4"%   '),
        ("N", 10, 0, "1234", b"      1234"),
        ("N", 10, 0, " 42 ", b"        42"),
        ("N", 10, 0, "-3", b"        -3"),
        ("N", 10, 0, "-0", b"         0"),
        ("N", 10, 0, "007", b"         7"),
        ("N", 10, 0, "", b"          "),
        ("N", 10, 0, "2000000001", b"2000000001"),
        ("N", 7, 2, "12.5", b"  12.50"),
        ("N", 7, 2, "0.05", b"   0.05"),
        ("F", 8, 1, "1e3", b"  1000.0"),
        ("D", 8, 0, "2004-03-15", b"20040315"),
        ("D", 8, 0, "0999-01-02", b"09990102"),      # four digits of year, also before 1000
        ("D", 8, 0, "", b"        "),
        ("L", 1, 0, "T", b"T"),
        ("L", 1, 0, "false", b"F"),
        ("L", 1, 0, "1", b"T"),
        ("L", 1, 0, "", b" "),
    ]

    def test_values(self):
        for kind, length, decimals, text, stored in self.CASES:
            with self.subTest(kind=kind, length=length, decimals=decimals, text=text):
                field = mc.make_field("X", kind, str(length), str(decimals), "schema")
                self.assertEqual(mc.format_value(field, text, "here"), stored)

    def test_deleted_column(self):
        for mark, flag in (("1", b"*"), ("true", b"*"), ("T", b"*"), ("", b" "), ("0", b" "), ("false", b" ")):
            with self.subTest(mark=mark):
                fields = mc.read_schema(self.write("s.csv", "name,type,length,decimals\nA,C,2,0\n"))
                records = mc.read_records(self.write("d.csv", f"A,_deleted\nxy,{mark}\n"), fields)
                self.assertEqual(records, [flag + b"xy"])

    def test_columns_in_any_order_and_missing_ones_blank(self):
        fields = mc.read_schema(self.write("s.csv", "name,type,length,decimals\nA,C,2,0\nB,N,3,0\nC,L,1,0\n"))
        records = mc.read_records(self.write("d.csv", "c,A\nT,xy\n"), fields)
        self.assertEqual(records, [b" xy   T"])


class RefusalTest(WriterTestCase):
    SCHEMA = "name,type,length,decimals\n書名,C,5,0\n番号,N,10,0\n日付,D,8,0\n可,L,1,0\n"
    CASES = [
        # (column, value, what the message must say)
        ("書名", "abcdef", "6 bytes in cp932, the field holds 5"),
        ("書名", "アイウ", "6 bytes"),          # the third character would be cut in half: refused, not cut
        ("書名", "波〜", "U+301C"),             # encodes onto U+FF5E's code, so it has no form of its own
        ("書名", "−1", "U+2212"),
        ("書名", "\U0001F600", "U+1F600"),
        ("書名", "a\tb", "control character"),
        ("番号", "12.5", "more than 0 decimals"),
        ("番号", "12345678901", "needs 11 bytes"),
        ("番号", "12a", "not a number"),
        ("番号", "nan", "not a number"),
        ("日付", "2004/03/15", "not a date"),
        ("日付", "2004-02-30", "not a date"),
        ("可", "maybe", "not a logical value"),
    ]

    def test_bad_values_name_line_and_field(self):
        fields = mc.read_schema(self.write("s.csv", self.SCHEMA))
        for column, value, fragment in self.CASES:
            with self.subTest(column=column, value=value):
                path = self.write("d.csv", f"{column}\nok\n{value}\n" if column == "書名" else f"{column}\n\n{value}\n")
                with self.assertRaises(mc.CatalogueError) as caught:
                    mc.read_records(path, fields)
                message = str(caught.exception)
                self.assertIn("line 3", message)
                self.assertIn(f"field {column}", message)
                self.assertIn(fragment, message)

    def test_bad_schemas(self):
        cases = [
            ("価格（円）税込,N,10,0", "14 bytes in cp932, at most 10"),
            ("書名,X,10,0", "not one of C, N, F, D, L"),
            ("書名,C,255,0", "C length must be 1 to 254"),
            ("番号,N,5,4", "do not fit"),
            ("日付,D,6,0", "type D has length 8"),
            ("書名,C,10,0\n書名,C,5,0", "named twice"),
            ("波〜,C,10,0", "U+301C"),
        ]
        for lines, fragment in cases:
            with self.subTest(lines=lines):
                with self.assertRaises(mc.CatalogueError) as caught:
                    mc.read_schema(self.write("s.csv", "name,type,length,decimals\n" + lines + "\n"))
                self.assertIn(fragment, str(caught.exception))

    def test_bad_columns(self):
        fields = mc.read_schema(self.write("s.csv", self.SCHEMA))
        for text, fragment in (("著者名\nx\n", "not a field"), ("書名,書名\na,b\n", "named twice"),
                               ("書名,番号\na\n", "expected 2 columns, found 1")):
            with self.subTest(text=text):
                with self.assertRaises(mc.CatalogueError) as caught:
                    mc.read_records(self.write("d.csv", text), fields)
                self.assertIn(fragment, str(caught.exception))

    def test_command_line_reports_the_error_and_writes_nothing(self):
        schema = self.write("s.csv", self.SCHEMA)
        out = self.dir / "out.dbf"
        tool = str(Path(mc.__file__))
        bad = self.write("bad.csv", "書名\n〜\n")
        run = subprocess.run([sys.executable, tool, "--schema", str(schema), "--csv", str(bad), "--out", str(out)],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 1)
        self.assertIn("field 書名", run.stderr)
        self.assertFalse(out.exists())
        good = self.write("good.csv", "書名\nab\n")
        run = subprocess.run([sys.executable, tool, "--schema", str(schema), "--csv", str(good), "--out", str(out),
                              "--date", "2024-03-15"], capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(out.read_bytes()[:4], b"\x03\x7c\x03\x0f")

    def test_command_line_takes_a_shift_jis_file_name(self):
        schema = self.write("s.csv", self.SCHEMA)
        good = self.write("good.csv", "書名\nab\n")
        out = os.fsdecode(os.fsencode(self.dir) + b"/" + "図書.DBF".encode("cp932"))
        env = dict(os.environ, PYTHONIOENCODING="utf-8:strict")  # no lenient output for odd bytes
        run = subprocess.run([sys.executable, str(Path(mc.__file__)), "--schema", str(schema), "--csv", str(good),
                              "--out", out], capture_output=True, env=env)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertTrue(os.path.exists(out))


class SettingsTest(WriterTestCase):
    def test_lines_end_in_cr_lf_in_cp932(self):
        out = self.dir / "x.ini"
        mc.convert_settings(self.write("x.txt", "[番号設定]\n詰め文字=True\n\n桁=6"), out)
        self.assertEqual(out.read_bytes(), "[番号設定]\r\n詰め文字=True\r\n\r\n桁=6\r\n".encode("cp932"))

    def test_text_without_cp932_form_is_refused(self):
        with self.assertRaises(mc.CatalogueError) as caught:
            mc.convert_settings(self.write("x.txt", "[a]\nb=波〜\n"), self.dir / "x.ini")
        self.assertIn("line 2", str(caught.exception))


class SampleCatalogueTest(unittest.TestCase):
    """Builds the bundled sample once and checks what the search and detail pages depend on."""

    @classmethod
    def setUpClass(cls):
        cls._tmp = tempfile.TemporaryDirectory()
        out = Path(cls._tmp.name)
        cls.counts = mc.build_sample(out, DAY)
        # The files are named in Shift_JIS bytes, as the program opens them.
        files = {name: (bytes(out) + b"/" + name.encode("cp932")) for name in ("図書.DBF", "貸出返却.DBF", "Shelfra.ini")}
        cls.book_fields, cls.books = read_dbf(Path(os.fsdecode(files["図書.DBF"])).read_bytes())
        cls.loan_fields, cls.loans = read_dbf(Path(os.fsdecode(files["貸出返却.DBF"])).read_bytes())
        cls.ini = Path(os.fsdecode(files["Shelfra.ini"])).read_bytes()
        with open(mc.SAMPLE_DIR / "books.csv", encoding="utf-8") as f:
            cls.book_rows = list(csv.DictReader(f))
        with open(mc.SAMPLE_DIR / "loans.csv", encoding="utf-8") as f:
            cls.loan_rows = list(csv.DictReader(f))

    @classmethod
    def tearDownClass(cls):
        cls._tmp.cleanup()

    def column(self, records, fields, name):
        index = [f[0] for f in fields].index(name)
        return [values[index] for _, values in records]

    def live_books(self):
        return [(flag, values) for flag, values in self.books if flag == " "]

    def test_record_counts_match_the_sources(self):
        self.assertEqual(len(self.books), len(self.book_rows))
        self.assertEqual(len(self.loans), len(self.loan_rows))
        self.assertEqual(self.counts, {"図書.DBF": len(self.book_rows), "貸出返却.DBF": len(self.loan_rows)})
        self.assertGreaterEqual(len(self.live_books()), 300)

    def test_book_table_layout(self):
        names = [f[0] for f in self.book_fields]
        self.assertEqual(len(names), 41)
        self.assertEqual(names[:2], ["登録日", "登録番号"])
        self.assertEqual(names[-1], "TRCDNO")
        self.assertIn(("登録番号", "N", 10, 0), self.book_fields)
        self.assertIn(("分類", "N", 4, 0), self.book_fields)
        self.assertIn(("分類記号", "C", 7, 0), self.book_fields)

    def test_registration_numbers_are_unique_whole_numbers(self):
        numbers = self.column(self.books, self.book_fields, "登録番号")
        self.assertTrue(all(n.strip().isdigit() for n in numbers), "blank or fractional registration number")
        repeated = [n for n, c in collections.Counter(numbers).items() if c > 1]
        self.assertEqual(repeated, [])

    def test_every_loan_references_a_live_book(self):
        live = {values[1].strip() for _, values in self.live_books()}
        missing = [n for n in self.column(self.loans, self.loan_fields, "登録番号") if n.strip() not in live]
        self.assertEqual(missing, [])

    def test_loan_states(self):
        numbers = [n.strip() for n in self.column(self.loans, self.loan_fields, "登録番号")]
        returned = self.column(self.loans, self.loan_fields, "返却済")
        due = self.column(self.loans, self.loan_fields, "返却予定日")
        open_loans = collections.Counter(n for n, r in zip(numbers, returned) if r == "F")
        self.assertIn(2, open_loans.values(), "a book with two open loans")
        self.assertIn("", returned, "a loan with a blank returned flag")
        self.assertTrue(all(d[:6] in ("202612", "202701") for d, r in zip(due, returned) if r != "T"))
        returned_only = {n for n, r in zip(numbers, returned) if r == "T"} - set(open_loans) - {
            n for n, r in zip(numbers, returned) if r == ""}
        self.assertTrue(returned_only, "a book whose loans are all returned")
        mixed = {n for n, r in zip(numbers, returned) if r == "T"} & set(open_loans)
        self.assertTrue(mixed, "a book with an open loan among returned ones")

    def test_records_the_tests_rely_on(self):
        live = self.live_books()
        titles = self.column(live, self.book_fields, "書名")
        readings = self.column(live, self.book_fields, "書名ｶﾅ")
        codes = self.column(live, self.book_fields, "分類記号")
        descriptions = self.column(live, self.book_fields, "内容紹介")
        withdrawn = self.column(live, self.book_fields, "除籍フラグ")
        wanted = {
            "title with a double quote": any('"' in t for t in titles),
            "title with a percent sign": any("%" in t for t in titles),
            "reading with ﾊﾟ": any("ﾊﾟ" in r for r in readings),
            "title with a trail byte 0x5C": any(b"\x5c" in t.encode("cp932") for t in titles),
            "title with full-width latin": any("ＳＱＬ" in t for t in titles),
            "empty classification code": "" in codes,
            "several titles with 猫": sum("猫" in t for t in titles) >= 3,
            "description of 254 bytes": any(len(d.encode("cp932")) == 254 for d in descriptions),
            "withdrawn book": "T" in withdrawn,
            "number above six digits": any(len(n.strip()) > 6 for n in self.column(live, self.book_fields, "登録番号")),
            "deleted record": any(flag == "*" for flag, _ in self.books),
        }
        self.assertEqual([k for k, found in wanted.items() if not found], [])

    def test_readings_are_half_width(self):
        for name in ("書名ｶﾅ", "著者名ｶﾅ", "叢書名ｶﾅ"):
            for value in self.column(self.books, self.book_fields, name):
                with self.subTest(field=name, value=value):
                    self.assertTrue(all(len(ch.encode("cp932")) == 1 for ch in value))

    def test_settings_file(self):
        self.assertTrue(self.ini.endswith(b"\r\n"))
        self.assertNotIn(b"\n", self.ini.replace(b"\r\n", b""))
        lines = self.ini.decode("cp932").split("\r\n")
        for line in ("[Web棚読]", "[分類表示]", "0=総記", "9=文学", "[番号設定]", "詰め文字=True", "標準=True", "桁=6"):
            self.assertIn(line, lines)
        self.assertTrue(any(line.startswith("メッセージ=") for line in lines))


if __name__ == "__main__":
    unittest.main()
