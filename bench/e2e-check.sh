#!/usr/bin/env bash
# How long `vudconv --check` takes over hours of audio: a corpus of
# VUD_BENCH_ARCHIVES archives of 120 entries of 3 s, checked VUD_BENCH_REPEATS
# times; prints the median time, the audio checked per second of it and the
# peak resident set.
#
# Usage: bench/e2e-check.sh [BUILD_DIR]        (default build/)
#   VUD_BENCH_REPEATS   timed checks (default 5)
#   VUD_BENCH_ARCHIVES  archives of the corpus (default 20: 2 hours of audio)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
repeats=${VUD_BENCH_REPEATS:-5}
archives=${VUD_BENCH_ARCHIVES:-20}

source bench/bench-common.sh
bench_setup e2e-check "$build" vudconv make-corpus
vudconv=$(realpath "$build/vudconv")
make_corpus=$(realpath "$build/make-corpus")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_speech "$work"
mkdir "$work/corpus"
echo "corpus: $("$make_corpus" --archives "$archives" --entries 120 --seconds 3 "$work/corpus" \
  "${speech[@]}")"

times=()
for ((run = 1; run <= repeats; run++)); do
  /usr/bin/time -f "%e %M" -o "$work/time" "$vudconv" --check "$work/corpus" >"$work/summary"
  read -r seconds peak <"$work/time"
  times+=("$seconds")
done
seconds=$(echo "${times[*]}" | median)
audio=$((archives * 120 * 3))
echo "check: $(cat "$work/summary")"
echo "median ${seconds} s over ${repeats} runs; $(echo "$audio / ($seconds + 0.005)" | bc) s of audio per second; peak ${peak} KB"
