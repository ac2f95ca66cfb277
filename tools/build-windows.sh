#!/usr/bin/env bash
# Builds the Windows programs with mingw-w64 and packs the downloads:
#   build-win32/ (i686) and build-win64/ (x86_64), Release;
#   dist/vud-converter-win32.zip and dist/vud-converter-win64.zip, each one
#   folder vud-converter-winNN/ with vud-converter.exe, vudconv.exe,
#   vudinfo.exe, vud-encoder-helper.exe (the encoders run side by side),
#   GOGO.DLL (stripped) and README-ja.txt / README-en.txt.
# Sets up the machine first (tools/setup.sh windows: the packages, and lame's
# source package in .cache/lame-source/). Each build folder keeps its
# cross-built libmp3lame, so a re-run builds only what changed.
#
#   tools/build-windows.sh [win32|win64]...     default: both
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

variants=("$@")
if ((${#variants[@]} == 0)); then variants=(win32 win64); fi
for variant in "${variants[@]}"; do
  case "$variant" in
    win32 | win64) ;;
    *)
      echo "usage: $0 [win32|win64]..." >&2
      exit 2
      ;;
  esac
done

tools/setup.sh windows

jobs=${VUD_BUILD_JOBS:-2}
programs=(vud-converter.exe vudconv.exe vudinfo.exe vud-encoder-helper.exe GOGO.DLL)
targets=(vud-converter vudconv vudinfo vud-encoder-helper GOGO.DLL)
version=$(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [[ -z $version ]]; then
  echo "build-windows: no project version in CMakeLists.txt" >&2
  exit 1
fi
# Every file in the zips, and the time stamp in every PE header (which the
# linker and strip honour through SOURCE_DATE_EPOCH), is the time of the last
# commit: the same sources pack into the same bytes.
stamp=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH=$stamp

# A read-me for Notepad: UTF-8 with a byte order mark, CRLF line ends.
write_readme() {
  local source=$1 target=$2 bits=$3
  {
    printf '\xEF\xBB\xBF'
    sed -e 's/\r$//' -e "s/@VERSION@/$version/g" -e "s/@BITS@/$bits/g" -e 's/$/\r/' "$source"
  } >"$target"
}

mkdir -p dist
for variant in "${variants[@]}"; do
  case "$variant" in
    win32)
      arch=i686
      bits="32-bit"
      ;;
    win64)
      arch=x86_64
      bits="64-bit"
      ;;
  esac
  build="build-$variant"
  started=$SECONDS
  echo "build-windows: $variant ($arch) in $build/"
  # CMake would build it too; here its time shows apart from the rest.
  tools/build-lame-mingw.sh "$arch" .cache/lame-source "$build/lame-mingw"
  cmake -S . -B "$build" -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-mingw-$arch.cmake" \
    -DVUD_WERROR=ON -DVUD_BUILD_TESTS=OFF -DVUD_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" -j"$jobs" --target "${targets[@]}"
  echo "build-windows: $variant built in $((SECONDS - started)) s"

  package="vud-converter-$variant"
  stage=$(mktemp -d "dist/.$package.XXXXXX")
  trap 'rm -rf "$stage"' EXIT
  mkdir "$stage/$package"
  for program in "${programs[@]}"; do
    "$arch-w64-mingw32-strip" -o "$stage/$package/$program" "$build/$program"
  done
  # Nothing is packed that needs a DLL Windows lacks or has the wrong exports.
  if ! report=$(tests/windows/check-pe.sh "$stage/$package" "$arch"); then
    grep -v '^PASS' <<<"$report" >&2
    exit 1
  fi
  write_readme docs/windows/README-ja.txt "$stage/$package/README-ja.txt" "$bits"
  write_readme docs/windows/README-en.txt "$stage/$package/README-en.txt" "$bits"
  files=("${programs[@]}" README-ja.txt README-en.txt)
  touch -d "@$stamp" "$stage/$package" "${files[@]/#/$stage/$package/}"
  # Packed beside the old zip, which is replaced only by a complete one; the
  # files in a fixed order.
  (cd "$stage" && zip -q -X "$package.zip" "$package/" "${files[@]/#/$package/}")
  mv -f "$stage/$package.zip" "dist/$package.zip"
  rm -rf "$stage"
  trap - EXIT
  echo "build-windows: dist/$package.zip ($(stat -c %s "dist/$package.zip") bytes)"
done
