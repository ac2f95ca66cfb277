#!/usr/bin/env bash
# Encoders side by side: vudconv with N encoder helpers (-j N) on a corpus of
# speech-derived archives.
#
# Sameness: the archive is the same, byte for byte, for N = 1, 2, 4 and 8, on
# the corpus and on samples/voice/.
#
# Time: wall and CPU time (the program and its helpers) for N = 1, 2 and 4
# at 32 kbit/s, run in rounds (each round runs every N once, in an order that
# changes from round to round, so a change in the machine's load meets all
# alike). Per round the ratio time(N) / time(1); the median of the rounds'
# ratios is compared: N = 2 at most 0.6 on a machine with two processors or
# more. Against the encoder alone (encode-alone, the same PCM through the
# same entry encoding, reading its PCM file taken off): time(N) /
# (time(alone) / N), 1 being perfect sharing.
#
# Memory: the peak of the program plus its helpers, sampled every 10 ms as
# the sum of their proportional set sizes (a page shared by several of them,
# such as the C library's, counted once in all); also the sum of resident
# sets, which counts shared pages once per process. On a corpus whose longest
# entry is 60 s: at most N x 8 MB, and the same within 10 % on ten times
# that corpus.
#
# Usage: bench/e2e-parallel.sh [BUILD_DIR]        (default build/)
#   VUD_BENCH_ROUNDS    timed rounds (default 5)
#   VUD_BENCH_ARCHIVES  archives of the timing corpus (default 4)
#   VUD_BENCH_ENTRIES   entries per archive (default 75, about 3 s each)
# Exits 1 when a limit is exceeded or an archive differs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${VUD_BENCH_ROUNDS:-5}
archives=${VUD_BENCH_ARCHIVES:-4}
entries=${VUD_BENCH_ENTRIES:-75}

source bench/bench-common.sh
bench_setup e2e-parallel "$build" vudconv vud-encoder-helper GOGO.DLL make-corpus encode-alone
vudconv=$(realpath "$build/vudconv")
alone=$(realpath "$build/encode-alone")
make_corpus=$(realpath "$build/make-corpus")
processors=$(nproc)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_speech "$work"

mkdir "$work/corpus"
echo "timing corpus: $("$make_corpus" --archives "$archives" --entries "$entries" --seconds 3 \
  --pcm "$work/corpus.pcm" "$work/corpus" "${speech[@]}")"
echo "processors available: $processors"

status=0

# --- Sameness ---------------------------------------------------------------
for folder in "$work/corpus" samples/voice; do
  "$vudconv" -q -y -j 1 "$folder" "$work/same-1.pac" >/dev/null
  for jobs in 2 4 8; do
    "$vudconv" -q -y -j "$jobs" "$folder" "$work/same-$jobs.pac" >/dev/null
    if cmp -s "$work/same-1.pac" "$work/same-$jobs.pac"; then
      echo "same archive: -j $jobs equals -j 1 on ${folder##*/} ok"
    else
      echo "same archive: -j $jobs DIFFERS from -j 1 on ${folder##*/}"
      status=1
    fi
  done
done

# --- Time -------------------------------------------------------------------
run_timed() {  # jobs -> "wall cpu" of the whole process, its helpers included
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$vudconv" -q -y -b 32 -j "$1" "$work/corpus" \
    "$work/out.pac" >/dev/null
  awk '{printf "%s %.2f\n", $1, $2 + $3}' "$work/time"
}
time_alone() {  # seconds of the whole process, less its reading of the PCM file
  local start=$EPOCHREALTIME report
  report=$("$alone" "$work/corpus.pcm" 32 "$work/alone.mp3" 2>&1 >/dev/null)
  local end=$EPOCHREALTIME
  echo "$end - $start - $(echo "$report" | awk '{print $3}')" | bc -l
}

