#!/usr/bin/env bash
# Load run: the program under lighttpd on 127.0.0.1 (scripts/serve.sh), driven by wrk with a mix
# of search forms, searches, result lists, detail pages, invalid numbers and malformed requests
# over a generated catalogue (bench/gen_catalogue.py). Every response is checked: the status,
# the kind of page, the count line of each result list against the catalogue's expected counts,
# the due date on the detail page, and the end of every page. It fails on any error response
# other than the expected 500 pages, any socket error and any wrong or incomplete body.
# A benchmark-style command, not a timed test: the figures go to a report; nothing asserts on
# them.
#
# Usage: scripts/load_test.sh [--short] [--books N] [--duration SECONDS] [--connections C]
#                             [--threads T] [--exe PATH] [--report FILE]
#   default   100,000 books, 30 seconds, 16 connections, 2 threads
#   --short   2,000 books, 5 seconds, 8 connections (proves that the whole chain works)
#   --exe     the program to serve (default build/vovivavi.exe, built by scripts/build.sh
#             when it is missing)
#   --report  where the Markdown report goes (default build-load/load-report.md)
# Catalogues are generated once into build-load/catalogue-N/ and kept for later runs.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

books=100000
duration=30
connections=16
threads=2
exe="$root/build/vovivavi.exe"
work="$root/build-load"
report=""
while (($#)); do
  case "$1" in
    --short) books=2000; duration=5; connections=8; shift ;;
    --books) books="${2:?}"; shift 2 ;;
    --duration) duration="${2:?}"; shift 2 ;;
    --connections) connections="${2:?}"; shift 2 ;;
    --threads) threads="${2:?}"; shift 2 ;;
    --exe) exe="${2:?}"; shift 2 ;;
    --report) report="${2:?}"; shift 2 ;;
    -h|--help) sed -n '2,20p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "load_test: unknown argument $1" >&2; exit 2 ;;
  esac
done
report="${report:-$work/load-report.md}"

"$root/scripts/setup.sh" lighttpd wrk
[ -x "$exe" ] || "$root/scripts/build.sh"
mkdir -p "$work"

# The catalogue, generated when missing or made by another version of the generator.
data="$work/catalogue-$books"
if [ ! -f "$data/manifest.json" ] || ! python3 "$root/scripts/load/catalogue_is_current.py" "$data/manifest.json"; then
  echo "load_test: generating a catalogue of $books books in $data" >&2
  rm -rf "$data.new"
  python3 "$root/bench/gen_catalogue.py" --books "$books" --out "$data.new" >/dev/null
  rm -f "$data.new/books.sqlite"  # the benchmark's, not needed here
  rm -rf "$data"
  mv "$data.new" "$data"
fi

run_dir="$(mktemp -d "${TMPDIR:-/tmp}/shelfra-load.XXXXXX")"
state="$run_dir/server"
cleanup() {
  [ -f "$state" ] && "$root/scripts/serve.sh" --stop "$state" || true
  rm -rf -- "$run_dir"
}
trap cleanup EXIT
"$root/scripts/serve.sh" --background "$state" --owner $$ --exe "$exe" "$data" auto
url="$(sed -n 's/^URL=//p' "$state")"
port="$(sed -n 's/^PORT=//p' "$state")"

# The wrk script: the request mix and the checks (scripts/load/wrk_checks.lua), with the
# catalogue's words and expected answers written in as Shift_JIS bytes.
python3 "$root/scripts/load/make_wrk_script.py" "$data/manifest.json" "$url" "$run_dir" >"$run_dir/load.lua"

echo "load_test: wrk -t$threads -c$connections -d${duration}s against $url ($books books)" >&2
# A single search over the big catalogue takes a good part of a second on a busy machine; the
# timeout only guards against a hung request.
wrk -t"$threads" -c"$connections" -d"${duration}s" --timeout 30s -s "$run_dir/load.lua" "http://127.0.0.1:$port/" \
  >"$run_dir/wrk.out" 2>&1 || { cat "$run_dir/wrk.out" >&2; exit 1; }
[ -f "$run_dir/results" ] || { cat "$run_dir/wrk.out" >&2; echo "load_test: wrk wrote no results" >&2; exit 1; }

get() { sed -n "s/^$1=//p" "$run_dir/results"; }
requests="$(get requests)"
seconds="$(awk -v us="$(get duration_us)" 'BEGIN { printf "%.1f", us / 1e6 }')"
rps="$(awk -v n="$requests" -v us="$(get duration_us)" 'BEGIN { printf "%.1f", n / (us / 1e6) }')"
ms() { awk -v us="$(get "$1")" 'BEGIN { printf "%.0f", us / 1000 }'; }
checked=0
for k in form result list detail invalid error500 wrong; do checked=$((checked + $(get $k))); done
mib="$(awk -v b="$(get bytes)" 'BEGIN { printf "%.1f", b / 1048576 }')"

mkdir -p "$(dirname "$report")"
{
  echo "# Load run of $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  echo "lighttpd on 127.0.0.1, one CGI process per request; wrk, $threads threads, $connections connections," \
       "${duration} s; catalogue of $books books (bench/gen_catalogue.py); $(nproc) cores."
  echo
  echo "| figure | value |"
  echo "|---|---|"
  echo "| requests | $requests in $seconds s ($mib MiB) |"
  echo "| requests per second | $rps |"
  echo "| latency p50 / p75 / p90 / p99 | $(ms p50_us) / $(ms p75_us) / $(ms p90_us) / $(ms p99_us) ms |"
  echo "| latency mean / max | $(ms mean_us) / $(ms max_us) ms |"
  echo "| search forms | $(get form) |"
  echo "| result lists (count checked) | $(get result) |"
  echo "| empty lists | $(get list) |"
  echo "| detail pages (due date checked) | $(get detail) |"
  echo "| invalid-number pages | $(get invalid) |"
  echo "| expected 500 pages (malformed escape) | $(get error500) |"
  echo "| wrong or incomplete responses | $(get wrong) |"
  echo "| socket errors (timeouts) | $(get socket_errors) ($(get timeouts)) |"
} >"$report"
cat "$report"

status=0
if [ "$(get wrong)" != 0 ]; then
  echo "load_test: $(get wrong) wrong responses; the first one:" >&2
  cat "$run_dir/results.wrong" >&2 || true
  status=1
fi
if [ "$(get socket_errors)" != 0 ]; then
  echo "load_test: $(get socket_errors) socket errors" >&2
  cat "$run_dir/wrk.out" >&2
  status=1
fi
if [ "$requests" = 0 ] || [ "$checked" != "$requests" ]; then
  echo "load_test: $checked responses checked of $requests requests" >&2
  status=1
fi
if ((status == 0)); then echo "load_test: every response complete and correct; report in $report"; fi
exit "$status"
