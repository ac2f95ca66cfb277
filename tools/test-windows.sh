#!/usr/bin/env bash
# The Windows stage of the test suite (tools/test.sh runs it last; it also
# runs alone). Cross-compiles with mingw-w64 and runs under Wine:
#   1. build-win64 (x86_64, tests on): every test program under wine64,
#      from a fresh Wine prefix;
#   2. build-win32 (i686, tests on): every test program under 32-bit Wine
#      (wine32), from a fresh 32-bit prefix (WINEARCH=win32);
#   3. the PE checks of both builds (tests/windows/check-pe.sh);
#   4. vudconv.exe of both builds against the Linux build
#      (tests/windows/vudconv-wine.sh);
#   5. the window program of both builds on a virtual display
#      (tests/windows/gui-wine.sh).
# A machine that cannot run 32-bit x86 code at all (its kernel refuses i386
# programs, so 32-bit Wine cannot start) still builds and checks build-win32
# (2 and 3) and says so; its i686 programs then count neither way.
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

# A test program that fails under Wine runs once more, and counts as passed
# when that run passes; ctest's output shows both runs. Wine on a loaded
# machine now and then fails where Windows would not (one start of four
# encoder helpers failed in one fresh-prefix run of five, a test that passes
# in every Linux build and in every other run), and one such failure would
# fail the whole test command. A fault of ours fails both runs.
wine_retry=(--repeat until-pass:2)

echo "== windows x86_64 (tests under wine64)"
win64_built=false
if configure_and_build build-win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
     -DVUD_BUILD_TESTS=ON -DVUD_BUILD_BENCH=OFF; then
  win64_built=true
  # Every run of the stage starts from a fresh Wine prefix, as a CI machine
  # would; the first test program makes it.
  rm -rf "$root/build-win64/wine-prefix" "$root/build-win64/wine-prefix.lock"
  run_ctest build-win64 "${wine_retry[@]}"
  echo "test-windows.sh: $ctest_total test programs ran under Wine"
else
  fail "the x86_64 build failed"
fi

echo "== windows i686 (tests under 32-bit Wine)"
win32_built=false
win32_runs=false
if configure_and_build build-win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
     -DVUD_BUILD_TESTS=ON -DVUD_BUILD_BENCH=OFF; then
  win32_built=true
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    win32_runs=true
    rm -rf "$root/build-win32/wine-prefix" "$root/build-win32/wine-prefix.lock"
    run_ctest build-win32 "${wine_retry[@]}"
    echo "test-windows.sh: $ctest_total test programs ran under 32-bit Wine"
  else
    echo "test-windows.sh: this machine cannot start 32-bit Wine (/usr/lib/wine/wine:" \
      "$(/usr/lib/wine/wine --version 2>&1 | head -n 1)); the i686 programs were built, not run"
  fi
else
  fail "the i686 build failed"
fi

if [[ -x tests/windows/check-pe.sh ]]; then
  echo "== PE checks"
  if $win32_built; then step "check-pe.sh build-win32 i686" tests/windows/check-pe.sh build-win32 i686; fi
  if $win64_built; then step "check-pe.sh build-win64 x86_64" tests/windows/check-pe.sh build-win64 x86_64; fi
fi

echo "== vudconv.exe against the Linux build"
if $win64_built || $win32_runs; then
  # The Linux programs it compares with, from the normal build (built only
  # where missing).
  if cmake -S "$root" -B "$root/build" -G Ninja -DVUD_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
       >/dev/null &&
     cmake --build "$root/build" -j "$jobs" --target vudconv vudinfo GOGO.DLL fake_encoder \
       conversion_end_to_end_test; then
    if $win64_built; then step "vudconv-wine.sh build-win64" tests/windows/vudconv-wine.sh build build-win64; fi
    if $win32_runs; then
      step "vudconv-wine.sh build-win32" env WINEARCH=win32 tests/windows/vudconv-wine.sh build build-win32
    fi
  else
    fail "the Linux build for vudconv-wine.sh failed"
  fi
fi

if [[ -x tests/windows/gui-wine.sh ]]; then
  echo "== the window program under Wine"
  if $win64_built; then step "gui-wine.sh build-win64" tests/windows/gui-wine.sh build-win64; fi
  if $win32_runs; then
    step "gui-wine.sh build-win32" env WINEARCH=win32 tests/windows/gui-wine.sh build-win32
  fi
fi

echo "test-windows.sh: the Windows stage took $(($(date +%s) - started)) s"
echo "${passed} passed, ${failed} failed"
exit $status
