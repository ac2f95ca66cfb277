#!/usr/bin/env bash
# Builds the Debian package dist/vud-converter_<version>_<arch>.deb from a
# clean Release build in build-deb/ (configured for /usr), with CPack's DEB
# generator (packaging/CMakeLists.txt):
#   /usr/bin/                              vud-converter, vudconv, vudinfo
#   /usr/libexec/vud-converter/            vud-encoder-helper
#   /usr/lib/<multiarch>/vud-converter/    GOGO.DLL
#   /usr/share/man/man1/                   the three manual pages
#   /usr/share/applications, icons/, metainfo/, doc/vud-converter/
# The dependencies come from the binaries (dpkg-shlibdeps). Every date in the
# package is the time of the last commit (SOURCE_DATE_EPOCH). Prints the
# package's path as its last line.
#
#   tools/build-deb.sh
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

if (($# > 0)); then
  echo "usage: $0" >&2
  exit 2
fi

tools/setup.sh >/dev/null

jobs=${VUD_BUILD_JOBS:-2}
build=build-deb
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}

rm -rf "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVUD_WERROR=ON -DVUD_BUILD_TESTS=OFF -DVUD_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"
(cd "$build" && cpack -G DEB >/dev/null)

packages=("$build"/package/vud-converter_*.deb)
if ((${#packages[@]} != 1)) || [[ ! -f ${packages[0]} ]]; then
  echo "build-deb: cpack made no single package in $build/package/" >&2
  exit 1
fi
mkdir -p dist
cp "${packages[0]}" dist/
echo "dist/$(basename "${packages[0]}")"
