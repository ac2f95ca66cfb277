#!/usr/bin/env bash
# Fetches Debian's source package of lame, unpacked with Debian's patches, into
# TREE (TREE/configure and the rest), for tools/build-lame-mingw.sh. Nothing
# is done when TREE holds it already.
#
#   tools/fetch-lame-source.sh TREE
#
# The package comes from the archive this machine's apt uses for its Debian
# suite (tools/deb-src-entries.sh), through an apt configuration and package
# lists of its own in a temporary folder: /etc/apt and the system's lists stay
# as they were, and no root is needed.
set -euo pipefail

if (($# != 1)) || [[ -z $1 ]]; then
  echo "usage: $0 TREE" >&2
  exit 2
fi
tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$(dirname "$1")"
tree="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"

if [[ -x $tree/configure ]]; then
  echo "lame-source: $tree present"
  exit 0
fi
for tool in apt-get dpkg-source; do
  if ! command -v "$tool" >/dev/null; then
    echo "lame-source: $tool not found (tools/setup.sh windows installs it)" >&2
    exit 1
  fi
done
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [[ -z $suite ]]; then
  echo "lame-source: /etc/os-release names no VERSION_CODENAME" >&2
  exit 1
fi

# Beside TREE, so that the finished tree is moved into place in one step.
work=$(mktemp -d "$(dirname "$tree")/.lame-source.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$tools/deb-src-entries.sh" "$suite" "$work/etc"
mkdir -p "$work/lists/partial" "$work/cache" "$work/download"
# The machine's own settings (proxies, keys) still apply; the hooks it runs
# after an update of its own lists do not belong to this one.
{
  echo "Dir::Etc::SourceList \"$work/etc/sources.list\";"
  echo "Dir::Etc::SourceParts \"$work/etc/sources.list.d\";"
  echo "Dir::State::Lists \"$work/lists\";"
  echo "Dir::Cache \"$work/cache\";"
  echo "#clear APT::Update::Pre-Invoke;"
  echo "#clear APT::Update::Post-Invoke;"
  echo "#clear APT::Update::Post-Invoke-Success;"
  # As root apt would hand the downloads to its _apt user, who cannot write
  # here, and fall back to root with a warning.
  if [[ $(id -u) -eq 0 ]]; then echo 'APT::Sandbox::User "root";'; fi
} >"$work/apt.conf"

echo "lame-source: fetching lame's source package of $suite"
if ! {
  apt-get -c "$work/apt.conf" -qq update &&
    (cd "$work/download" && apt-get -c "$work/apt.conf" -qq source lame)
} >"$work/apt.log" 2>&1; then
  echo "lame-source: apt-get failed; its output:" >&2
  tail -n 20 "$work/apt.log" >&2
  exit 1
fi
unpacked=$(find "$work/download" -mindepth 1 -maxdepth 1 -type d -name 'lame-*' | sort | tail -n 1)
if [[ -z $unpacked || ! -x $unpacked/configure ]]; then
  echo "lame-source: apt-get source lame gave no source tree" >&2
  exit 1
fi
rm -rf "$tree"
mv "$unpacked" "$tree"
echo "lame-source: $(basename "$unpacked") in $tree"
