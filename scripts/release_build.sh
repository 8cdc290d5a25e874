#!/usr/bin/env bash
# Release builds of the programs as packagers make them (-O3, no tests), with warnings as
# errors, so that a warning that only one compiler or only the optimiser sees stops CI:
#   gcc    Debian's g++ into build-rel-gcc/ (scripts/package_test.sh installs and packages it)
#   clang  clang++ into build-rel-clang/
#
# Usage: scripts/release_build.sh [gcc|clang]...     (default: both)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"
offer_help "${BASH_SOURCE[0]}" "$@"

compilers=("$@")
((${#compilers[@]})) || compilers=(gcc clang)
packages=()
for c in "${compilers[@]}"; do
  case "$c" in
    gcc) ;;
    clang) packages+=(clang) ;;
    *) echo "release_build: unknown compiler $c (gcc or clang)" >&2; exit 2 ;;
  esac
done
setup_packages "${packages[@]}"

for c in "${compilers[@]}"; do
  cxx=g++
  [ "$c" = clang ] && cxx=clang++
  build="$root/build-rel-$c"
  echo "release_build: $cxx, Release, warnings as errors, into $build" >&2
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
    -DSHELFRA_WERROR=ON -DSHELFRA_TESTS=OFF >/dev/null
  cmake --build "$build" -j2
done
