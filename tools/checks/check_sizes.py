#!/usr/bin/env python3
"""Fails when a program source file is longer than 500 lines or a function in it longer than 80.

A function is a definition that starts at column 0 and ends with a "}" alone at column 0
(namespaces are not indented); class bodies and tables end with "};" and are not functions.
Test sources (*_test.cpp) are not program sources.
"""
import argparse
import os
import sys

MAX_FILE_LINES = 500
MAX_FUNCTION_LINES = 80
NOT_A_START = ("#", "//", "/*", "*", "}", "namespace", "using ", "template <class", "public:", "private:",
               "protected:")


def sources(root, folders):
    for folder in folders:
        path = os.path.join(root, folder)
        if os.path.isfile(path):
            yield folder
            continue
        for here, dirs, files in os.walk(path):
            dirs[:] = sorted(d for d in dirs if d not in ("testdata", "res"))
            for name in sorted(files):
                if (name.endswith(".cpp") or name.endswith(".h")) and not name.endswith("_test.cpp"):
                    yield os.path.relpath(os.path.join(here, name), root)


def long_functions(lines):
    start = None
    for number, line in enumerate(lines, 1):
        text = line.rstrip()
        if not text or line[0].isspace():
            continue
        if text == "}":
            if start is not None and number - start + 1 > MAX_FUNCTION_LINES:
                yield start, number - start + 1, lines[start - 1].strip()
            start = None
        elif text.startswith("};") or text.endswith(";") or text.endswith("}"):
            start = None  # a class or table ends, a declaration, a one-line definition
        elif not line.startswith(NOT_A_START) and start is None:
            start = number


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("folders", nargs="+")
    args = parser.parse_args()
    faults = []
    for path in sources(args.root, args.folders):
        with open(os.path.join(args.root, path), encoding="utf-8", errors="replace") as f:
            lines = f.read().split("\n")
        if len(lines) - 1 > MAX_FILE_LINES:
            faults.append(f"{path}: {len(lines) - 1} lines (at most {MAX_FILE_LINES})")
        for start, length, head in long_functions(lines):
            faults.append(f"{path}:{start}: a function of {length} lines (at most {MAX_FUNCTION_LINES}): {head}")
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        return 1
    print("program sources keep to their sizes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
