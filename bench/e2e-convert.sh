#!/usr/bin/env bash
# End-to-end benchmark of vudconv on a corpus of speech-derived archives.
#
# Time: vudconv converting the corpus (whole process, wall clock) against
# encode-alone, which hands the same decoded PCM through the same encoder
# contract (encodeEntry and the stand-in GOGO.DLL, the library's per-entry
# set-up included). Both are timed as whole processes (start-up, loading the
# library, the conversion or encoding); encode-alone's reading of its PCM
# file, which has no counterpart in vudconv, is taken off. Both run alternately in
# one invocation, in VUD_BENCH_REPEATS pairs run back to back; the median of
# the pairs' ratios is compared.
# Limits: 1.03x at 32 kbit/s, 1.05x at 8 kbit/s.
#
# Memory: vudconv's peak resident set on a corpus whose longest entry is
# 60 s, at most 8 MB, and the same within 10 % on ten times that corpus.
#
# Usage: bench/e2e-convert.sh [BUILD_DIR]        (default build/)
#   VUD_BENCH_REPEATS   timed pairs per bit rate (default 7)
#   VUD_BENCH_ARCHIVES  archives of the timing corpus (default 4)
#   VUD_BENCH_ENTRIES   entries per archive (default 75, about 3 s each)
# Exits 1 when a limit is exceeded.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
repeats=${VUD_BENCH_REPEATS:-7}
archives=${VUD_BENCH_ARCHIVES:-4}
entries=${VUD_BENCH_ENTRIES:-75}

source bench/bench-common.sh
bench_setup e2e-convert "$build" vudconv GOGO.DLL make-corpus encode-alone
vudconv=$(realpath "$build/vudconv")
alone=$(realpath "$build/encode-alone")
make_corpus=$(realpath "$build/make-corpus")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_speech "$work"

mkdir "$work/corpus"
echo "timing corpus: $("$make_corpus" --archives "$archives" --entries "$entries" --seconds 3 \
  --pcm "$work/corpus.pcm" "$work/corpus" "${speech[@]}")"

status=0

time_alone() {  # kbps: seconds of the whole process, less its reading of the PCM file
  local start=$EPOCHREALTIME report
  report=$("$alone" "$work/corpus.pcm" "$1" "$work/alone.mp3" 2>&1 >/dev/null)
  local end=$EPOCHREALTIME
  echo "$end - $start - $(echo "$report" | awk '{print $3}')" | bc -l
}
time_vudconv() {  # kbps: seconds of the whole process
  local start=$EPOCHREALTIME
  "$vudconv" -q -y -b "$1" "$work/corpus" "$work/out.pac" >/dev/null
  echo "$EPOCHREALTIME - $start" | bc -l
}

for kbps in 32 8; do
  alones=()
  convs=()
  ratios=()
  for ((run = 1; run <= repeats; run++)); do
    # Each pair runs back to back, in alternating order, so that a change in
    # the machine's load meets both sides alike.
    if ((run % 2)); then
      t_alone=$(time_alone "$kbps")
      t_conv=$(time_vudconv "$kbps")
    else
      t_conv=$(time_vudconv "$kbps")
      t_alone=$(time_alone "$kbps")
    fi
    alones+=("$t_alone")
    convs+=("$t_conv")
    ratios+=("$(echo "$t_conv / $t_alone" | bc -l)")
  done
  ratio=$(echo "${ratios[*]}" | median)
  limit=1.03
  [[ $kbps == 8 ]] && limit=1.05
  verdict=ok
  if (($(echo "$ratio > $limit" | bc -l))); then verdict="OVER THE LIMIT"; status=1; fi
  printf '%3d kbit/s: encoding alone %.3f s, vudconv %.3f s (medians of %d pairs), ratio %.4f (median of the pairs; limit %s) %s\n' \
    "$kbps" "$(echo "${alones[*]}" | median)" "$(echo "${convs[*]}" | median)" "$repeats" "$ratio" \
    "$limit" "$verdict"
done

# Peak memory: the same corpus with one 60 s entry, once and ten times over.
peak_kb() {  # corpus folder
  /usr/bin/time -f '%M' -o "$work/peak" "$vudconv" -q -y "$1" "$work/mem.pac" >/dev/null
  cat "$work/peak"
}
mkdir "$work/mem1" "$work/mem10"
echo "memory corpus 1x: $("$make_corpus" --archives "$archives" --entries "$entries" --seconds 3 \
  --long-seconds 60 "$work/mem1" "${speech[@]}")"
echo "memory corpus 10x: $("$make_corpus" --archives $((archives * 10)) --entries "$entries" \
  --seconds 3 --long-seconds 60 "$work/mem10" "${speech[@]}")"
peak1=$(peak_kb "$work/mem1")
peak10=$(peak_kb "$work/mem10")
spread=$(echo "($peak10 - $peak1) / $peak1 * 100" | bc -l)
verdict=ok
if ((peak1 > 8192)) || (($(echo "$spread > 10 || $spread < -10" | bc -l))); then
  verdict="OVER THE LIMIT"
  status=1
fi
printf 'peak memory: %d KB (1x), %d KB (10x), difference %+.1f %% (limits 8192 KB, 10 %%) %s\n' \
  "$peak1" "$peak10" "$spread" "$verdict"
exit $status
