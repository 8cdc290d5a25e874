#!/usr/bin/env bash
# Configures and builds into build/ (the program lands at build/vovivavi.exe), warnings as errors.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"
offer_help "${BASH_SOURCE[0]}" "$@"
cd "$root"
cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DSHELFRA_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
