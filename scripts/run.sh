#!/usr/bin/env bash
# Sets up what is missing, builds the program and the sample catalogue, and serves the
# catalogue search on lighttpd (as FastCGI processes, scripts/serve.sh) until Ctrl-C, both
# programs on one catalogue: the original pages at http://127.0.0.1:PORT/cgi-bin/vovivavi.exe
# and the UTF-8 pages at http://127.0.0.1:PORT/cgi-bin/shelfra.cgi/ (it prints both addresses).
#
# Usage: scripts/run.sh [PORT]       (or PORT=... scripts/run.sh; default 8080 or the next free)
# The catalogue lives in $SHELFRA_DATA, by default ${XDG_DATA_HOME:-$HOME/.local/share}/shelfra/catalogue.
# A folder that holds this script's sample is refreshed on every run; the tables and settings of
# a folder that holds others (a real catalogue) are left as they are. A missing host
# configuration (shelfra.conf) is written in either case, with the search index on in the
# folder's index/ (made here, mode 0700); one this script wrote earlier without the index gets it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"
offer_help "${BASH_SOURCE[0]}" "$@"

setup_packages lighttpd
"$root/scripts/build.sh"

data="${SHELFRA_DATA:-${XDG_DATA_HOME:-$HOME/.local/share}/shelfra/catalogue}"
mkdir -p "$data"
data="$(cd "$data" && pwd)"
marker="$data/.shelfra-sample"

if [ -f "$marker" ] || [ ! -e "$data/$book_table" ]; then
  # Built beside the old files, then renamed over them: a request running meanwhile still
  # reads complete files.
  staging="$(mktemp -d "$data/.sample-new.XXXXXX")"
  trap 'rm -rf -- "$staging"' EXIT
  python3 "$root/tools/catalogue/make_catalogue.py" --sample "$staging" --date 2026-12-01 >/dev/null
  for f in "$staging"/*; do mv -f -- "$f" "$data/"; done
  rm -rf -- "$staging"
  trap - EXIT
  : >"$marker"
  echo "run: sample catalogue written to $data" >&2
else
  echo "run: $data holds a catalogue of its own; serving it unchanged" >&2
fi

conf="$data/shelfra.conf"
header="; Host configuration of the catalogue search (see docs/operations.md)."
# The search index's folder, relative to the configuration's: the program refuses one that
# others may write, so it is the user's alone.
index_section=$'[Index]\nDirectory=index'
if [ ! -f "$conf" ]; then
  cat >"$conf.new" <<EOF
$header
[Aliases]
Vadoz=$data
[Locale]
DecimalSeparator=.
DateSeparator=/
ShortDateFormat=yyyy/mm/dd
$index_section
EOF
  mv -f -- "$conf.new" "$conf"
elif [ "$(head -n 1 -- "$conf")" = "$header" ] && ! grep -qi '^\[Index\]' -- "$conf"; then
  { cat -- "$conf"; printf '%s\n' "$index_section"; } >"$conf.new"
  mv -f -- "$conf.new" "$conf"
fi
if grep -qx 'Directory=index' -- "$conf" && [ ! -d "$data/index" ]; then
  mkdir -m 0700 -- "$data/index"
  echo "run: the search index goes to $data/index" >&2
fi

exec "$root/scripts/serve.sh" "$data" "${1:-${PORT:-}}"
