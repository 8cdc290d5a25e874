"""Exits 0 when the load run's catalogue was made by the current bench/gen_catalogue.py, 1 when
it was made by another version of the generator (and so must be made again).

Usage: catalogue_is_current.py MANIFEST     (the catalogue's manifest.json)
"""
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import gen_catalogue as gen  # noqa: E402

with open(sys.argv[1], encoding="utf-8") as f:
    sys.exit(0 if json.load(f)["generator"] == gen.generator_digest() else 1)
