#!/usr/bin/env bash
# Configurations that stop at configure time, each with a message saying
# what to do.
#   configure-checks-test.sh SOURCE_DIR CMAKE
set -euo pipefail
source_dir=$1
cmake=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# cmake arguments | part of the message expected
rows=(
  '-DVUD_SANITIZE=bogus|VUD_SANITIZE is "bogus"'
)

failures=0
for i in "${!rows[@]}"; do
  IFS='|' read -r arguments message <<<"${rows[$i]}"
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
