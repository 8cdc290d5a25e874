#!/usr/bin/env bash
# Load run: the program under lighttpd on 127.0.0.1 (scripts/serve.sh --cgi), driven by wrk with a mix
# of search forms, searches, result lists, detail pages, invalid numbers and malformed requests
# over a generated catalogue (bench/gen_catalogue.py). Every response is checked: the status,
# the kind of page, the count line of each result list against the catalogue's expected counts,
# the due date on the detail page, and the end of every page. It fails on any error response
# other than the expected 500 pages and the server's 413 to a POST that announces a body of
# 99999999999 bytes and sends three (which must come within 2 seconds, by the access log), any
# socket error and any wrong or incomplete body.
# A benchmark-style command, not a timed test: the figures go to a report; nothing asserts on
# them.
#
# Usage: scripts/load_test.sh [--short] [--books N] [--duration SECONDS] [--connections C]
#                             [--threads T] [--swap N | --no-index] [--exe PATH] [--report FILE]
#   default    100,000 books, 30 seconds, 16 connections, 2 threads, the index on, 3 swaps
#   --short    2,000 books, 5 seconds, 8 connections, no index (proves that the whole chain works)
#   --fastcgi  serve the program as lighttpd's FastCGI processes (four, each answering one request
#              after another) instead of a CGI process per request; the report adds each
#              process's resident memory once warm (a fifth into the run) and at its end, and the
#              run fails when a process's own memory (RssAnon) grew by more than 1 MiB
#   --swap N   serve with the search index on (a folder of the run's own) and replace the book
#              table N times while wrk runs, evenly spread, each time by renaming a fresh
#              byte-for-byte copy of it over it: every swap makes the index stale, so a request
#              starts one build in a process of its own while the others scan, and the answers
#              stay those the checks expect. Also fails on two builds of one table at once
#              (the index folder is listed every 100 ms), on more builds than one plus one per
#              swap, on any other index event in the program's standard error, on a 500
#              answer in the access log other than the malformed escape, and on any file left
#              in the index folder once the builds have ended (waited for, bounded). The report
#              adds the server's latencies during builds and outside them.
#              --swap 0: the index on, no swap. Works with --short too.
#   --no-index the scan only, as --short does, at any size
#   --exe      the program to serve (default build/vovivavi.exe, built by scripts/build.sh
#              when it is missing)
#   --report   where the Markdown report goes (default build-load/load-report.md); the
#              program's standard error of the run goes beside it (<report>.program.log)
#   --keep     keep the run's folder (logs, access log, folder listings, swap times, the
#              index folder; not the served copy of the catalogue) and print where it is
# Catalogues are generated once into build-load/catalogue-N/ and kept for later runs; a run
# with the index serves links to (or copies of) their files from a folder of its own.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"

books=100000
duration=30
connections=16
threads=2
swaps=default  # the number of table swaps, "" for no index; the default depends on --short
short=0
keep=0
mode=--cgi
exe="$root/build/vovivavi.exe"
work="$root/build-load"
report=""
while (($#)); do
  case "$1" in
    --short) books=2000; duration=5; connections=8; short=1; shift ;;
    --books) books="${2:?}"; shift 2 ;;
    --fastcgi) mode=""; shift ;;
    --duration) duration="${2:?}"; shift 2 ;;
    --connections) connections="${2:?}"; shift 2 ;;
    --threads) threads="${2:?}"; shift 2 ;;
    --swap) swaps="${2:?}"; shift 2
      [[ "$swaps" =~ ^[0-9]+$ ]] || { echo "load_test: --swap needs a count, not $swaps" >&2; exit 2; } ;;
    --no-index) swaps=""; shift ;;
    --exe) exe="${2:?}"; shift 2 ;;
    --report) report="${2:?}"; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) print_help "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "load_test: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [ "$swaps" = default ]; then
  if ((short)); then swaps=""; else swaps=3; fi
fi
report="${report:-$work/load-report.md}"

