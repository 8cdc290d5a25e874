#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) into build-fuzz/, then fuzzes every target.
#
# Usage: scripts/fuzz.sh [--long SECONDS] [--jobs N] [TARGET...]
#   (default)        smoke run: 20 seconds per target, two targets at a time
#   --long SECONDS   long run: SECONDS per target; new inputs stay in build-fuzz/corpus/
#   --jobs N         targets fuzzed at the same time (default 2)
#   TARGET...        only these targets (default: all of them, as fuzz/fuzz_targets.cmake lists them)
#
# Every target starts from its committed seeds (fuzz/corpus/TARGET) and first replays the
# inputs of earlier findings (fuzz/regressions/TARGET). A crash, a leak, a sanitizer report or
# a broken check stops the run with a non-zero exit; the input that did it is kept in
# build-fuzz/artifacts/ and the message says how to replay it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"

seconds=20
jobs=2
targets=()
while (($#)); do
  case "$1" in
    --long) seconds="${2:?--long needs a number of seconds}"; shift 2 ;;
    --jobs) jobs="${2:?--jobs needs a number}"; shift 2 ;;
    -h|--help) print_help "${BASH_SOURCE[0]}"; exit 0 ;;
    -*) echo "fuzz: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
# The targets, as fuzz/fuzz_targets.cmake lists them in SHELFRA_FUZZERS (one name a line).
mapfile -t all_targets < <(awk '/^set\(SHELFRA_FUZZERS/ { on = 1; next } on && /\)/ { exit } on { print $1 }' \
  "$root/fuzz/fuzz_targets.cmake")
((${#all_targets[@]})) || { echo "fuzz: no targets found in fuzz/fuzz_targets.cmake" >&2; exit 1; }
for t in "${targets[@]}"; do
  [[ " ${all_targets[*]} " == *" $t "* ]] || { echo "fuzz: no target $t (targets: ${all_targets[*]})" >&2; exit 2; }
done
((${#targets[@]})) || targets=("${all_targets[@]}")

setup_packages clang libclang-rt-14-dev

build="$root/build-fuzz"
flags="-O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Fuzz -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DSHELFRA_TESTS=OFF -DSHELFRA_LAYERS="base;engine;data;web;produce" -DSHELFRA_WERROR=ON \
  -DCMAKE_PROJECT_shelfra_INCLUDE="$root/fuzz/enable.cmake" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

mkdir -p "$build/artifacts" "$build/logs"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

run_one() {
  local t="$1"
  local corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  local extra=()
  [ -f "$root/fuzz/dict/$t.dict" ] && extra+=(-dict="$root/fuzz/dict/$t.dict")
  # The first folder receives new inputs; the committed ones are only read.
  local inputs=("$corpus" "$root/fuzz/corpus/$t")
  [ -d "$root/fuzz/regressions/$t" ] && inputs+=("$root/fuzz/regressions/$t")
  "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "${extra[@]}" "${inputs[@]}" \
    >"$build/logs/$t.log" 2>&1
}

failed=()
pids=()
names=()
wait_one() {
  local pid="${pids[0]}" name="${names[0]}"
  pids=("${pids[@]:1}")
  names=("${names[@]:1}")
  if wait "$pid"; then
    local runs cov
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$name.log" | tail -1)"
    cov="$(grep -o 'cov: [0-9]*' "$build/logs/$name.log" | tail -1)"
    echo "fuzz: $name: ${seconds}s, ${runs:-?} inputs, ${cov:-cov: ?}, no finding"
  else
    failed+=("$name")
    echo "fuzz: $name FAILED; the end of its log ($build/logs/$name.log):" >&2
    tail -n 60 "$build/logs/$name.log" >&2
    echo "fuzz: replay with: $build/fuzz/$name $build/artifacts/$name-<file>" >&2
  fi
}
for t in "${targets[@]}"; do
  run_one "$t" &
  pids+=("$!")
  names+=("$t")
  ((${#pids[@]} < jobs)) || wait_one
done
while ((${#pids[@]})); do wait_one; done

if ((${#failed[@]})); then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets passed"
