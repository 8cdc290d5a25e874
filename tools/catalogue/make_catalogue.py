#!/usr/bin/env python3
"""Catalogue writer: builds a dBase III table (.DBF) with Shift_JIS (cp932) text from a UTF-8 CSV file.

Usage:
  make_catalogue.py --schema SCHEMA.csv --csv DATA.csv --out TABLE.DBF [--date YYYY-MM-DD]
  make_catalogue.py --sample OUTDIR [--date YYYY-MM-DD]

The schema is a UTF-8 CSV file with the header row "name,type,length,decimals", one line per
field in table order. Types: C (text), N and F (numbers), D (date), L (logical).
The data file is a UTF-8 CSV file whose header row names schema fields (a field without a column
is blank in every record); an extra column "_deleted" marks a record deleted when it holds 1 or true.

Values: C as given, left-aligned and blank-padded (a value longer than the field is refused, never
cut); N and F right-aligned with the field's decimals; D from "YYYY-MM-DD"; L from T/F (also
Y/N, true/false, 1/0). An empty value is blank. Every text must have a cp932 form that decodes
back to the same text; anything else is refused with the file, line and field named.

--sample writes the bundled sample catalogue into OUTDIR: 図書.DBF, 貸出返却.DBF and Shelfra.ini
(its UTF-8 source converted to cp932 with CR LF line ends). The program opens its tables by
Shift_JIS names, so the table files are named in cp932 bytes on disk.
--date sets the last-update date in the header (default: today).

As a module it is the one table writer of the repository: TableWriter streams a table to a file one
record at a time (the benchmark's generator writes a million books through it), and build_table
returns a small table's bytes.
"""
import argparse
import csv
import datetime
import decimal
import io
import os
import re
import struct
import sys
from pathlib import Path

TOOL_DIR = Path(__file__).resolve().parent
SAMPLE_DIR = TOOL_DIR.parent.parent / "sample"
SCHEMA_DIR = TOOL_DIR / "schema"

# The sample catalogue: (output file, schema, data).
SAMPLE_TABLES = (
    ("図書.DBF", SCHEMA_DIR / "books.csv", SAMPLE_DIR / "books.csv"),
    ("貸出返却.DBF", SCHEMA_DIR / "loans.csv", SAMPLE_DIR / "loans.csv"),
)
SAMPLE_INI = ("Shelfra.ini", SAMPLE_DIR / "Shelfra.ini.txt")

LANGUAGE_SHIFT_JIS = 0x13  # language driver byte of a Shift_JIS (cp932) table
DELETED_COLUMN = "_deleted"
TRUE_WORDS = {"t", "y", "true", "yes", "1"}
FALSE_WORDS = {"f", "n", "false", "no", "0"}
CONTROL = re.compile(r"[\x00-\x1f\x7f]")
CONTROL_BUT_TAB = re.compile(r"[\x00-\x08\x0a-\x1f\x7f]")
DATE = re.compile(r"(\d{4})-(\d{2})-(\d{2})")


class CatalogueError(Exception):
    """A schema, data or settings file that cannot become a table; the message says where."""


class Field:
    """One field of the schema, with its name already in cp932 bytes."""

    def __init__(self, name, kind, length, decimals):
        self.name = name
        self.kind = kind
        self.length = length
        self.decimals = decimals
        self.name_bytes = name.encode("cp932")

    def __repr__(self):
        return f"Field({self.name!r}, {self.kind}, {self.length}, {self.decimals})"


