#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test:
#   1. the browser tests of a whole visit (lighttpd and headless Chromium), then the clients'
#      tests of the machine-readable answers (scripts/clients_test.sh: feed, harvester and
#      XML readers, the JSON interface's examples), then the web server configurations of
#      docs/ (scripts/servers_test.sh: nginx, lighttpd and Apache through FastCGI, nginx with
#      fcgiwrap, and the systemd units),
#   2. three short load runs under lighttpd (every response checked): the scan alone, then the
#      search index with the book table replaced three times while it runs, as CGI processes and
#      as FastCGI processes (whose memory must stay flat),
#   3. a smoke run of every fuzz target (libFuzzer),
#   4. the unit and whole-program tests under AddressSanitizer and UndefinedBehaviorSanitizer,
#   5. Release builds of the programs with g++ and with clang, warnings as errors,
#   6. installing with cmake --install and from the Debian package, each served and checked,
#   7. the unit and whole-program tests (CTest).
# Each step runs even when an earlier one failed; the exit code says whether all passed.
#
# Usage: scripts/test.sh [--quick]
#   --quick   only builds and runs step 7, for the edit-build-test loop: installs nothing,
#             and skips the browser, clients, servers, load, fuzz, sanitizer, release-build and
#             package steps
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"
offer_help "${BASH_SOURCE[0]}" "$@"

quick=0
if (($# == 1)) && [ "$1" = --quick ]; then
  quick=1
elif (($#)); then
  echo "test: usage: scripts/test.sh [--quick]" >&2
  exit 2
fi

if ((quick)); then
  "$root/scripts/build.sh"
  cd "$root/build"
  exec ctest --output-on-failure -j"$(nproc)" --timeout 600
fi

setup_packages
"$root/scripts/build.sh"

status=0
step() {
  echo "=== $*" >&2
  "$@" || { echo "=== FAILED: $*" >&2; status=1; }
}
step "$root/scripts/browser_test.sh"
step "$root/scripts/clients_test.sh"
step "$root/scripts/servers_test.sh"
step "$root/scripts/load_test.sh" --short
step "$root/scripts/load_test.sh" --short --swap 3 --report "$root/build-load/load-report-swap.md"
step "$root/scripts/load_test.sh" --short --fastcgi --swap 3 --report "$root/build-load/load-report-fastcgi.md"
step "$root/scripts/fuzz.sh"
step "$root/scripts/sanitize.sh"
step "$root/scripts/release_build.sh"
step "$root/scripts/package_test.sh"

cd "$root/build"
ctest --output-on-failure -j"$(nproc)" --timeout 600 || status=1
exit "$status"
