#!/usr/bin/env bash
# vudconv.exe under Wine against the Linux build:
#   [WINEARCH=win32] vudconv-wine.sh LINUX_BUILD WIN_BUILD
# WIN_BUILD is an x86_64 build, run under wine64, or with WINEARCH=win32 an
# i686 build, run under 32-bit Wine (wine-run.sh).
# 1. With our GOGO.DLL it converts samples/voice/ into an archive that the
#    Linux vudinfo verifies (every invariant, every stream whole MP3 frames),
#    whose streams libmpg123 decodes to the sources' audio (the Linux
#    end-to-end test, given the archive), and which equals the Linux
#    vudconv's archive made with the Linux GOGO.DLL (the same libmp3lame);
#    so do its archives with one encoder and with eight side by side (eight
#    helpers, each loading the library, beside the program).
# 2. With the fake encoder library (a copy named GOGO.DLL beside a copy of the
#    program) its archive equals, byte for byte, the Linux vudconv's archive
#    made with the Linux fake library.
# 3. Samples in a folder with a Japanese name convert too, into the same
#    archive as in 1; --check there prints what the Linux --check prints of
#    that folder, and writes nothing.
# Exit status 0 when every check passed.
set -uo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: vudconv-wine.sh LINUX_BUILD WIN_BUILD" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
linux=$(cd "$1" && pwd) || exit 2
win=$(cd "$2" && pwd) || exit 2
prefix=$win/wine-prefix
# Wine reads the program's arguments in the Linux locale's encoding.
export LC_ALL=C.UTF-8

for file in "$linux/vudconv" "$linux/vudinfo" "$linux/libfake_encoder.so" "$linux/GOGO.DLL" \
            "$linux/conversion_end_to_end_test" \
            "$win/vudconv.exe" "$win/vud-encoder-helper.exe" "$win/GOGO.DLL" \
            "$win/libfake_encoder.dll"; do
  if [[ ! -f $file ]]; then
    echo "vudconv-wine.sh: $file is missing (build it first)" >&2
    exit 2
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

check() {  # description, command...
  local description=$1; shift
  if "$@" >"$work/log" 2>&1; then
    echo "ok    $description"
  else
    echo "FAIL  $description"
    sed 's/^/      /' "$work/log" | tail -20
    failures=$((failures + 1))
  fi
}

# A Windows program, with its paths as Wine's drive Z: names them.
wine_run() {
  timeout 300 "$here/wine-run.sh" "$prefix" "$@"
}
windows_path() {
  echo "Z:$1"
}

verify_archive() {  # archive
  "$linux/vudinfo" --verify "$1" >"$work/verify.txt" && grep '^verify: ok, 3 archives' "$work/verify.txt"
}

# Encoder helpers still running once every program has ended; the Linux
# side sees each Windows process with its program's name.
no_helper_left() {
  local tries
  for ((tries = 0; tries < 100; tries++)); do
    pgrep -f 'vud-encoder-helper\.exe' >/dev/null || return 0
    sleep 0.1
  done
  echo "helpers still running:"
  pgrep -af 'vud-encoder-helper\.exe'
  return 1
}

# 1. Our encoder library, with two encoder helpers.
check "vudconv.exe -j 2 converts samples/voice/ with GOGO.DLL" \
  wine_run "$win/vudconv.exe" -y -q -j 2 "$(windows_path "$root/samples/voice/")" \
  "$(windows_path "$work/real.pac")"
check "no encoder helper is left" no_helper_left
check "the Linux vudinfo verifies its archive" verify_archive "$work/real.pac"
decode_archive() {  # archive
  VUD_SOURCE_DIR=$root VUD_BUILD_DIR=$linux VUD_ARCHIVE_TO_DECODE=$1 \
    "$linux/conversion_end_to_end_test" --gtest_filter='ConversionEndToEndOutside.*'
}
check "its streams decode to the sources' audio (libmpg123)" decode_archive "$work/real.pac"
check "the Linux vudconv converts with the Linux GOGO.DLL (one encoder)" \
  "$linux/vudconv" -y -q -j 1 "$root/samples/voice/" "$work/linux-real.pac"
check "the two archives are the same bytes" cmp "$work/real.pac" "$work/linux-real.pac"
for jobs in 1 8; do
  check "vudconv.exe -j $jobs makes the same archive" \
    wine_run "$win/vudconv.exe" -y -q -j "$jobs" "$(windows_path "$root/samples/voice/")" \
    "$(windows_path "$work/real-j$jobs.pac")"
  check "  the same bytes (-j $jobs)" cmp "$work/real.pac" "$work/real-j$jobs.pac"
done
check "no encoder helper is left after -j 8" no_helper_left

