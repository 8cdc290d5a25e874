#!/usr/bin/env bash
# Browser tests of a visitor's whole visit: a headless Chromium drives the search form, the
# result list and the detail page, served by lighttpd on 127.0.0.1 over a fresh sample
# catalogue. Installs what is missing (lighttpd, chromium, a Japanese font, node and the
# playwright-core package; never a browser download), builds the program when it is missing,
# and exits non-zero when a test fails. Screenshots go to build/browser-screenshots/.
#   SHELFRA_EXE=path        the program to test (default build/vovivavi.exe)
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
[ -x "$SHELFRA_EXE" ] || "$root/scripts/build.sh"

cd "$root/tests/browser"
if [ ! -f node_modules/playwright-core/package.json ]; then
  # playwright-core brings no browser of its own; the tests use Debian's chromium.
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
fi

# The whole run is bounded; on time-out every process it started (server, browser) is
# signalled with it, as they share its process group.
status=0
timeout -k 10 170 node --test --test-concurrency=1 ./*.test.js || status=$?
if ((status == 124)); then echo "browser_test: the run took longer than 170 s and was stopped" >&2; fi
exit "$status"
