#!/usr/bin/env bash
# Builds the fuzz targets of the STL reader, the OBJ reader and the number parser with clang's
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, and runs each for FUZZ_SECONDS
# (default 60) from its seed corpus in tests/fuzz/corpus/<target>. A crash, a broken round trip
# or a sanitizer report fails the run. Prints the executions of each target.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
CXX="${FUZZ_CXX:-clang++-19}"
SECONDS_EACH="${FUZZ_SECONDS:-60}"
BUILD="$ROOT/build/fuzz"
mkdir -p "$BUILD/obj"
# Objects are rebuilt whenever any source or header changed since the last build.
stamp="$(cat "$ROOT"/src/*/*.[ch]pp "$ROOT"/src/core/primitives/*.[ch]pp | sha256sum | cut -d' ' -f1)"
if [[ "$(cat "$BUILD/obj/stamp" 2>/dev/null)" != "$stamp" ]]; then
  rm -f "$BUILD"/obj/*.o
  echo "$stamp" >"$BUILD/obj/stamp"
fi
FLAGS=(-std=c++23 -O1 -g -ffp-contract=off -fno-omit-frame-pointer
       -fsanitize=address,undefined -fno-sanitize-recover=undefined -I"$ROOT/src")

# Every core source (the Python binding layer excluded), instrumented for coverage.
objects=()
for source in "$ROOT"/src/core/*.cpp "$ROOT"/src/core/primitives/*.cpp "$ROOT"/src/io/*.cpp \
              "$ROOT"/src/interp/*.cpp "$ROOT"/src/morph/*.cpp; do
  object="$BUILD/obj/$(echo "${source#"$ROOT"/src/}" | tr / _).o"
  if [[ ! -f "$object" ]]; then
    "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object" &
    while (( $(jobs -r | wc -l) >= 2 )); do wait -n; done
  fi
  objects+=("$object")
done
wait

# The round-trip targets write a scratch file per input; in a RAM file system the writers'
# sync to disk costs nothing, which keeps the executions per second up.
if [[ -d /dev/shm && -w /dev/shm ]]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for target in stl_read obj_read number_read; do
  "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer "$ROOT/tests/fuzz/fuzz_$target.cpp" "${objects[@]}" \
    -lpthread -o "$BUILD/fuzz_$target"
  work="$BUILD/corpus_$target"
  rm -rf "$work" && mkdir -p "$work"
  log="$BUILD/fuzz_$target.log"
  # The committed seeds stay untouched; new inputs go to the work corpus.
  if ! "$BUILD/fuzz_$target" -max_total_time="$SECONDS_EACH" -max_len=65536 -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$BUILD/crash_${target}_" \
       "$work" "$ROOT/tests/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$target failed; the input is in $BUILD/crash_${target}_*" >&2
    exit 1
  fi
  echo "fuzz_$target: $(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}') executions in ${SECONDS_EACH} s"
done
