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
# A debug build (Qt's own assertions in its inline code are on) at -O1, which
# keeps the sanitized programs fast enough and compiles far quicker than -O2.
flags="-O1 -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build" --parallel

# AddressSanitizer's and LeakSanitizer's reports go to files of their own,
# whichever process they come from: a test may read or drop the error output
# of a program it starts, and may pass although that program died of a
# finding. (UndefinedBehaviorSanitizer, a separate runtime under gcc, writes
# to the error output only; it stops the process, and the test output is
# searched for its reports as well.)
reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$reports/asan
export LSAN_OPTIONS=suppressions=$top/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
status=0
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel 2 --timeout 900 </dev/null || status=$?

# LeakSanitizer stops all threads of an ending process with a tracer of its
# own; now and then that tracer itself dies (a thread of a system library
# ending at the same moment) and reports "LeakSanitizer has encountered a
# fatal error" instead of a leak check. That is no finding about our code:
# when every report is such a tracer failure, the failed tests run once more.
findings() { grep -n -E "runtime error:|ERROR: (AddressSanitizer|LeakSanitizer)" Testing/Temporary/LastTest.log; }
if ls "$reports"/* >/dev/null 2>&1 && ! findings >/dev/null &&
   ! grep -L "LeakSanitizer has encountered a fatal error" "$reports"/* | grep -q . &&
   ! grep -q -E "ERROR: (AddressSanitizer|LeakSanitizer)" "$reports"/*; then
  echo "sanitize.sh: the leak checker's tracer failed (no finding):"
  cat "$reports"/*
  rm -f "$reports"/*
  if [ $status -ne 0 ]; then
    echo "sanitize.sh: running the failed tests once more"
    status=0
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --rerun-failed --timeout 900 </dev/null || status=$?
  fi
fi

for report in "$reports"/*; do
  [ -f "$report" ] || continue
  echo "== $report"
  cat "$report"
  status=1
done
if findings; then
  status=1
fi
[ $status -eq 0 ] || echo "sanitize.sh: failed; sanitizer reports, if any, above" >&2
exit $status
