#!/usr/bin/env bash
# Browser tests of a visitor's whole visit: a headless Chromium drives the search form, the
# result list and the detail page, served by lighttpd on 127.0.0.1 over a fresh sample
# catalogue; and the UTF-8 pages' accessibility (axe-core's WCAG 2.1 A and AA rules at 1280 and
# 390 px, no sideways scrolling at 320 px and 200 % zoom, a keyboard-only visit with JavaScript
# on and off). Installs what is missing (lighttpd, chromium, a Japanese font, node and the
# playwright-core and axe-core packages; never a browser download), builds the programs when
# they are missing, and exits non-zero when a test fails. Screenshots go to
# build/browser-screenshots/ (the UTF-8 pages' to its shelfra/, each page at both widths).
#   SHELFRA_EXE=path        the old front to test (default build/vovivavi.exe)
#   SHELFRA_CGI=path        the UTF-8 front to test (default build/shelfra.cgi)
#   SHELFRA_SCREENSHOTS=dir where the screenshots go
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"
offer_help "${BASH_SOURCE[0]}" "$@"

packages=(lighttpd chromium)
has_package fonts-noto-cjk || has_package fonts-ipafont-gothic || packages+=(fonts-noto-cjk)
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
setup_packages "${packages[@]}"

node_major="$(node -p 'process.versions.node.split(".")[0]')"
if ((node_major < 20)); then
  echo "browser_test: node $(node --version) is too old; the tests need node 20 or later" >&2
  exit 1
fi

export SHELFRA_SOURCE_DIR="$root"
export SHELFRA_EXE="${SHELFRA_EXE:-$root/build/vovivavi.exe}"
export SHELFRA_CGI="${SHELFRA_CGI:-$root/build/shelfra.cgi}"
[ -x "$SHELFRA_EXE" ] && [ -x "$SHELFRA_CGI" ] || "$root/scripts/build.sh"

cd "$root/tests/browser"
if [ ! -f node_modules/playwright-core/package.json ] || [ ! -f node_modules/axe-core/package.json ]; then
  # playwright-core brings no browser of its own; the tests use Debian's chromium.
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
fi

# The whole run is bounded; on time-out every process it started (server, browser) is
# signalled with it, as they share its process group.
status=0
timeout -k 10 300 node --test --test-concurrency=1 ./*.test.js || status=$?
if ((status == 124)); then echo "browser_test: the run took longer than 300 s and was stopped" >&2; fi
exit "$status"
