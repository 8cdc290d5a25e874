#!/usr/bin/env python3
"""Build-time converter: UTF-8 resource texts -> a C++ header of Shift_JIS (cp932) byte strings.

Usage:
  sjis_embed.py --out HEADER [--utf8] [--messages FILE]... [--lines NAME=FILE]... [--text NAME=FILE]...

--messages FILE  lines "kName=text"; the text runs to the end of the line, blanks kept.
                 Empty lines and lines starting with "#" are skipped.
--lines NAME=FILE  the file becomes `inline constexpr std::string_view NAME[]`, one view per line
                 (without its line break); the producer adds CR LF itself.
--text NAME=FILE   the whole file (line breaks as LF removed at the very end) as one view.

Every text is encoded as strict cp932 and decoded again; a text that does not survive the
round trip (U+301C versus U+FF5E, U+2212 versus U+FF0D ...) is refused, as are a BOM and CR.
Only --lines and --text files may hold tabs.
--utf8           the texts stay UTF-8 (for pages sent in UTF-8): no cp932 round trip; BOM, CR
                 and tab rules as above.
"""
import argparse
import os
import re
import sys


def fail(msg):
    sys.stderr.write("sjis_embed: " + msg + "\n")
    sys.exit(1)


UTF8 = False


def encode(text, where, allow_tab):
    if "\ufeff" in text:
        fail(f"{where}: byte order mark not allowed")
    if "\r" in text:
        fail(f"{where}: CR not allowed (write LF line ends)")
    if "\t" in text and not allow_tab:
        fail(f"{where}: tab not allowed")
    if UTF8:
        return text.encode("utf-8")
    try:
        data = text.encode("cp932", errors="strict")
    except UnicodeEncodeError as e:
        fail(f"{where}: not encodable as cp932: {e}")
    if data.decode("cp932") != text:
        fail(f"{where}: cp932 round trip changes the text")
    return data


def literal(data):
    out = []
    for b in data:
        if b >= 0x80 or b < 0x20 or b == 0x7F:
            out.append("\\%03o" % b)
        elif b == 0x5C:
            out.append("\\\\")
        elif b == 0x22:
            out.append('\\"')
        elif b == 0x3F:  # keep "??" sequences harmless
            out.append("\\077")
        else:
            out.append(chr(b))
    return '"' + "".join(out) + '"'


def view(data):
    return "std::string_view{%s, %d}" % (literal(data), len(data))


NAME_RE = re.compile(r"^k[A-Za-z0-9_]+$")


def read_utf8(path):
    with open(path, "rb") as f:
        raw = f.read()
    try:
        return raw.decode("utf-8", errors="strict")
    except UnicodeDecodeError as e:
        fail(f"{path}: not UTF-8: {e}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--namespace", default="shelfra::res")
    ap.add_argument("--messages", action="append", default=[])
    ap.add_argument("--lines", action="append", default=[])
    ap.add_argument("--text", action="append", default=[])
    ap.add_argument("--utf8", action="store_true")
    args = ap.parse_args()
    global UTF8
    UTF8 = args.utf8

    body = []
    seen = set()

    def declare(name, where):
        if not NAME_RE.match(name):
            fail(f"{where}: bad constant name {name!r}")
        if name in seen:
            fail(f"{where}: duplicate constant {name}")
        seen.add(name)

    for path in args.messages:
        text = read_utf8(path)
        for no, line in enumerate(text.split("\n"), 1):
            if not line or line.startswith("#"):
                continue
            if "=" not in line:
                fail(f"{path}:{no}: expected kName=text")
            name, value = line.split("=", 1)
            declare(name, f"{path}:{no}")
            data = encode(value, f"{path}:{no}", allow_tab=False)
            body.append(f"inline constexpr std::string_view {name} = {view(data)};")

    for entry in args.lines:
        name, path = entry.split("=", 1)
        declare(name, path)
        text = read_utf8(path)
        if text.endswith("\n"):
            text = text[:-1]
        lines = text.split("\n") if text else []
        items = [view(encode(l, f"{path}:{i + 1}", allow_tab=True)) for i, l in enumerate(lines)]
        body.append(f"inline constexpr std::string_view {name}[] = {{")
        body.extend("    " + it + "," for it in items)
        body.append("};")

    for entry in args.text:
        name, path = entry.split("=", 1)
        declare(name, path)
        text = read_utf8(path)
        if text.endswith("\n"):
            text = text[:-1]
        body.append(f"inline constexpr std::string_view {name} = {view(encode(text, path, True))};")

    sources = ", ".join(os.path.basename(p) for p in
                        args.messages + [s.split("=", 1)[1] for s in args.lines + args.text])
    out = [
        f"// Generated from {sources} by tools/sjis_embed.py. Do not edit.",
        "#pragma once",
        "#include <string_view>",
        "",
        f"namespace {args.namespace} {{",
        *body,
        f"}}  // namespace {args.namespace}",
        "",
    ]
    tmp = args.out + ".tmp"
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(tmp, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(out))
    os.replace(tmp, args.out)


if __name__ == "__main__":
    main()