def cp932_bytes(text, allow_tab=False):
    """Returns `text` as cp932 bytes; raises CatalogueError, saying why but not where, when it has
    no exact cp932 form or holds a control character."""
    control = (CONTROL_BUT_TAB if allow_tab else CONTROL).search(text)
    if control:
        raise CatalogueError(f"control character U+{ord(control[0]):04X} is not allowed")
    try:
        data = text.encode("cp932", errors="strict")
    except UnicodeEncodeError as e:
        bad = text[e.start]
        raise CatalogueError(f"character {bad!r} (U+{ord(bad):04X}) has no cp932 form") from None
    # The codec maps a few characters onto another one's code (U+301C onto U+FF5E's 0x8160);
    # such text would read back changed, so it is refused as well.
    back = data.decode("cp932")
    if back != text:
        bad = next(a for a, b in zip(text, back) if a != b)
        raise CatalogueError(f"character {bad!r} (U+{ord(bad):04X}) has no cp932 form")
    return data


def encode_text(text, where, allow_tab=False):
    """Returns `text` as cp932 bytes; raises CatalogueError naming `where` when it has no exact cp932 form."""
    try:
        return cp932_bytes(text, allow_tab)
    except CatalogueError as e:
        raise CatalogueError(f"{where}: {e}") from None


def flag_value(text):
    """True or False for a logical text; raises CatalogueError saying why but not where."""
    word = text.strip().lower()
    if word in TRUE_WORDS:
        return True
    if word in FALSE_WORDS:
        return False
    raise CatalogueError(f"{text!r} is not a logical value (T or F)")


def parse_flag(text, where):
    try:
        return flag_value(text)
    except CatalogueError as e:
        raise CatalogueError(f"{where}: {e}") from None


def read_schema(path):
    """Reads a schema file into a list of Field; raises CatalogueError on a bad line."""
    fields = []
    seen = set()
    with open(path, encoding="utf-8-sig", newline="") as f:
        reader = csv.reader(f)
        header = next(reader, None)
        if header is None or [h.strip() for h in header] != ["name", "type", "length", "decimals"]:
            raise CatalogueError(f"{path}: the header row must be name,type,length,decimals")
        for row in reader:
            if not row or all(not c.strip() for c in row):
                continue
            where = f"{path} line {reader.line_num}"
            if len(row) != 4:
                raise CatalogueError(f"{where}: expected 4 columns, found {len(row)}")
            name, kind, length, decimals = (c.strip() for c in row)
            fields.append(make_field(name, kind.upper(), length, decimals, where))
            key = name.upper()
            if key in seen:
                raise CatalogueError(f"{where}: field {name} is named twice")
            seen.add(key)
    if not fields:
        raise CatalogueError(f"{path}: no fields")
    record_length = 1 + sum(f.length for f in fields)
    if record_length > 0xFFFF or 32 + 32 * len(fields) + 1 > 0xFFFF:
        raise CatalogueError(f"{path}: too many or too long fields for a dBase table")
    return fields


def make_field(name, kind, length, decimals, where):
    if not name:
        raise CatalogueError(f"{where}: empty field name")
    name_bytes = encode_text(name, f"{where}, field name {name}")
    if len(name_bytes) > 10:
        raise CatalogueError(f"{where}: field name {name} is {len(name_bytes)} bytes in cp932, at most 10 fit")
    if kind not in ("C", "N", "F", "D", "L"):
        raise CatalogueError(f"{where}: field {name}: type {kind!r} is not one of C, N, F, D, L")
    fixed = {"D": 8, "L": 1}.get(kind)
    try:
        length = int(length) if length else fixed
        decimals = int(decimals) if decimals else 0
    except ValueError:
        raise CatalogueError(f"{where}: field {name}: length and decimals must be whole numbers") from None
    if length is None:
        raise CatalogueError(f"{where}: field {name}: length missing")
    if fixed is not None and (length != fixed or decimals != 0):
        raise CatalogueError(f"{where}: field {name}: type {kind} has length {fixed} and no decimals")
    if kind == "C" and not (1 <= length <= 254 and decimals == 0):
        raise CatalogueError(f"{where}: field {name}: C length must be 1 to 254, without decimals")
    if kind in ("N", "F"):
        if not 1 <= length <= 20:
            raise CatalogueError(f"{where}: field {name}: {kind} length must be 1 to 20")
        if decimals < 0 or (decimals > 0 and decimals > length - 2):
            raise CatalogueError(f"{where}: field {name}: {decimals} decimals do not fit in {length} bytes")
    return Field(name, kind, length, decimals)