setup_packages lighttpd wrk
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
logs="$run_dir/logs"
swapper=""
watcher=""
index_dir=""
# Ends a helper of this run by its PID, when it still runs.
end_helper() {
  if [ -n "$1" ] && kill "$1" 2>/dev/null; then wait "$1" 2>/dev/null || true; fi
}
cleanup() {
  end_helper "$swapper"
  end_helper "$watcher"
  [ -f "$state" ] && "$root/scripts/serve.sh" --stop "$state" || true
  # A build the program started ends by itself (the run may have stopped early): its folder
  # goes once it has, waited for up to a minute.
  if [ -n "$index_dir" ]; then
    for _ in $(seq 300); do compgen -G "$index_dir/*.idx.tmp.*" >/dev/null || break; sleep 0.2; done
  fi
  if ((keep)); then
    rm -rf -- "$run_dir/catalogue"  # copies of the generated catalogue
    echo "load_test: the run's folder is kept: $run_dir" >&2
  else
    rm -rf -- "$run_dir"
  fi
}
trap cleanup EXIT

# With the index, the catalogue is served from a folder of the run's own, so that its book
# table can be replaced: links to the generated files (copies where no link can be made), and
# a host configuration that names the index folder.
served="$data"
if [ -n "$swaps" ]; then
  served="$run_dir/catalogue"
  index_dir="$run_dir/index"
  mkdir "$served"
  for f in "$data"/*; do
    case "${f##*/}" in manifest.json|shelfra.conf) continue ;; esac
    ln -- "$f" "$served/" 2>/dev/null || cp -- "$f" "$served/"
  done
  { cat "$data/shelfra.conf"; printf '[Index]\nDirectory=../index\n'; } >"$served/shelfra.conf"
fi

# As CGI programs, a process per request, unless --fastcgi: the mode the load reports have
# measured from the start, so that their figures stay comparable (serve.sh serves FastCGI
# unless told).
"$root/scripts/serve.sh" --background "$state" --owner $$ $mode --exe "$exe" --logs "$logs" "$served" auto
url="$(sed -n 's/^URL=//p' "$state")"
port="$(sed -n 's/^PORT=//p' "$state")"

# The wrk script: the request mix and the checks (scripts/load/wrk_checks.lua), with the
# catalogue's words and expected answers written in as Shift_JIS bytes.
python3 "$root/scripts/load/make_wrk_script.py" "$data/manifest.json" "$url" "$run_dir" >"$run_dir/load.lua"

now() { date +%s.%N; }
# Sleeps until the time T (seconds since the epoch).
sleep_until() { sleep "$(awk -v t="$1" -v now="$(now)" 'BEGIN { w = t - now; printf "%.3f", (w > 0 ? w : 0) }')"; }

# Replaces the book table $swaps times, evenly spread over the run, as an operator would: a
# fresh copy of the generated table is written beside the served one, then renamed over it.
# Each copy is written as soon as the swap before has been made, so that a slow disk does not
# push the renames past the end of the run. Each line of $run_dir/swaps:
# "swap I COPY_BEGAN COPY_WRITTEN RENAMED".
swap_tables() {
  local start="$1" i began written
  for ((i = 1; i <= swaps; i++)); do
    began="$(now)"
    cp -- "$data/$book_table" "$served/.swap.new"
    written="$(now)"
    sleep_until "$(awk -v s="$start" -v d="$duration" -v i="$i" -v n="$swaps" 'BEGIN { printf "%.3f", s + d * i / (n + 1) }')"
    mv -f -- "$served/.swap.new" "$served/$book_table"
    echo "swap $i $began $written $(now)" >>"$run_dir/swaps"
  done
}

