"""Watches the search index folder during a load run: every INTERVAL seconds it lists the
folder and writes one line to OUT, the time (seconds since the epoch) followed by the names of
the temporary index files there at that moment ("<16 hex>.idx.tmp.<pid>.<n>", one for each build
that is writing; the build's side files "<...>.<n>.pairs" and "<...>.<n>.rows" are left out,
being the same build's). A folder not made yet counts as empty. It ends when the file STOP appears,
or after LIMIT seconds, whichever comes first.

Usage: watch_index.py INDEX_DIR OUT STOP [--interval SECONDS] [--limit SECONDS]
"""
import argparse
import os
import time

TEMPORARY = ".idx.tmp."
SIDE = (".pairs", ".rows")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("index_dir")
    parser.add_argument("out")
    parser.add_argument("stop")
    parser.add_argument("--interval", type=float, default=0.1)
    parser.add_argument("--limit", type=float, default=600.0)
    args = parser.parse_args()

    deadline = time.monotonic() + args.limit
    next_sample = time.monotonic()
    with open(args.out, "w", encoding="ascii", errors="backslashreplace", buffering=1) as out:
        while time.monotonic() < deadline and not os.path.exists(args.stop):
            try:
                names = sorted(n for n in os.listdir(args.index_dir) if TEMPORARY in n and not n.endswith(SIDE))
            except FileNotFoundError:
                names = []
            out.write(" ".join(["%.3f" % time.time()] + names) + "\n")
            next_sample += args.interval
            time.sleep(max(0.0, next_sample - time.monotonic()))


if __name__ == "__main__":
    main()
