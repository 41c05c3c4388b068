#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (in build-fuzz/) and runs each for the given
# number of seconds (default 20), starting from the seeds in fuzz/corpus.
# New inputs it finds are kept in build-fuzz/corpus; an input that crashes a
# target is saved in build-fuzz/crashes and fails the run.
#   bash scripts/fuzz.sh 600            every target for ten minutes
#   bash scripts/fuzz.sh 3600 message   one target for an hour
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLHARBOR_FUZZ_DIR:-$top/build-fuzz}
seconds=${1:-20}
shift || true

bash "$top/scripts/bootstrap.sh"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$flags" \
  -DQUILLHARBOR_BUILD_TESTS=OFF -DQUILLHARBOR_BUILD_FUZZ=ON >/dev/null
cmake --build "$build" --parallel --target fuzz

export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS=suppressions=$top/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(vars spool message texts length answer)
mkdir -p "$build/crashes"
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target"
  log="$build/fuzz_$target.log"
  if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/crashes/$target-" \
    "$build/corpus/$target" "$top/fuzz/corpus/$target" </dev/null >"$log" 2>&1; then
    grep -v -E '^#[0-9]+' "$log" | tail -80
    echo "fuzz: $target failed; the input is in $build/crashes, the output in $log" >&2
    echo "fuzz: once fixed, keep the input as a seed in fuzz/corpus/$target" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz: $target: ${runs:-?} inputs in ${seconds}s, no failure"
done
