#!/usr/bin/env bash
# Inspects a Windows build without running it:
#   tests/windows/check-pe.sh BUILD_DIR ARCH      ARCH: i686 | x86_64
# - every .exe in BUILD_DIR and GOGO.DLL are PE32 (i686) or PE32+ (x86_64);
# - GOGO.DLL exports exactly the ten entry points, by their plain names;
# - every DLL any of them imports is one that Windows itself provides;
# - encoder/mpge.h compiles for ARCH with the PcmInputDescription layout and
#   the cdecl calling convention the encoder library's interface fixes, even
#   when the compiler is told to default to stdcall.
# One line per check; the exit status is 1 when any check failed.
set -uo pipefail

usage() {
  echo "usage: $0 BUILD_DIR i686|x86_64" >&2
  exit 2
}
(($# == 2)) || usage
build_dir=$1
arch=$2
case "$arch" in
  i686)
    magic="PE32"
    format="pei-i386"
    pointer_bytes=4
    ;;
  x86_64)
    magic="PE32+"
    format="pei-x86-64"
    pointer_bytes=8
    ;;
  *) usage ;;
esac
[[ -d $build_dir ]] || {
  echo "check-pe: $build_dir is not a folder" >&2
  exit 2
}
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
objdump="$arch-w64-mingw32-objdump"
cxx="$arch-w64-mingw32-g++-posix"
cc="$arch-w64-mingw32-gcc-posix"
for tool in "$objdump" "$cxx" "$cc"; do
  command -v "$tool" >/dev/null || {
    echo "check-pe: $tool not found (tools/setup.sh windows installs it)" >&2
    exit 2
  }
done

failures=0
pass() { echo "PASS $*"; }
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

# Windows' own DLLs, and the Universal C Runtime's API sets.
is_system_dll() {
  case "${1,,}" in
    kernel32.dll | user32.dll | gdi32.dll | shell32.dll | comctl32.dll | comdlg32.dll) return 0 ;;
    ole32.dll | oleaut32.dll | advapi32.dll | shlwapi.dll | uxtheme.dll) return 0 ;;
    msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*.dll) return 0 ;;
  esac
  return 1
}

# In the order sort gives.
expected_exports=(MPGE_closeCoder MPGE_detectConfigure MPGE_endCoder MPGE_getConfigure
  MPGE_getUnitStates MPGE_getVersion MPGE_initializeWork MPGE_processFrame MPGE_processTrack
  MPGE_setConfigure)

# The shipped binaries must be there; any other program built beside them is
# checked as well.
binaries=()
for name in GOGO.DLL vud-converter.exe vudconv.exe vudinfo.exe vud-encoder-helper.exe; do
  if [[ -f $build_dir/$name ]]; then
    binaries+=("$build_dir/$name")
  else
    fail "$name: missing from $build_dir"
  fi
done
while IFS= read -r -d '' extra; do
  case "${extra##*/}" in
    vud-converter.exe | vudconv.exe | vudinfo.exe | vud-encoder-helper.exe) ;;
    *) binaries+=("$extra") ;;
  esac
done < <(find "$build_dir" -maxdepth 1 -type f -iname '*.exe' -print0 | sort -z)