def value_bytes(field, text):
    """Returns the bytes that store `text` in `field` before they are padded to its width (empty for
    a blank value); raises CatalogueError saying why but not where."""
    if field.kind == "C":
        # Printable ASCII is the same bytes in cp932 and needs no check; the benchmark's
        # catalogue of a million books passes here about thirty million times.
        data = text.encode("ascii") if text.isascii() and text.isprintable() else cp932_bytes(text)
        if len(data) > field.length:
            raise CatalogueError(f"value is {len(data)} bytes in cp932, the field holds {field.length}: {text!r}")
        return data
    stripped = text.strip()
    if stripped == "":
        return b""
    if field.kind in ("N", "F"):
        return number_bytes(field, stripped)
    if field.kind == "D":
        match = DATE.fullmatch(stripped)
        try:
            if not match:
                raise ValueError
            day = datetime.date(int(match[1]), int(match[2]), int(match[3]))
        except ValueError:
            raise CatalogueError(f"{text!r} is not a date YYYY-MM-DD") from None
        return f"{day.year:04d}{day.month:02d}{day.day:02d}".encode("ascii")
    return b"T" if flag_value(text) else b"F"


def number_bytes(field, text):
    if field.decimals == 0 and text.isascii() and text.isdigit():
        data = text.lstrip("0").encode("ascii") or b"0"  # decimal_bytes' answer, without its cost
    else:
        data = decimal_bytes(field, text)
    if len(data) > field.length:
        raise CatalogueError(f"{text} needs {len(data)} bytes, the field holds {field.length}")
    return data


def decimal_bytes(field, text):
    try:
        value = decimal.Decimal(text)
    except decimal.InvalidOperation:
        raise CatalogueError(f"{text!r} is not a number") from None
    if not value.is_finite():
        raise CatalogueError(f"{text!r} is not a number")
    step = decimal.Decimal(1).scaleb(-field.decimals)
    rounded = value.quantize(step, rounding=decimal.ROUND_HALF_EVEN)
    if rounded != value:
        raise CatalogueError(f"{text} has more than {field.decimals} decimals")
    if rounded == 0:
        rounded = abs(rounded)  # no "-0"
    return format(rounded, "f").encode("ascii")


def pad(field, data):
    """Fills `data` to the field's width with blanks: text on the left, everything else on the right."""
    return data.ljust(field.length, b" ") if field.kind == "C" else data.rjust(field.length, b" ")


def format_value(field, text, where):
    """Returns the `field.length` bytes that store `text` in a record; raises CatalogueError naming `where`."""
    try:
        return pad(field, value_bytes(field, text))
    except CatalogueError as e:
        raise CatalogueError(f"{where}: {e}") from None


def read_records(path, fields):
    """Reads a data file; returns a list of record bytes, deletion flag first."""
    by_name = {f.name.upper(): i for i, f in enumerate(fields)}
    records = []
    with open(path, encoding="utf-8-sig", newline="") as f:
        reader = csv.reader(f)
        header = next(reader, None)
        if header is None:
            raise CatalogueError(f"{path}: empty file, a header row is needed")
        columns = []  # per CSV column: field index, or -1 for the deletion mark
        for name in header:
            key = name.strip().upper()
            if key == DELETED_COLUMN.upper():
                columns.append(-1)
            elif key in by_name:
                columns.append(by_name[key])
            else:
                raise CatalogueError(f"{path}: column {name!r} is not a field of the schema")
        if len(set(columns)) != len(columns):
            raise CatalogueError(f"{path}: a column is named twice")
        blank = [b" " * fld.length for fld in fields]
        for row in reader:
            if not row:
                continue
            line = reader.line_num
            if len(row) != len(columns):
                raise CatalogueError(f"{path} line {line}: expected {len(columns)} columns, found {len(row)}")
            values = list(blank)
            flag = b" "
            for column, text in zip(columns, row):
                if column < 0:
                    if text.strip() and parse_flag(text, f"{path} line {line}, {DELETED_COLUMN}"):
                        flag = b"*"
                    continue
                fld = fields[column]
                values[column] = format_value(fld, text, f"{path} line {line}, field {fld.name}")
            records.append(flag + b"".join(values))
    return records


