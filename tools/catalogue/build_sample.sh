#!/bin/sh
# Builds the bundled sample catalogue (図書.DBF, 貸出返却.DBF, Shelfra.ini) into OUTDIR.
# Usage: build_sample.sh OUTDIR [--date YYYY-MM-DD]
set -e
if [ $# -lt 1 ]; then
  echo "usage: $0 OUTDIR [--date YYYY-MM-DD]" >&2
  exit 2
fi
out=$1
shift
exec python3 "$(dirname "$0")/make_catalogue.py" --sample "$out" "$@"
