#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test: the browser tests of a whole visit
# under lighttpd and headless Chromium, then the unit and whole-program tests (CTest).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"

status=0
"$root/scripts/browser_test.sh" || status=$?

cd "$root/build"
ctest --output-on-failure -j"$(nproc)" --timeout 600 || status=$?
exit "$status"
