# Shared by the whole-run benchmarks (sourced): the tools they need, the
# build, the speech the corpora are made of, and the median.

# bench_setup NAME BUILD_DIR TARGET...: checks the tools, configures BUILD_DIR
# when needed and builds the targets.
bench_setup() {
  local name=$1 build=$2 tool built
  shift 2
  for tool in espeak-ng /usr/bin/time bc; do
    command -v "$tool" >/dev/null || { echo "$name: $tool missing (run tools/setup.sh)"; exit 1; }
  done
  if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  if ! built=$(cmake --build "$build" --target "$@" 2>&1); then
    echo "$built"
    exit 1
  fi
}

# make_speech FOLDER: a few sentences in two voices and speeds, 22050 Hz;
# sets the array speech to the three files.
make_speech() {
  espeak-ng -v en -s 165 -w "$1/s1.wav" \
    "The quick brown fox jumps over the lazy dog. Please insert the second disc and press any key to continue."
  espeak-ng -v en-us -s 150 -w "$1/s2.wav" \
    "Welcome back. It has been a long time. Where did you put the map? I cannot find it anywhere."
  espeak-ng -v en -s 190 -w "$1/s3.wav" \
    "Saving your progress. Do not turn off the power. Seven hundred and twenty nine, eight hundred, nine thousand."
  speech=("$1/s1.wav" "$1/s2.wav" "$1/s3.wav")
}

# The median of the numbers on standard input (blank- or line-separated).
median() {
  tr ' ' '\n' | grep -v '^$' | sort -g |
    awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
