#!/usr/bin/env bash
# Installs the Debian packages the project needs and, for the Windows build,
# fetches lame's source package. Idempotent: apt-get runs only when something
# is missing. Configuring and building then write nothing outside their build
# folder: what they need from the network or the package manager comes from
# here.
#   tools/setup.sh           the Linux build, its tests and the main job
#   tools/setup.sh windows   that, and the Windows cross build and its tests
#   tools/setup.sh i386      that, and the 32-bit Linux build and its tests
#                            (tools/test-i386.sh)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libmp3lame-dev libmpg123-dev
  qt6-base-dev qt6-translations-l10n libgl-dev fonts-ipafont-gothic xvfb xauth
  espeak-ng sox time bc
  # the Debian package (tools/build-deb.sh) and its test: manual pages from the
  # programs' --help, the package's checks, installing it, reading its pages,
  # the metainfo's validator and a look at the window on a virtual display
  help2man dpkg-dev lintian man-db appstream x11-utils
)
windows_packages=(
  # the Windows build (tools/build-windows.sh): cross compilers, Wine to run
  # the programs, dpkg-dev to unpack lame's source package, zip for the
  # downloads
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 wine64 wine zip dpkg-dev
  # the Windows tests: GoogleTest's sources for the cross build, and the window
  # program's run under Wine on a virtual display (keys typed, Japanese text
  # pasted, window geometry, a screenshot, locales generated with localedef)
  googletest xdotool xclip x11-utils imagemagick locales
  # 32-bit Wine beside wine64, for the i686 build's programs
  wine32:i386
)
i386_packages=(
  # the 32-bit Linux build (cmake/toolchain-linux-i686.cmake): gcc -m32, the
  # i386 architecture's libraries it links (libmp3lame for GOGO.DLL, and the
  # tests' GoogleTest and libmpg123), and qemu-user to run its tests
  g++-multilib libmp3lame-dev:i386 libmpg123-dev:i386 libgtest-dev:i386 libgmock-dev:i386
  qemu-user
)
windows=false
# Debian's i386 architecture, added below when missing.
i386_architecture=false
case "${1:-}" in
  "") ;;
  windows) packages+=("${windows_packages[@]}"); windows=true; i386_architecture=true ;;
  i386) packages+=("${i386_packages[@]}"); i386_architecture=true ;;
  *) echo "usage: setup.sh [windows|i386]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]} > 0)); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  if $i386_architecture && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "setup: all packages present"

if $windows; then
  # libmp3lame for Windows is built from this (VUD_LAME_SOURCE_DIR's default).
  # In the checkout rather than under /var/cache: it is written without root,
  # each checkout has its own (two checkouts set up at once do not race for
  # it), and removing the build folders keeps it.
  "$root/tools/fetch-lame-source.sh" "$root/.cache/lame-source"
fi
