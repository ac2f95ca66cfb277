#!/usr/bin/env bash
# The Windows stage of the test suite (tools/test.sh runs it last; it also
# runs alone). Cross-compiles with mingw-w64 and runs under Wine:
#   1. build-win64 (x86_64, tests on): every test program under wine64,
#      from a fresh Wine prefix;
#   2. build-win32 (i686, tests off): compiled and linked only (no 32-bit
#      programs run here);
#   3. the PE checks of both builds (tests/windows/check-pe.sh);
#   4. vudconv.exe against the Linux build (tests/windows/vudconv-wine.sh);
#   5. the window program on a virtual display (tests/windows/gui-wine.sh).
# Ends with "N passed, N failed": each test program and each check counts
# one, a build that fails counts one failure. Exit status 0 when all passed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
started=$(date +%s)

./tools/setup.sh windows || exit 1

jobs=$(nproc)
passed=0
failed=0
status=0

fail() {  # message
  echo "test-windows.sh: $1"
  failed=$((failed + 1))
  status=1
}

script_name=test-windows.sh
# shellcheck source=tools/test-common.sh
source tools/test-common.sh

step() {  # description, command...
  local description=$1; shift
  if "$@"; then
    passed=$((passed + 1))
  else
    fail "$description failed"
  fi
}

echo "== windows x86_64 (tests under wine64)"
win64_built=false
if configure_and_build build-win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
     -DVUD_BUILD_TESTS=ON -DVUD_BUILD_BENCH=OFF; then
  win64_built=true
  # Every run of the stage starts from a fresh Wine prefix, as a CI machine
  # would; the first test program makes it.
  rm -rf "$root/build-win64/wine-prefix" "$root/build-win64/wine-prefix.lock"
  run_ctest build-win64
  echo "test-windows.sh: $ctest_total test programs ran under Wine"
else
  fail "the x86_64 build failed"
fi

echo "== windows i686 (built, not run)"
win32_built=false
if configure_and_build build-win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
     -DVUD_BUILD_TESTS=OFF -DVUD_BUILD_BENCH=OFF; then
  win32_built=true
else
  fail "the i686 build failed"
fi

if [[ -x tests/windows/check-pe.sh ]]; then
  echo "== PE checks"
  if $win32_built; then step "check-pe.sh build-win32 i686" tests/windows/check-pe.sh build-win32 i686; fi
  if $win64_built; then step "check-pe.sh build-win64 x86_64" tests/windows/check-pe.sh build-win64 x86_64; fi
fi

echo "== vudconv.exe against the Linux build"
if $win64_built; then
  # The Linux programs it compares with, from the normal build (built only
  # where missing).
  if cmake -S "$root" -B "$root/build" -G Ninja -DVUD_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
       >/dev/null &&
     cmake --build "$root/build" -j "$jobs" --target vudconv vudinfo GOGO.DLL fake_encoder \
       conversion_end_to_end_test; then
    step "vudconv-wine.sh" tests/windows/vudconv-wine.sh build build-win64
  else
    fail "the Linux build for vudconv-wine.sh failed"
  fi
fi

if [[ -x tests/windows/gui-wine.sh ]] && $win64_built; then
  echo "== the window program under Wine"
  step "gui-wine.sh build-win64" tests/windows/gui-wine.sh build-win64
fi

echo "test-windows.sh: the Windows stage took $(($(date +%s) - started)) s"
echo "${passed} passed, ${failed} failed"
exit $status
