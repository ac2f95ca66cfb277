#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a share of the given
# seconds, each from its seed corpus in fuzz/seeds/<target>/ (if any).
set -uo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz}
seconds=${2:-60}
mapfile -t targets < <(find "$dir" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort)
if ((${#targets[@]} == 0)); then echo "run-fuzzers: no fuzz targets in $dir"; exit 1; fi
share=$((seconds / ${#targets[@]}))
((share < 5)) && share=5
status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  work=$(mktemp -d)
  seeds=()
  [[ -d fuzz/seeds/$name ]] && seeds+=("fuzz/seeds/$name")
  [[ -d samples/voice ]] && seeds+=("samples/voice")
  echo "run-fuzzers: $name for ${share}s"
  if ! "$target" -max_total_time="$share" -rss_limit_mb=2048 -max_len=20000 -print_final_stats=1 \
       -artifact_prefix="$work/" "$work" "${seeds[@]}" 2>"$work/log"; then
    tail -40 "$work/log"; status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$work/log" | head -2
  fi
  rm -rf "$work"
done
exit $status
