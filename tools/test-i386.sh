#!/usr/bin/env bash
# The 32-bit stage of the test suite (tools/test.sh runs it; it also runs
# alone): the program's code built for 32-bit x86 Linux (build-i386/,
# cmake/toolchain-linux-i686.cmake), its tests run under qemu-user
# (qemu-i386), so that the 32-bit code paths run on any x86-64 machine, its
# kernel able to run 32-bit programs or not. The tests are those of the
# archives, the encoder binding and libraries, the conversion, the scan, the
# worker, the shell and the window layer's core: pointers, long and size_t of 32
# bits, the 32-bit offsets of the output archive below 2 GiB, the input
# description as a 32-bit library reads it.
# Ends with "N passed, N failed": each test program counts one, a build that
# fails counts one failure. Exit status 0 when all passed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
started=$(date +%s)

./tools/setup.sh i386 || exit 1

jobs=$(nproc)
passed=0
failed=0
status=0

script_name=test-i386.sh
# shellcheck source=tools/test-common.sh
source tools/test-common.sh

# The test programs built and run, and nothing else is built. Left out:
#  - child_process_test, encoder_pool_test, vudinfo_tests,
#    conversion_end_to_end_test, vudconv_test, vudconv_signals_test: they
#    start programs of ours (pipe_child, vud-encoder-helper, vudinfo, vudconv)
#    as children, and qemu-user runs only the program it was given: the
#    kernel refuses to start a 32-bit child unless qemu is registered with
#    binfmt_misc, which is the machine's setting, not ours to change;
#  - deb_src_entries_test, configure_checks_test, layers_check: scripts of the
#    build machine, no 32-bit code;
#  - the window program's tests (Qt): the 64-bit builds' (no Qt for i386 here).
build_targets=(
  source_archive_tests
  encoder_entry_encoding_test encoder_fake_gate_test encoder_stand_in_test encoder_binding_test
  scan_tests
  conversion_layout_test conversion_failure_test output_info_test hostile_source_run_test
  worker_run_test worker_race_test worker_scale_test main_dialog_test
  shell_status_order_test shell_console_tests shell_platform_test shell_window_contract_test
  window_core_test
)
# ctest's tests: each program's own, and the binding test's second run.
tests=("${build_targets[@]}" encoder_binding_search_test)
# The stand-in's sweep over every bit rate measures each stream's delay and
# noise against the speech (minutes of the tests' own arithmetic under
# emulation); the 64-bit builds run it, and the cases left here encode through
# the 32-bit library too.
export GTEST_FILTER=-StandInEncoderTest.EncodesSpeechAtEveryBitRateAsPlayableMono22050

echo "== linux i686 (tests under qemu-i386)"
if configure_and_build build-i386 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-linux-i686.cmake" \
     -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVUD_BUILD_TESTS=ON -DVUD_BUILD_GUI=OFF \
     -DVUD_BUILD_BENCH=OFF -DVUD_BUILD_MAN=OFF; then
  built=$(date +%s)
  echo "test-i386.sh: built in $((built - started)) s"
  run_ctest build-i386 -R "^($(IFS='|'; echo "${tests[*]}"))\$"
  echo "test-i386.sh: $ctest_total test programs ran under qemu-i386 in $(($(date +%s) - built)) s"
  if ((ctest_total != ${#tests[@]})); then
    echo "test-i386.sh: ${#tests[@]} tests chosen, $ctest_total ran"; failed=$((failed + 1)); status=1
  fi
else
  echo "test-i386.sh: the i686 build failed"; failed=$((failed + 1)); status=1
fi

echo "test-i386.sh: the 32-bit stage took $(($(date +%s) - started)) s"
echo "${passed} passed, ${failed} failed"
exit $status
