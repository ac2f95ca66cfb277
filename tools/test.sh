#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite:
#   1. the normal build (build/) with every test, then the Debian package
#      (tests/package/package-test.sh: its own build in build-deb/);
#   2. AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/), every test;
#   3. ThreadSanitizer (build-tsan/), the tests labelled "threaded";
#   4. the libFuzzer targets (build-fuzz/, clang), each for a bounded time;
#   5. the 32-bit stage (tools/test-i386.sh): a 32-bit x86 Linux build
#      (build-i386/), its archive, encoder, conversion, scan and worker tests
#      under qemu-i386;
#   6. the Windows stage (tools/test-windows.sh): the mingw-w64 builds, their
#      tests and checks under Wine (x86_64 under wine64, i686 under 32-bit
#      Wine).
# Ends with one line "N passed, N failed" over all ctest runs and checks.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./tools/setup.sh || exit 1

jobs=$(nproc)
fuzz_seconds=${VUD_FUZZ_SECONDS:-60}
passed=0
failed=0
status=0

script_name=test.sh
# shellcheck source=tools/test-common.sh
source tools/test-common.sh

echo "== normal build"
if configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo; then
  run_ctest build
else
  echo "test.sh: normal build failed"; status=1; failed=$((failed + 1))
fi

# The Debian package (its own Release build in build-deb/): lintian, the
# unpacked programs, the window, and as root installed, read with man and
# purged. One step of the tally.
echo "== debian package"
if ./tests/package/package-test.sh; then
  passed=$((passed + 1))
else
  echo "test.sh: the package test failed"; failed=$((failed + 1)); status=1
fi

echo "== address + undefined sanitizers"
if configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DVUD_SANITIZE=address -DVUD_BUILD_BENCH=OFF; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest build-asan
else
  echo "test.sh: sanitizer build failed"; status=1; failed=$((failed + 1))
fi

echo "== thread sanitizer"
if configure_and_build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVUD_SANITIZE=thread -DVUD_BUILD_BENCH=OFF -DVUD_BUILD_GUI=OFF; then
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest build-tsan -L threaded
else
  echo "test.sh: thread-sanitizer build failed"; status=1; failed=$((failed + 1))
fi

echo "== fuzzing (${fuzz_seconds}s in all)"
if CC=clang CXX=clang++ configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVUD_BUILD_FUZZ=ON \
     -DVUD_BUILD_GUI=OFF -DVUD_BUILD_BENCH=OFF -DVUD_BUILD_TESTS=OFF; then
  if ./tools/run-fuzzers.sh build-fuzz "$fuzz_seconds"; then
    passed=$((passed + 1))
  else
    echo "test.sh: a fuzzer found a fault"; failed=$((failed + 1)); status=1
  fi
else
  echo "test.sh: fuzz build failed"; status=1; failed=$((failed + 1))
fi

# Runs a stage script that ends with "N passed, N failed" and adds its
# counts to the tally; a stage that does not get there counts one failure.
run_stage() {  # name, script
  local name=$1 script=$2 log rc stage_passed stage_failed
  log=$(mktemp)
  "$script" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  stage_passed=$(sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed$/\1/p' "$log" | tail -1)
  stage_failed=$(sed -n 's/^\([0-9]*\) passed, \([0-9]*\) failed$/\2/p' "$log" | tail -1)
  rm -f "$log"
  if [[ -z "$stage_passed" ]]; then
    echo "test.sh: the $name stage did not finish"; failed=$((failed + 1)); status=1
  else
    passed=$((passed + stage_passed))
    failed=$((failed + stage_failed))
    if [[ $rc -ne 0 || $stage_failed -ne 0 ]]; then status=1; fi
  fi
}

echo "== 32-bit linux"
run_stage 32-bit ./tools/test-i386.sh

echo "== windows"
run_stage Windows ./tools/test-windows.sh

echo "${passed} passed, ${failed} failed"
exit $status