class TableWriter:
    """Writes a table to `out`, a binary file open for writing (not owned: close() leaves it open),
    one record at a time, so a table of any size takes no more memory than one record.

    The header and the field descriptors are written at once. A record count given up front goes
    into the header then, and close() checks that exactly that many records came; without one the
    header says 0 until close() writes the count in, which needs a seekable file. Raises
    CatalogueError for a last-update year the header cannot hold, a record of the wrong length, or
    a record count that does not match or does not fit."""

    def __init__(self, out, fields, update_date, record_count=None):
        if not 1900 <= update_date.year <= 2155:
            raise CatalogueError(f"last-update year {update_date.year} does not fit the header")
        if record_count is not None and not 0 <= record_count <= 0xFFFFFFFF:
            raise CatalogueError(f"{record_count} records do not fit a dBase table")
        self.out = out
        self.fields = fields
        self.record_length = 1 + sum(f.length for f in fields)
        self.expected = record_count
        self.written = 0
        self.padding = 0  # blank bytes that fill values to their field's width, over all records
        self.start = out.tell() if record_count is None else None
        header_length = 32 + 32 * len(fields) + 1
        # Bytes 0-31: version, YY MM DD, record count, header length, record length, 17 reserved
        # bytes, the language driver byte (29) and two reserved bytes.
        head = bytearray(struct.pack("<B3BIHH", 0x03, update_date.year - 1900, update_date.month, update_date.day,
                                     record_count or 0, header_length, self.record_length))
        head += bytes(17) + bytes([LANGUAGE_SHIFT_JIS]) + bytes(2)
        for f in fields:
            # Name (11 bytes, zero-padded), type, 4 reserved bytes, length, decimals, 14 reserved bytes.
            head += f.name_bytes.ljust(11, b"\0") + f.kind.encode("ascii") + bytes(4)
            head += bytes([f.length, f.decimals]) + bytes(14)
        head += b"\x0d"
        out.write(head)

    def add(self, record):
        """Writes one record's bytes, the deletion flag (blank or "*") first."""
        if len(record) != self.record_length:
            raise CatalogueError(f"a record of {len(record)} bytes in a table of {self.record_length}-byte records")
        self.out.write(record)
        self.written += 1

    def add_values(self, texts, deleted=False, where="record"):
        """Writes one record from its texts (a sequence in field order), each as format_value stores
        it; raises CatalogueError naming `where` (and the field) for a text the field cannot hold or
        a text count that is not the field count."""
        if len(texts) != len(self.fields):
            raise CatalogueError(f"{where}: {len(texts)} values for {len(self.fields)} fields")
        parts = [b"*" if deleted else b" "]
        padding = 0
        for field, text in zip(self.fields, texts):
            try:
                data = value_bytes(field, text)
            except CatalogueError as e:
                raise CatalogueError(f"{where}, field {field.name}: {e}") from None
            padding += field.length - len(data)
            # pad(), written out: this runs once per field of every record.
            parts.append(data.ljust(field.length) if field.kind == "C" else data.rjust(field.length))
        self.add(b"".join(parts))
        self.padding += padding

    def close(self):
        """Writes the end mark and, when it was not given up front, the record count."""
        if self.expected is not None and self.written != self.expected:
            raise CatalogueError(f"{self.written} records written, the header counts {self.expected}")
        if self.written > 0xFFFFFFFF:
            raise CatalogueError(f"{self.written} records do not fit a dBase table")
        self.out.write(b"\x1a")
        if self.expected is None:
            end = self.out.tell()
            self.out.seek(self.start + 4)
            self.out.write(struct.pack("<I", self.written))
            self.out.seek(end)


