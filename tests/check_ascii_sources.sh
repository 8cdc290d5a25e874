#!/usr/bin/env bash
# Fails when a program source (.h/.cpp outside tests) holds a byte above 0x7F: Japanese texts
# belong in the UTF-8 resource files, which the build converts to Shift_JIS.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bad=$(find main.cpp shelfra.cpp shelfra_index.cpp shelfra_check.cpp base engine data catalogue web produce app opac -name '*.h' -o -name '*.cpp' | grep -v -e '_test\.cpp$' -e '_test_support\.h$' |
      grep -v '^tests/' | xargs grep -lP '[^\x00-\x7F]' || true)
if [ -n "$bad" ]; then
  echo "non-ASCII bytes in program sources:" >&2
  echo "$bad" >&2
  exit 1
fi
echo "program sources are ASCII"
