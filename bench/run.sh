#!/usr/bin/env bash
# Benchmark of the catalogue search: installs what is missing, builds the program and the
# measuring tools, generates the synthetic catalogues when they are missing, measures every
# request and writes the report (see bench/README.md).
#
# Usage: bench/run.sh [--sizes 10000,100000] [--runs 5] [--warmup 1] [--only Q1,Q4,detail] [--no-sqlite] [--index]
#                     [--baseline PROGRAM]
#   bench/run.sh --sizes 1000000        the million-book catalogue (2.3 GB table, about 3 GB in all)
#   --baseline PROGRAM  also run every request with PROGRAM (an older build of vovivavi.exe), in
#                       turn with the program: before and after times, the md5 of each page; a
#                       page that differs between the two fails the run
#   bench/run.sh --busy-build [--baseline PROGRAM] [--rounds 9] [--searches 8] [--request Q3] [--books 100000]
#                       instead: searches started together with no build running and while the
#                       detached index build runs (bench/busy_build.py; report busy-build-report.md)
#   bench/run.sh --servers [--sizes 100000,1000000] [--runs 15] [--duration 30] [--connections 16]
#                [--fastcgi-procs 2] [--no-load]
#                       instead: the programs as CGI and FastCGI under lighttpd and a process per
#                       query, beside Groonga over the same catalogue, and a wrk load run
#                       (bench/servers.py; report servers-report.md)
# Build folder: $SHELFRA_BENCH_BUILD (default build-bench); catalogues: $SHELFRA_BENCH_DIR
# (default <build folder>/bench-data); report: <build folder>/bench-report.md and .json.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"
offer_help "${BASH_SOURCE[0]}" "$@"
build="${SHELFRA_BENCH_BUILD:-$root/build-bench}"
data="${SHELFRA_BENCH_DIR:-$build/bench-data}"
tools="$build/bench-tools"

servers=0
for arg in "$@"; do if [ "$arg" = --servers ]; then servers=1; fi; done
if ((servers)); then setup_packages groonga lighttpd wrk; else setup_packages sqlite3; fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSHELFRA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target vovivavi shelfra_cgi shelfra-index bench_trivial_cgi >/dev/null

mkdir -p "$tools"
cxx_flags=(-O2 -std=c++20 -Wall -Wextra -Werror)
build_tool() {  # build_tool OUTPUT SOURCE COMPILER FLAGS...
  local out="$tools/$1" src="$root/bench/$2"
  shift 2
  if [ ! -x "$out" ] || [ "$src" -nt "$out" ]; then "$@" -o "$out" "$src"; fi
}
build_tool spawn_time spawn_time.cpp g++ "${cxx_flags[@]}"
build_tool ref_scan ref_scan.cpp g++ "${cxx_flags[@]}"
build_tool heap_peak.so heap_peak.c gcc -O2 -Wall -Wextra -Werror -shared -fPIC

args=()
busy_build=0
for arg in "$@"; do
  case "$arg" in
    --busy-build) busy_build=1 ;;
    --servers) ;;
    *) args+=("$arg") ;;
  esac
done
if ((servers)); then
  exec python3 "$root/bench/servers.py" --program "$build/vovivavi.exe" --tools "$tools" --data "$data" \
    --build "$build" --report "$build/servers-report.md" "${args[@]}"
fi
if ((busy_build)); then
  exec python3 "$root/bench/busy_build.py" --program "$build/vovivavi.exe" --tools "$tools" --data "$data" \
    --report "$build/busy-build-report.md" "${args[@]}"
fi
exec python3 "$root/bench/bench.py" --program "$build/vovivavi.exe" --trivial "$build/bench_trivial_cgi" \
  --tools "$tools" --data "$data" \
  --report "$build/bench-report.md" "${args[@]}"
