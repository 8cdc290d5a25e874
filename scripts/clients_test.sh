#!/usr/bin/env bash
# Real clients read shelfra.cgi's machine-readable answers: every test of tests/clients/ (each
# *_test.py run with python3, each *.test.js with node's test runner, each *_test.sh with bash) against
# lighttpd on 127.0.0.1 serving a generated catalogue with its search index. Installs what is
# missing (lighttpd, python3-feedparser, libxml2-utils for xmllint, node and the npm packages
# of tests/clients/package.json), builds the programs when they are missing, and exits
# non-zero when a test fails.
#
# The tests find the server and the catalogue in the environment:
#   SHELFRA_OPAC_URL      the UTF-8 front's address (http://127.0.0.1:PORT/cgi-bin/shelfra.cgi)
#   SHELFRA_CLIENTS_DATA  the served catalogue's folder (its 図書.DBF may be replaced by a test
#                         that needs the catalogue to change: with a copy of itself, so every
#                         other test still finds the same books)
#   SHELFRA_CLIENTS_MANIFEST  the generator's manifest.json (the counts of its searches)
#   SHELFRA_SOURCE_DIR    this checkout
# Usage: scripts/clients_test.sh [--books N] [TEST...]   (default 3000 books, every test)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"
offer_help "${BASH_SOURCE[0]}" "$@"

books=3000
only=()
while (($#)); do
  case "$1" in
    --books) books="$2"; shift 2 ;;
    *) only+=("$1"); shift ;;
  esac
done

packages=(lighttpd python3-feedparser libxml2-utils)
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
setup_packages "${packages[@]}"
exe="$root/build/vovivavi.exe"
[ -x "$exe" ] && [ -x "$root/build/shelfra.cgi" ] || "$root/scripts/build.sh"

work="$root/build-clients"
data="$work/catalogue-$books"
mkdir -p "$work"
if [ ! -f "$data/manifest.json" ] || ! python3 "$root/scripts/load/catalogue_is_current.py" "$data/manifest.json"; then
  echo "clients_test: generating a catalogue of $books books in $data" >&2
  rm -rf "$data.new"
  python3 "$root/bench/gen_catalogue.py" --books "$books" --out "$data.new" >/dev/null
  rm -f "$data.new/books.sqlite"
  rm -rf "$data"
  mv "$data.new" "$data"
fi

run_dir="$(mktemp -d "${TMPDIR:-/tmp}/shelfra-clients.XXXXXX")"
state="$run_dir/server"
cleanup() {
  [ -f "$state" ] && "$root/scripts/serve.sh" --stop "$state" || true
  for _ in $(seq 150); do compgen -G "$run_dir/index/*.idx.tmp.*" >/dev/null || break; sleep 0.2; done
  rm -rf -- "$run_dir"
}
trap cleanup EXIT

# The served catalogue is a copy of the run's own, which a test may change.
served="$run_dir/catalogue"
mkdir "$served" "$run_dir/index"
chmod 0700 "$run_dir/index"
for f in "$data"/*; do
  case "${f##*/}" in manifest.json|shelfra.conf) continue ;; esac
  cp -- "$f" "$served/"
done
{ cat "$data/shelfra.conf"; printf '[Index]\nDirectory=../index\n'; } >"$served/shelfra.conf"
"$root/scripts/serve.sh" --background "$state" --owner $$ --exe "$exe" --logs "$run_dir/logs" "$served" auto
export SHELFRA_OPAC_URL="$(sed -n 's/^OPAC_URL=//p' "$state")"
export SHELFRA_CLIENTS_DATA="$served"
export SHELFRA_CLIENTS_MANIFEST="$data/manifest.json"
export SHELFRA_SOURCE_DIR="$root"
[ -n "$SHELFRA_OPAC_URL" ] || { echo "clients_test: the server does not serve shelfra.cgi" >&2; exit 1; }

cd "$root/tests/clients"
if [ -f package.json ] && [ ! -d node_modules ]; then
  npm ci --no-audit --no-fund --loglevel=error
fi

# Debian's Python runs the Python tests: setup_packages installs their modules for it, which a
# python3 found earlier on PATH (a version manager's) would not see.
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3
status=0
ran=0
for test in *_test.py *.test.js *_test.sh; do
  [ -f "$test" ] || continue
  if ((${#only[@]})) && [[ ! " ${only[*]} " == *" $test "* ]]; then continue; fi
  echo "=== clients: $test" >&2
  case "$test" in
    *_test.py) runner=("$python" "$test") ;;
    *.test.js) runner=(node --test "$test") ;;
    *_test.sh) runner=(bash "$test") ;;
  esac
  ran=$((ran + 1))
  if ! timeout -k 10 300 "${runner[@]}"; then
    echo "=== clients: FAILED: $test" >&2
    status=1
  fi
done
((ran > 0)) || { echo "clients_test: no test ran" >&2; exit 1; }
if ((status != 0)); then
  echo "clients_test: the program's log:" >&2
  tail -n 20 "$run_dir/logs/program.log" >&2 || true
fi
exit "$status"