declare -A walls cpus ratios
alones=()
orders=("1 2 4" "2 4 1" "4 1 2")
for ((round = 0; round < rounds; round++)); do
  declare -A wall=()
  for jobs in ${orders[round % 3]}; do
    read -r w c < <(run_timed "$jobs")
    wall[$jobs]=$w
    walls[$jobs]+=" $w"
    cpus[$jobs]+=" $c"
  done
  alones+=("$(time_alone)")
  for jobs in 2 4; do
    ratios[$jobs]+=" $(echo "${wall[$jobs]} / ${wall[1]}" | bc -l)"
  done
done
t_alone=$(echo "${alones[*]}" | median)
printf 'encoding alone: %.3f s (median of %d)\n' "$t_alone" "$rounds"
for jobs in 1 2 4; do
  w=$(echo "${walls[$jobs]}" | median)
  c=$(echo "${cpus[$jobs]}" | median)
  share=$(echo "$w / ($t_alone / $jobs)" | bc -l)
  line=$(printf -- '-j %d: wall %.3f s, CPU %.2f s (medians of %d), to encoding alone / %d: %.2f' \
    "$jobs" "$w" "$c" "$rounds" "$jobs" "$share")
  if [[ $jobs != 1 ]]; then
    ratio=$(echo "${ratios[$jobs]}" | median)
    line+=$(printf ', to -j 1: %.3f (median of the rounds)' "$ratio")
    if [[ $jobs == 2 ]]; then
      if ((processors < 2)); then
        line+=" (one processor: no limit)"
      elif (($(echo "$ratio > 0.6" | bc -l))); then
        line+=" limit 0.6 OVER THE LIMIT"
        status=1
      else
        line+=" limit 0.6 ok"
      fi
    fi
  fi
  echo "$line"
done

# --- Memory -----------------------------------------------------------------
# Prints "pss rss" (KB): the peaks of the sums over the program and its helpers.
peak_kb() {  # jobs folder
  "$vudconv" -q -y -j "$1" "$2" "$work/mem.pac" >/dev/null &
  local program=$! peak_pss=0 peak_rss=0
  while kill -0 "$program" 2>/dev/null; do
    local pss=0 rss=0 pid
    for pid in "$program" $(pgrep -P "$program"); do
      read -r p r < <(awk '/^Pss:/ {p = $2} /^Rss:/ {r = $2} END {print p + 0, r + 0}' \
        "/proc/$pid/smaps_rollup" 2>/dev/null || echo "0 0")
      pss=$((pss + p))
      rss=$((rss + r))
    done
    ((pss > peak_pss)) && peak_pss=$pss
    ((rss > peak_rss)) && peak_rss=$rss
    sleep 0.01
  done
  wait "$program"
  echo "$peak_pss $peak_rss"
}
mkdir "$work/mem1" "$work/mem10"
echo "memory corpus 1x: $("$make_corpus" --archives "$archives" --entries "$entries" --seconds 3 \
  --long-seconds 60 "$work/mem1" "${speech[@]}")"
echo "memory corpus 10x: $("$make_corpus" --archives $((archives * 10)) --entries "$entries" \
  --seconds 3 --long-seconds 60 "$work/mem10" "${speech[@]}")"
for jobs in 1 2 4; do
  read -r pss1 rss1 < <(peak_kb "$jobs" "$work/mem1")
  read -r pss10 rss10 < <(peak_kb "$jobs" "$work/mem10")
  limit=$((jobs * 8192))
  spread=$(echo "($pss10 - $pss1) / $pss1 * 100" | bc -l)
  verdict=ok
  if ((pss1 > limit || pss10 > limit)) || (($(echo "$spread > 10 || $spread < -10" | bc -l))); then
    verdict="OVER THE LIMIT"
    status=1
  fi
  printf -- '-j %d peak memory: %d KB (1x), %d KB (10x), difference %+.1f %% (limits %d KB, 10 %%) %s; resident sets %d KB / %d KB\n' \
    "$jobs" "$pss1" "$pss10" "$spread" "$limit" "$verdict" "$rss1" "$rss10"
done
exit $status
