#!/usr/bin/env bash
# Builds the whole test suite a second time with AddressSanitizer and
# UndefinedBehaviorSanitizer (in build-asan/) and runs it. Any report fails
# the run: UBSan stops the process at its first finding, ASan at its first
# error, and LeakSanitizer checks every process that ends normally. The
# programs the tests start (the agent, the reference server) are built the
# same way and inherit the options below.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLHARBOR_ASAN_DIR:-$top/build-asan}

bash "$top/scripts/bootstrap.sh"
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build" --parallel

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1
export LSAN_OPTIONS=suppressions=$top/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
status=0
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel 2 --timeout 900 </dev/null || status=$?

# A child process's report reaches only its test's output; a test may pass
# even though the program it started died of one. Look for reports anywhere.
log="$build/Testing/Temporary/LastTest.log"
if grep -nE "ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:" "$log"; then
  echo "sanitize.sh: sanitizer reports above (full output in $log)" >&2
  status=1
fi
exit $status
