#!/usr/bin/env bash
# Cross-builds libmp3lame for Windows from SOURCE, Debian's source package of
# lame as tools/fetch-lame-source.sh unpacks it, and installs the header and
# the static library into OUTDIR (OUTDIR/include/lame/lame.h,
# OUTDIR/lib/libmp3lame.a), for GOGO.DLL to link in. SOURCE is only read.
#
#   tools/build-lame-mingw.sh ARCH SOURCE OUTDIR      ARCH: i686 | x86_64
#
# OUTDIR is the cache: when it already holds the library nothing is done.
set -euo pipefail

usage() {
  echo "usage: $0 i686|x86_64 SOURCE OUTDIR" >&2
  exit 2
}
(($# == 3)) || usage
arch=$1
case "$arch" in
  i686 | x86_64) ;;
  *) usage ;;
esac
[[ -n $2 && -n $3 ]] || usage
mkdir -p "$3"
outdir=$(cd "$3" && pwd)
library="$outdir/lib/libmp3lame.a"
header="$outdir/include/lame/lame.h"

if [[ -f $library && -f $header ]]; then
  echo "lame-mingw: $library present"
  exit 0
fi

host="$arch-w64-mingw32"
cc="$host-gcc-posix"
if ! command -v "$cc" >/dev/null; then
  echo "lame-mingw: $cc not found (tools/setup.sh windows installs it)" >&2
  exit 1
fi
if ! command -v make >/dev/null; then
  echo "lame-mingw: make not found (tools/setup.sh windows installs it)" >&2
  exit 1
fi
if [[ ! -x $2/configure ]]; then
  echo "lame-mingw: no lame source in $2 (tools/setup.sh windows fetches it)" >&2
  exit 1
fi
source_tree=$(cd "$2" && pwd)

started=$SECONDS
# Built out of the source tree, so that the two arches share nothing by
# accident and the source stays as fetched.
work="$outdir.work"
rm -rf "$work"
mkdir -p "$work"
(
  cd "$work"
  "$source_tree/configure" --quiet --host="$host" --prefix="$outdir" \
    --disable-shared --enable-static --disable-frontend --disable-decoder --disable-gtktest \
    CC="$cc"
  make -s -j"$(nproc)"
  make -s install
) >"$work.log" 2>&1 || {
  echo "lame-mingw: the build failed; its output:" >&2
  tail -n 40 "$work.log" >&2
  exit 1
}
rm -rf "$work"
if [[ ! -f $library || ! -f $header ]]; then
  echo "lame-mingw: the build installed no $library" >&2
  exit 1
fi
echo "lame-mingw: built $library in $((SECONDS - started)) s"
