#!/usr/bin/env bash
# Runs one Windows program under Wine, for ctest (the tests' cross-compiling
# emulator) and the Windows scripts:
#   [WINEARCH=win32] wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
# WINEARCH, Wine's own name for the kind of prefix: win64 (the default) runs
# x86_64 programs under wine64; win32 runs i686 programs under 32-bit Wine
# (wine32), in a 32-bit prefix. PREFIX is the Wine prefix, made on first use
# (once, whatever runs at the same time). Wine's own messages are silenced,
# no Mono or Gecko installer is offered, and the program's exit status is
# passed through.
set -uo pipefail

if [[ $# -lt 2 ]]; then
  echo "usage: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]" >&2
  exit 2
fi
prefix=$1
shift

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
export WINEARCH=${WINEARCH:-win64}
case "$WINEARCH" in
  win64) wine=/usr/lib/wine/wine64 ;;
  win32) wine=/usr/lib/wine/wine ;;
  *) echo "wine-run.sh: WINEARCH is win64 or win32, not $WINEARCH" >&2; exit 2 ;;
esac

# The prefix counts as made once wineboot has finished in it; the lock keeps
# two tests started together from both making it. The Wine server that
# wineboot starts outlives it, so it must not inherit the lock's descriptor:
# it would hold the lock, and keep every other test waiting, while it runs.
if [[ ! -e "$prefix/.vud-ready" ]]; then
  mkdir -p "$prefix" || exit 1
  (
    flock 9 || exit 1
    if [[ ! -e "$prefix/.vud-ready" ]]; then
      "$wine" wineboot --init >/dev/null 2>&1 9>&- || exit 1
      touch "$prefix/.vud-ready"
    fi
  ) 9>"$prefix.lock" || { echo "wine-run.sh: cannot make the Wine prefix $prefix" >&2; exit 1; }
fi

exec "$wine" "$@"
