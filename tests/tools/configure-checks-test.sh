#!/usr/bin/env bash
# Configurations that stop at configure time, each with a message saying
# what to do; the Windows ones only where mingw-w64 is installed.
#   configure-checks-test.sh SOURCE_DIR CMAKE
set -euo pipefail
source_dir=$1
cmake=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Present for the GoogleTest row, so that configuring gets that far.
mkdir -p "$tmp/lame/lib" "$tmp/lame/include/lame"
touch "$tmp/lame/lib/libmp3lame.a" "$tmp/lame/include/lame/lame.h"
windows="-DCMAKE_TOOLCHAIN_FILE=$source_dir/cmake/toolchain-mingw-x86_64.cmake"

# cmake arguments | part of the message expected
rows=(
  '-DVUD_SANITIZE=bogus|VUD_SANITIZE is "bogus"'
  "$windows -DVUD_LAME_SOURCE_DIR=$tmp/none|run tools/setup.sh windows"
  "$windows -DVUD_MINGW_LAME_DIR=$tmp/lame -DVUD_GTEST_SOURCE_DIR=$tmp/none|No GoogleTest sources in $tmp/none"
)

failures=0
for i in "${!rows[@]}"; do
  IFS='|' read -r arguments message <<<"${rows[$i]}"
  if [[ $arguments == "$windows"* ]] && ! command -v x86_64-w64-mingw32-gcc-posix >/dev/null; then
    echo "row $i: skipped, no mingw-w64"
    continue
  fi
  # shellcheck disable=SC2086 # the arguments are words
  if "$cmake" -S "$source_dir" -B "$tmp/build-$i" -DVUD_BUILD_BENCH=OFF $arguments >"$tmp/log" 2>&1 ||
     ! tr -s ' \n' ' ' <"$tmp/log" | grep -qF "$message"; then
    echo "row $i ($arguments): no stop with \"$message\"; the output:"
    cat "$tmp/log"
    failures=$((failures + 1))
  fi
done
echo "$failures of ${#rows[@]} rows failed"
((failures == 0))
