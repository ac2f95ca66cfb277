#!/usr/bin/env bash
# Runs one Windows program under wine64, for ctest (the tests' cross-compiling
# emulator) and the Windows scripts:
#   wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
# PREFIX is the Wine prefix, made on first use (once, whatever runs at the
# same time). Wine's own messages are silenced, no Mono or Gecko installer is
# offered, and the program's exit status is passed through.
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
wine=/usr/lib/wine/wine64

# The prefix counts as made once wineboot has finished in it; the lock keeps
# two tests started together from both making it.
if [[ ! -e "$prefix/.vud-ready" ]]; then
  mkdir -p "$prefix" || exit 1
  (
    flock 9 || exit 1
    if [[ ! -e "$prefix/.vud-ready" ]]; then
      "$wine" wineboot --init >/dev/null 2>&1 || exit 1
      touch "$prefix/.vud-ready"
    fi
  ) 9>"$prefix.lock" || { echo "wine-run.sh: cannot make the Wine prefix $prefix" >&2; exit 1; }
fi

exec "$wine" "$@"
