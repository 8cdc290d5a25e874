#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer it may not use.

The layers and what each may use come from the build (CMakeLists.txt passes them, one
--layer NAME=USED,USED... each); a file of a layer may include its own layer's headers, those
of the layers it uses, the standard library and system headers, and its layer's generated
resource header (<layer>_res.h) and the other headers it generates (GENERATED_BY). Test sources
(*_test.cpp, *_test_support.h) may also include tests/support. The top-level program entries
form the layer "programs".
"""
import argparse
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
GENERATED = re.compile(r'^([a-z]+)_res\.h$')
# Generated headers other than the resource headers, and the layer that generates them.
GENERATED_BY = {"cp932_table.h": "base"}


def layer_files(root, layer):
    if layer == "programs":
        for name in sorted(os.listdir(root)):
            if name.endswith(".cpp") or name.endswith(".h"):
                yield name
        return
    for folder, dirs, files in os.walk(os.path.join(root, layer)):
        dirs[:] = sorted(d for d in dirs if d not in ("testdata", "res"))
        for name in sorted(files):
            if name.endswith(".cpp") or name.endswith(".h"):
                yield os.path.relpath(os.path.join(folder, name), root)


def header_layer(header, layers):
    """The layer a quoted include names, or None for one outside the layers."""
    if "/" not in header:
        generated = GENERATED.match(header)
        return generated.group(1) if generated else GENERATED_BY.get(header)
    first = header.split("/", 1)[0]
    return first if first in layers else None


def check(root, layers):
    faults = []
    for layer, used in layers.items():
        allowed = {layer, *used}
        for path in layer_files(root, layer):
            is_test = path.endswith("_test.cpp") or path.endswith("_test_support.h")
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    header = m.group(1)
                    if is_test and header.startswith("tests/support/"):
                        continue
                    target = header_layer(header, layers)
                    if target is None:
                        faults.append(f"{path}:{number}: includes \"{header}\", which is in no layer")
                    elif target not in allowed:
                        faults.append(f"{path}:{number}: layer {layer} includes \"{header}\" of layer {target}, "
                                      f"but may use only {', '.join(sorted(allowed - {layer})) or 'nothing'}")
    return faults


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--layer", action="append", required=True, help="NAME=USED,USED")
    args = parser.parse_args()
    layers = {}
    for entry in args.layer:
        name, _, used = entry.partition("=")
        layers[name] = [u for u in used.split(",") if u]
    faults = check(args.root, layers)
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        return 1
    print(f"includes follow the layers ({len(layers)} layers)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