def build_table(fields, records, update_date):
    """Returns the bytes of a whole table: header, field descriptors, records, end mark."""
    out = io.BytesIO()
    writer = TableWriter(out, fields, update_date, len(records))
    for record in records:
        writer.add(record)
    writer.close()
    return out.getvalue()


def write_table(schema_path, csv_path, out_path, update_date):
    """Builds one table; returns its record count. Nothing is written when the data is refused."""
    fields = read_schema(schema_path)
    records = read_records(csv_path, fields)
    data = build_table(fields, records, update_date)
    with open(out_path, "wb") as f:
        f.write(data)
    return len(records)


def convert_settings(source_path, out_path):
    """Writes a UTF-8 settings source as cp932 text, every line ending in CR LF."""
    text = Path(source_path).read_text(encoding="utf-8")
    if text.startswith("\ufeff"):
        raise CatalogueError(f"{source_path}: byte order mark not allowed")
    lines = text.replace("\r\n", "\n").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    data = b"".join(
        encode_text(line, f"{source_path} line {i}", allow_tab=True) + b"\r\n"
        for i, line in enumerate(lines, start=1))
    with open(out_path, "wb") as f:
        f.write(data)


def sample_path(out_dir, name):
    """The path of a sample file: OUTDIR's own bytes, then the name in cp932 bytes."""
    return os.path.join(os.fsencode(out_dir), name.encode("cp932"))


def build_sample(out_dir, update_date):
    """Writes the bundled sample catalogue into out_dir; returns {file name: record count}."""
    os.makedirs(out_dir, exist_ok=True)
    counts = {}
    for name, schema, data in SAMPLE_TABLES:
        counts[name] = write_table(schema, data, sample_path(out_dir, name), update_date)
    name, source = SAMPLE_INI
    convert_settings(source, sample_path(out_dir, name))
    return counts


def say(stream, text):
    """Writes a line; path bytes that are not UTF-8 (Shift_JIS file names) pass through unchanged."""
    stream.flush()
    stream.buffer.write((text + "\n").encode("utf-8", "surrogateescape"))
    stream.buffer.flush()


def parse_date(text):
    try:
        return datetime.date.fromisoformat(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a date YYYY-MM-DD") from None


def main(argv=None):
    parser = argparse.ArgumentParser(description="Builds a dBase III table with Shift_JIS text from a CSV file.")
    parser.add_argument("--schema", help="schema CSV: name,type,length,decimals")
    parser.add_argument("--csv", help="data CSV, UTF-8, header row of field names")
    parser.add_argument("--out", help="the table file to write")
    parser.add_argument("--sample", metavar="OUTDIR", help="build the bundled sample catalogue into OUTDIR")
    parser.add_argument("--date", type=parse_date, default=None, help="last-update date (default: today)")
    args = parser.parse_args(argv)
    update_date = args.date or datetime.date.today()
    try:
        if args.sample:
            if args.schema or args.csv or args.out:
                parser.error("--sample takes no --schema, --csv or --out")
            for name, count in build_sample(args.sample, update_date).items():
                say(sys.stdout, f"{os.path.join(args.sample, name)}: {count} records")
            return 0
        if not (args.schema and args.csv and args.out):
            parser.error("give --schema, --csv and --out, or --sample OUTDIR")
        count = write_table(args.schema, args.csv, args.out, update_date)
        say(sys.stdout, f"{args.out}: {count} records")
        return 0
    except (CatalogueError, OSError) as e:
        say(sys.stderr, f"make_catalogue: {e}")
        return 1


if __name__ == "__main__":
    sys.exit(main())