# 2. The fake library, on both systems, in the program itself: its streams
# depend on how many entries its process has encoded.
mkdir -p "$work/win-fake" "$work/linux-fake"
cp "$win/vudconv.exe" "$work/win-fake/vudconv.exe"
cp "$win/libfake_encoder.dll" "$work/win-fake/GOGO.DLL"
cp "$linux/vudconv" "$work/linux-fake/vudconv"
cp "$linux/libfake_encoder.so" "$work/linux-fake/GOGO.DLL"
check "vudconv.exe converts with the fake library" \
  wine_run "$work/win-fake/vudconv.exe" -y -q -j 1 "$(windows_path "$root/samples/voice/")" \
  "$(windows_path "$work/win-fake.pac")"
check "the Linux vudconv converts with the fake library" \
  "$work/linux-fake/vudconv" -y -q -j 1 "$root/samples/voice/" "$work/linux-fake.pac"
check "both archives are the same bytes" cmp "$work/win-fake.pac" "$work/linux-fake.pac"

# 3. A folder whose name is Japanese.
mkdir -p "$work/音声"
cp "$root"/samples/voice/*.vud "$work/音声/"
check "vudconv.exe converts a folder named 音声" \
  wine_run "$win/vudconv.exe" -y -q "$(windows_path "$work/音声/")" \
  "$(windows_path "$work/音声/出力.pac")"
check "that archive equals the one from samples/voice/" cmp "$work/real.pac" "$work/音声/出力.pac"
same_check() {  # the folder gets a file a run would stop at; both checks exit 1
  echo "not an archive" >"$work/音声/読んでね.vud"
  ls -l --time-style=full-iso "$work/音声" >"$work/before.txt"
  local windows_code=0 linux_code=0
  wine_run "$win/vudconv.exe" --check "$(windows_path "$work/音声")" >"$work/check-win.txt" ||
    windows_code=$?
  "$linux/vudconv" --check "$work/音声" >"$work/check-linux.txt" || linux_code=$?
  ls -l --time-style=full-iso "$work/音声" >"$work/after.txt"
  rm "$work/音声/読んでね.vud"
  cat "$work/check-win.txt"
  [[ $windows_code == 1 && $linux_code == 1 ]] && diff <(tr -d '\r' <"$work/check-win.txt") \
    "$work/check-linux.txt" && cmp "$work/before.txt" "$work/after.txt"
}
check "vudconv.exe --check there says what the Linux one says, writing nothing" same_check

# 4. A helper that crashes: the fake library aborts in each helper at its
# third entry. The run fails cleanly: exit 1, the entry's message, no
# output, no temporary file, no helper left.
mkdir -p "$work/crash" "$work/crash-out"
cp "$win/vudconv.exe" "$win/vud-encoder-helper.exe" "$work/crash/"
cp "$win/libfake_encoder.dll" "$work/crash/GOGO.DLL"
crash_run() {
  local code=0
  FAKE_ENCODER_CHILD_FAULT=abort:3 WINEDEBUG=-all wine_run "$work/crash/vudconv.exe" -y -q -j 2 \
    "$(windows_path "$root/samples/voice/")" "$(windows_path "$work/crash-out/out.pac")" \
    2>"$work/crash-err.txt" || code=$?
  cat "$work/crash-err.txt"
  [[ $code == 1 ]] && grep -q 'cant encode/write mp3 (id:' "$work/crash-err.txt" &&
    [[ -z $(ls -A "$work/crash-out") ]]
}
check "a helper that crashes fails the run cleanly (exit 1, nothing left)" crash_run
check "no encoder helper is left after the crash" no_helper_left

# 5. A killed vudconv.exe, once both helpers have loaded the library: they
# end with it (the job), whether in the library or waiting for their pipes.
# (Killed while Wine still creates a helper, that helper stays half-made
# inside Wine, waiting for its parent's start-up data; Windows creates a
# process whole.)
helpers_loaded() {
  local pid loaded=0
  for pid in $(pgrep -f 'vud-encoder-helper\.exe'); do
    grep -q 'GOGO\.DLL' "/proc/$pid/maps" 2>/dev/null && loaded=$((loaded + 1))
  done
  ((loaded >= 2))
}
killed_run() {
  FAKE_ENCODER_CHILD_FAULT=delay:200 "$here/wine-run.sh" "$prefix" "$work/crash/vudconv.exe" -y -q \
    -j 2 "$(windows_path "$root/samples/voice/")" "$(windows_path "$work/killed.pac")" &
  local runner=$! tries
  for ((tries = 0; tries < 300; tries++)); do
    helpers_loaded && break
    sleep 0.1
  done
  pkill -KILL -f 'crash.vudconv\.exe' || true
  wait "$runner" || true
  no_helper_left
}
check "a killed vudconv.exe leaves no helper" killed_run

if ((failures > 0)); then
  echo "vudconv-wine.sh: $failures check(s) failed"
  exit 1
fi
echo "vudconv-wine.sh: every check passed"