if [ -n "$swaps" ]; then
  # The index folder, listed every 100 ms until the run has settled (bounded all the same).
  python3 "$root/scripts/load/watch_index.py" "$index_dir" "$run_dir/samples" "$run_dir/samples.stop" \
    --interval 0.1 --limit $((duration + 600)) &
  watcher=$!
  # On a busy machine the interpreter may take seconds to start: wrk waits for its first listing.
  for _ in $(seq 300); do [ -s "$run_dir/samples" ] && break; sleep 0.1; done
  [ -s "$run_dir/samples" ] || { echo "load_test: the index folder watcher did not start" >&2; exit 1; }
  start="$(now)"
  echo "start $start" >"$run_dir/swaps"
  swap_tables "$start" &
  swapper=$!
fi

# The FastCGI processes' memory: "PID VmRSS RssAnon" (kB) of each process of the program that
# lighttpd started and that listens on a socket (standard input).
memory() {
  local server pid
  server="$(sed -n 's/^PID=//p' "$state")"
  for pid in $(pgrep -P "$server" || true); do
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$(readlink -f "$exe")" ] || continue
    [[ "$(readlink "/proc/$pid/fd/0" 2>/dev/null)" == socket:* ]] || continue
    awk -v pid="$pid" '/^VmRSS:/ { rss = $2 } /^RssAnon:/ { anon = $2 } END { print pid, rss, anon }' "/proc/$pid/status"
  done
}
if [ -z "$mode" ]; then
  (sleep "$(awk -v d="$duration" 'BEGIN { printf "%.1f", d / 5 }')"; memory >"$run_dir/memory.warm") &
fi

echo "load_test: wrk -t$threads -c$connections -d${duration}s against $url ($books books${swaps:+, index on, $swaps swaps})" >&2
# A single search over the big catalogue takes a good part of a second on a busy machine; the
# timeout only guards against a hung request.
wrk -t"$threads" -c"$connections" -d"${duration}s" --timeout 30s -s "$run_dir/load.lua" "http://127.0.0.1:$port/" \
  >"$run_dir/wrk.out" 2>&1 || { cat "$run_dir/wrk.out" >&2; exit 1; }
main_end="$(now)"
[ -n "$mode" ] || memory >"$run_dir/memory.end"
[ -f "$run_dir/results" ] || { cat "$run_dir/wrk.out" >&2; echo "load_test: wrk wrote no results" >&2; exit 1; }

