#!/usr/bin/env bash
# Cross-builds libmp3lame for Windows from Debian's source package of lame and
# installs the header and the static library into OUTDIR (OUTDIR/include/lame/
# lame.h, OUTDIR/lib/libmp3lame.a), for GOGO.DLL to link in.
#
#   tools/build-lame-mingw.sh ARCH OUTDIR      ARCH: i686 | x86_64
#
# OUTDIR is the cache: when it already holds the library nothing is done. The
# source package is fetched once into OUTDIR.source beside it, so a removed
# OUTDIR is rebuilt without a new download.
set -euo pipefail

usage() {
  echo "usage: $0 i686|x86_64 OUTDIR" >&2
  exit 2
}
(($# == 2)) || usage
arch=$1
case "$arch" in
  i686 | x86_64) ;;
  *) usage ;;
esac
[[ -n $2 ]] || usage
mkdir -p "$2"
outdir=$(cd "$2" && pwd)
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
for tool in apt-get dpkg-source make; do
  if ! command -v "$tool" >/dev/null; then
    echo "lame-mingw: $tool not found (tools/setup.sh windows installs it)" >&2
    exit 1
  fi
done

as_root=()
if [[ $(id -u) -ne 0 ]]; then as_root=(sudo); fi

# A deb-src entry of this machine's Debian suite, one-line (.list) or deb822
# (.sources) format, not disabled.
has_deb_src() {
  local suite=$1 file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $file ]] || continue
    if awk -v suite="$suite" '
        $1 == "deb-src" { for (i = 2; i <= NF; ++i) if ($i == suite) found = 1 }
        END { exit !found }' "$file"; then
      return 0
    fi
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -f $file ]] || continue
    if awk -v suite="$suite" '
        function check() { if (src && has && enabled) found = 1; src = has = 0; enabled = 1 }
        BEGIN { enabled = 1 }
        /^[ \t]*$/ { check(); next }
        /^#/ { next }
        tolower($1) == "types:" { for (i = 2; i <= NF; ++i) if ($i == "deb-src") src = 1 }
        tolower($1) == "suites:" { for (i = 2; i <= NF; ++i) if ($i == suite) has = 1 }
        tolower($1) == "enabled:" { enabled = tolower($2) != "no" }
        END { check(); exit !found }' "$file"; then
      return 0
    fi
  done
  return 1
}

suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [[ -z $suite ]]; then
  echo "lame-mingw: /etc/os-release names no VERSION_CODENAME" >&2
  exit 1
fi
if ! has_deb_src "$suite"; then
  entry=/etc/apt/sources.list.d/vud-deb-src.sources
  echo "lame-mingw: adding the source packages of $suite ($entry)"
  printf '%s\n' \
    "Types: deb-src" \
    "URIs: http://deb.debian.org/debian" \
    "Suites: $suite" \
    "Components: main" \
    "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
    "${as_root[@]}" tee "$entry.tmp" >/dev/null
  "${as_root[@]}" mv "$entry.tmp" "$entry"
  "${as_root[@]}" apt-get update -qq
fi

started=$SECONDS
source_cache="$outdir.source"
mkdir -p "$source_cache"
# The unpacked tree is named lame-VERSION; fetch only when none is there yet.
tree=$(find "$source_cache" -mindepth 1 -maxdepth 1 -type d -name 'lame-*' | sort | tail -n 1)
if [[ -z $tree ]]; then
  # As root apt would hand the download to its _apt user, who cannot write
  # here, and fall back to root with a warning: say so at once.
  sandbox=()
  if [[ $(id -u) -eq 0 ]]; then sandbox=(-o APT::Sandbox::User=root); fi
  if ! (cd "$source_cache" && apt-get source -qq "${sandbox[@]}" lame) >"$source_cache.log" 2>&1; then
    echo "lame-mingw: apt-get source lame failed; its output:" >&2
    tail -n 20 "$source_cache.log" >&2
    exit 1
  fi
  tree=$(find "$source_cache" -mindepth 1 -maxdepth 1 -type d -name 'lame-*' | sort | tail -n 1)
fi
if [[ -z $tree || ! -x $tree/configure ]]; then
  echo "lame-mingw: apt-get source lame gave no source tree in $source_cache" >&2
  exit 1
fi

# Built out of the source tree, so that the other arch can share nothing by
# accident and a failed build leaves the source as it was.
work="$outdir.work"
rm -rf "$work"
mkdir -p "$work"
(
  cd "$work"
  "$tree/configure" --quiet --host="$host" --prefix="$outdir" \
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
