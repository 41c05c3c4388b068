#!/usr/bin/env bash
# Builds the suite with gcc's coverage counters (in build-cov/), runs it and
# prints the line coverage of src/. The counters of every process are kept,
# also of the agent's own processes that the tests start and that end with
# _Exit (which skips the normal exit, where the counters are written): in
# this build _Exit writes them first.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLHARBOR_COVERAGE_DIR:-$top/build-cov}

bash "$top/scripts/bootstrap.sh"
mkdir -p "$build"
# Linked into every program of this build, in place of the C library's _Exit.
g++ -x c++ -O2 -c -o "$build/flushexit.o" - <<'CPP'
extern "C" void __gcov_dump(void);
extern "C" [[noreturn]] void __real__Exit(int status);
extern "C" [[noreturn]] void __wrap__Exit(int status) {
    __gcov_dump();
    __real__Exit(status);
}
CPP
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=--coverage \
  -DCMAKE_EXE_LINKER_FLAGS="--coverage -Wl,--wrap=_Exit $build/flushexit.o" >/dev/null
cmake --build "$build" --parallel

# Counts of this run only.
find "$build" -name '*.gcda' -delete
status=0
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel 2 --timeout 900 \
  </dev/null) || status=$?

gcovr --root "$top" --filter "$top/src/" --print-summary --txt "$build/coverage.txt" "$build" |
  tail -3
echo "coverage.sh: per file in $build/coverage.txt"
[ $status -eq 0 ] || echo "coverage.sh: some tests failed; the figures above count what ran" >&2
exit $status