status=0
settle_rounds=0
settle_requests=0
if [ -n "$swaps" ]; then
  wait "$swapper" || { echo "load_test: a table swap failed" >&2; status=1; }
  swapper=""
  # Settling: the builds started during the run end by themselves; then short rounds of the same
  # checked mix let the indexes become current and pass on what the builds reported, until a
  # round starts no build and nothing is left to pass on. Bounded: 2 minutes plus 1 s per
  # 1,000 books.
  python3 "$root/scripts/load/make_wrk_script.py" "$data/manifest.json" "$url" "$run_dir/settle" >"$run_dir/settle.lua"
  mkdir -p "$run_dir/settle"
  deadline=$(($(date +%s) + 120 + books / 1000))
  building() { grep -ac "building it" "$logs/program.log" || true; }
  # A build holds its index's lock file until its process ends, after it has put the index in
  # place and written its report: until then there may be a report still to come.
  build_running() {
    local lock
    for lock in "$index_dir"/*.lock; do
      [ -e "$lock" ] || continue
      flock -n -E 99 "$lock" true || return 0
    done
    return 1
  }
  settled=0
  while (($(date +%s) < deadline)); do
    if compgen -G "$index_dir/*.idx.tmp.*" >/dev/null; then sleep 0.2; continue; fi
    before="$(building)"
    wrk -t1 -c1 -d1s --timeout 30s -s "$run_dir/settle.lua" "http://127.0.0.1:$port/" >"$run_dir/settle.out" 2>&1 \
      || { cat "$run_dir/settle.out" >&2; status=1; break; }
    settle_rounds=$((settle_rounds + 1))
    settle_requests=$((settle_requests + $(sed -n 's/^requests=//p' "$run_dir/settle/results")))
    for k in wrong socket_errors; do
      if [ "$(sed -n "s/^$k=//p" "$run_dir/settle/results")" != 0 ]; then
        echo "load_test: settling round $settle_rounds: $k is not 0" >&2
        cat "$run_dir/settle/results" "$run_dir/settle/results.wrong" >&2 2>/dev/null || true
        status=1
      fi
    done
    if [ "$(building)" = "$before" ] && ! compgen -G "$index_dir/*.idx.tmp.*" >/dev/null \
       && ! build_running && ! compgen -G "$index_dir/*.report*" >/dev/null; then
      settled=1
      break
    fi
  done
  ((settled)) || { echo "load_test: the index did not settle within the time allowed" >&2; status=1; }
  touch "$run_dir/samples.stop"
  wait "$watcher" || true
  watcher=""
fi

# Each FastCGI process's memory, warm and at the end: "PID rss_warm rss_end anon_warm anon_end".
memory_rows=""
if [ -z "$mode" ]; then
  memory_rows="$(join <(sort "$run_dir/memory.warm") <(sort "$run_dir/memory.end") 2>/dev/null |
    awk '{ print $1, $2, $4, $3, $5 }')"
  [ -n "$memory_rows" ] || { echo "load_test: no FastCGI process's memory was sampled" >&2; status=1; }
  # The same processes at both times: none ended (crashed) or was started anew meanwhile.
  if [ "$(cut -d' ' -f1 "$run_dir/memory.warm" | sort)" != "$(cut -d' ' -f1 "$run_dir/memory.end" | sort)" ]; then
    echo "load_test: the FastCGI processes changed during the run:" "$(cat "$run_dir/memory.warm")" "/" \
      "$(cat "$run_dir/memory.end")" >&2
    status=1
  fi
fi

# Stopping the server writes out its access log.
"$root/scripts/serve.sh" --stop "$state"

get() { sed -n "s/^$1=//p" "$run_dir/results"; }
requests="$(get requests)"
seconds="$(awk -v us="$(get duration_us)" 'BEGIN { printf "%.1f", us / 1e6 }')"
rps="$(awk -v n="$requests" -v us="$(get duration_us)" 'BEGIN { printf "%.1f", n / (us / 1e6) }')"
ms() { awk -v us="$(get "$1")" 'BEGIN { printf "%.0f", us / 1000 }'; }
checked=0
for k in form result list detail invalid error500 refused wrong; do checked=$((checked + $(get $k))); done
# The huge body's POSTs in the access log (the settling rounds' too): each refused, and at once.
read -r posts slow_posts < <(awk '$6 == "\"POST" { n++; if ($4 != 413 || $3 > 2000000) bad++ }
  END { print n + 0, bad + 0 }' "$logs/access.log")
mib="$(awk -v b="$(get bytes)" 'BEGIN { printf "%.1f", b / 1048576 }')"

if [ -n "$swaps" ]; then
  python3 "$root/scripts/load/index_report.py" --program-log "$logs/program.log" --samples "$run_dir/samples" \
    --access-log "$logs/access.log" --swaps "$run_dir/swaps" --index-dir "$index_dir" \
    --swap-count "$swaps" --main-end "$main_end" --interval 0.1 \
    >"$run_dir/index-results" 2>"$run_dir/index-problems" || status=1
fi
ix() { sed -n "s/^$1=//p" "$run_dir/index-results"; }

index_words="no search index"
[ -z "$swaps" ] || index_words="search index on, $swaps swaps of the book table"
mkdir -p "$(dirname "$report")"
cp -- "$logs/program.log" "${report%.md}.program.log" 2>/dev/null || : >"${report%.md}.program.log"
{
  echo "# Load run of $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo
  serving="one CGI process per request"
  [ -n "$mode" ] || serving="the program as lighttpd's FastCGI processes"
  echo "lighttpd on 127.0.0.1, $serving; wrk, $threads threads, $connections connections," \
       "${duration} s; catalogue of $books books (bench/gen_catalogue.py); $(nproc) cores; $index_words."
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
  echo "| refused huge bodies (413) | $(get refused) (access log: $posts answers, $slow_posts of them no 413 or over 2 s) |"
  echo "| wrong or incomplete responses | $(get wrong) |"
  echo "| socket errors (timeouts) | $(get socket_errors) ($(get timeouts)) |"
  if [ -n "$memory_rows" ]; then
    echo
    echo "Resident memory of each FastCGI process (kB), a fifth into the run and at its end:"
    echo
    echo "| process | VmRSS | RssAnon (its own) |"
    echo "|---|---|---|"
    while read -r pid rss_warm rss_end anon_warm anon_end; do
      echo "| $pid | $rss_warm → $rss_end | $anon_warm → $anon_end |"
    done <<<"$memory_rows"
  fi
  if [ -n "$swaps" ]; then
    echo
    echo "The search index. Latencies below are the server's (lighttpd's access log, begin to end of" \
         "each request that began during the wrk run); a request counts as during a build when it" \
         "overlapped the time a temporary index file was in the index folder (listed every 100 ms)," \
         "widened by 100 ms on each side."
    echo
    echo "| figure | value |"
    echo "|---|---|"
    echo "| book table swaps (rename of a fresh copy), renamed after | $(ix swaps_done): $(ix swap_at) |"
    echo "| time to write each copy | $(ix swap_copy) |"
    echo "| builds started: book table / lending table | $(ix builds_book) / $(ix builds_loans) |"
    echo "| book table builds, as reported | $(ix built_book); $(ix index_bytes_book) bytes |"
    echo "| builds seen in the folder listings: book table / all tables | $(ix builds_seen_book) / $(ix builds_seen_all) |"
    echo "| most temporary files of one table at once | $(ix most_at_once) ($(ix samples) listings) |"
    echo "| time with a build running | $(ix build_time) s of $(ix run_time) s |"
    echo "| latency p50 / p90 / p99 / max, every request | $(ix latency_all) |"
    echo "| latency p50 / p90 / p99 / max, during a build | $(ix latency_during) |"
    echo "| latency p50 / p90 / p99 / max, no build running | $(ix latency_outside) |"
    echo "| requests that began before a book table build and ended after it (builds seen in two listings or more) | $(ix spanning_a_build) ($(ix long_builds)) |"
    echo "| 500 answers in the access log (other than the malformed escape) | $(ix status_500) ($(ix unexpected_500)) |"
    echo "| other index events in the program's standard error | $(ix other_events) |"
    echo "| settling rounds after the run (checked requests) | $settle_rounds ($settle_requests) |"
    echo "| index folder at the end | $(ix final_files) |"
  fi
} >"$report"
cat "$report"

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
if [ "$(get refused)" = 0 ]; then
  echo "load_test: no 413 to the huge body's POST (a server without a body cap holds it until its idle time-out)" >&2
  status=1
fi
if ((slow_posts)); then
  echo "load_test: $slow_posts of the $posts answers to the huge body's POST in the access log were no 413 or took over 2 s" >&2
  status=1
fi
if [ "$requests" = 0 ] || [ "$checked" != "$requests" ]; then
  echo "load_test: $checked responses checked of $requests requests" >&2
  status=1
fi
while read -r pid rss_warm rss_end anon_warm anon_end; do
  if [ -n "$pid" ] && ((anon_end - anon_warm > 1024)); then
    echo "load_test: FastCGI process $pid grew by $((anon_end - anon_warm)) kB of its own memory (RssAnon)" >&2
    status=1
  fi
done <<<"$memory_rows"
if [ -s "$run_dir/index-problems" ]; then
  sed 's/^/load_test: /' "$run_dir/index-problems" >&2
  status=1
fi
if ((status == 0)); then echo "load_test: every response complete and correct; report in $report"; fi
exit "$status"