for binary in "${binaries[@]}"; do
  name=${binary##*/}
  if ! headers=$("$objdump" -p "$binary" 2>&1); then
    fail "$name: $objdump cannot read it: ${headers%%$'\n'*}"
    continue
  fi

  found_format=$(sed -n 's/.*file format \(.*\)$/\1/p' <<<"$headers" | head -n 1)
  found_magic=$(awk '$1 == "Magic" { gsub(/[()]/, "", $3); print $3; exit }' <<<"$headers")
  if [[ $found_format == "$format" && $found_magic == "$magic" ]]; then
    pass "$name: $magic ($format)"
  else
    fail "$name: $found_magic ($found_format), expected $magic ($format)"
  fi

  foreign=()
  imported=()
  while IFS= read -r dll; do
    [[ -n $dll ]] || continue
    imported+=("$dll")
    is_system_dll "$dll" && continue
    # A test program may load a library the build made beside it (the fake
    # encoder library); the shipped binaries may not.
    if [[ ! $name =~ ^(GOGO\.DLL|vud-converter\.exe|vudconv\.exe|vudinfo\.exe|vud-encoder-helper\.exe)$ &&
          -f $build_dir/$dll ]]; then
      continue
    fi
    foreign+=("$dll")
  done < <(sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p' <<<"$headers")
  if ((${#foreign[@]} == 0)); then
    pass "$name: imports only system DLLs (${imported[*]})"
  else
    fail "$name: imports DLLs Windows does not provide: ${foreign[*]}"
  fi

  if [[ $name == GOGO.DLL ]]; then
    exports=$(awk '
        /^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
        table && /^[[:space:]]*$/ { exit }
        table { sub(/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]*/, ""); print }
      ' <<<"$headers" | LC_ALL=C sort | tr '\n' ' ')
    if [[ ${exports% } == "${expected_exports[*]}" ]]; then
      pass "GOGO.DLL: exports exactly the ten entry points, undecorated"
    else
      fail "GOGO.DLL: exports '${exports% }', expected the ten plain MPGE_ names"
    fi
  fi
done

# The interface's layout and calling convention, checked by the compiler for
# ARCH. -mrtd makes stdcall the default, so only a convention the header
# spells out keeps the functions and callbacks cdecl on 32-bit.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/layout.cpp" <<EOF
#include <cstddef>
#include <type_traits>

#include "encoder/mpge.h"

constexpr std::size_t PointerBytes = $pointer_bytes;
constexpr std::size_t Field = PointerBytes;  // the first 32-bit field follows the callback
static_assert(sizeof(void*) == PointerBytes);
static_assert(sizeof(PcmInputDescription) == PointerBytes + 16);
static_assert(sizeof(MpgeInputCallback) == PointerBytes);
static_assert(offsetof(PcmInputDescription, callback) == 0);
static_assert(offsetof(PcmInputDescription, reserved) == Field);
static_assert(offsetof(PcmInputDescription, bitsPerSample) == Field + 4);
static_assert(offsetof(PcmInputDescription, sampleRate) == Field + 8);
static_assert(offsetof(PcmInputDescription, channels) == Field + 12);

#if defined(_WIN64)
#define EXPECTED_CALL
#else
#define EXPECTED_CALL __cdecl
#endif
static_assert(std::is_same_v<MpgeInputCallback, int32_t(EXPECTED_CALL*)(void*, uint32_t)>);
static_assert(std::is_same_v<MpgeOutputCallback, int32_t(EXPECTED_CALL*)(void*, uint32_t)>);
static_assert(std::is_same_v<MpgeInitializeWorkFn, int32_t(EXPECTED_CALL*)(void)>);
static_assert(std::is_same_v<MpgeGetVersionFn, int32_t(EXPECTED_CALL*)(int32_t*, char*)>);
// A redeclaration with another convention would not compile.
extern "C" {
int32_t EXPECTED_CALL MPGE_initializeWork(void);
int32_t EXPECTED_CALL MPGE_setConfigure(int32_t, uint32_t, void*);
int32_t EXPECTED_CALL MPGE_getConfigure(int32_t, void*);
int32_t EXPECTED_CALL MPGE_detectConfigure(void);
int32_t EXPECTED_CALL MPGE_processFrame(void);
int32_t EXPECTED_CALL MPGE_closeCoder(void);
int32_t EXPECTED_CALL MPGE_endCoder(void);
int32_t EXPECTED_CALL MPGE_getUnitStates(void*);
int32_t EXPECTED_CALL MPGE_processTrack(void*);
int32_t EXPECTED_CALL MPGE_getVersion(int32_t*, char*);
}
EOF
flags=(-Wall -Wextra -Werror -fsyntax-only -I"$source_dir")
if [[ $arch == i686 ]]; then flags+=(-mrtd); fi
if output=$("$cxx" -std=c++20 "${flags[@]}" "$work/layout.cpp" 2>&1); then
  pass "mpge.h ($arch, C++): PcmInputDescription $((pointer_bytes + 16)) bytes, callback at 0 in a $((pointer_bytes * 8))-bit field, cdecl"
else
  fail "mpge.h ($arch, C++): $(grep -m 3 'error' <<<"$output" | tr '\n' ' ')"
fi
# The header is C as well; its own static_asserts pin the layout there.
printf '#include "encoder/mpge.h"\n' >"$work/layout.c"
if output=$("$cc" -std=c11 "${flags[@]}" "$work/layout.c" 2>&1); then
  pass "mpge.h ($arch, C): compiles with its layout assertions"
else
  fail "mpge.h ($arch, C): $(grep -m 3 'error' <<<"$output" | tr '\n' ' ')"
fi

if ((failures > 0)); then
  echo "check-pe: $failures check(s) failed"
  exit 1
fi
echo "check-pe: all checks passed ($arch)"
