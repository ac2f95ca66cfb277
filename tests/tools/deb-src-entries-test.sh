#!/usr/bin/env bash
# tools/deb-src-entries.sh on apt source files of both formats: which entries
# become deb-src entries of the suite, and what they keep.
#   deb-src-entries-test.sh SOURCE_DIR
set -euo pipefail
script="$1/tools/deb-src-entries.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# file under the apt folder | its lines | file written | lines expected there
# (an empty expectation: no entry, the script fails)
rows=(
  'sources.list|deb [ signed-by=/k.gpg ] http://mirror.example/debian bookworm main contrib # mirror|sources.list|deb-src [ signed-by=/k.gpg ] http://mirror.example/debian bookworm main contrib'
  'sources.list.d/a.list|deb http://mirror.example/debian bookworm main|sources.list|deb-src http://mirror.example/debian bookworm main'
  'sources.list|deb http://mirror.example/debian bookworm-updates main\n# deb http://mirror.example/debian bookworm main\ndeb-src http://mirror.example/debian bookworm main||'
  'sources.list.d/a.sources|Types: deb\nURIs: http://mirror.example/debian\nSuites: bookworm bookworm-updates\n# a comment\nComponents: main\nSigned-By: /k.gpg|sources.list.d/deb-src.sources|Types: deb-src\nSuites: bookworm\nURIs: http://mirror.example/debian\nComponents: main\nSigned-By: /k.gpg'
  'sources.list.d/a.sources|types: deb\nURIs: http://other.example/x\nSuites: nodistro\n\nTYPES:deb\nURIs: http://mirror.example/debian\nSuites: bookworm\nSigned-By:\n -----BEGIN PGP PUBLIC KEY BLOCK-----\n .\n -----END PGP PUBLIC KEY BLOCK-----|sources.list.d/deb-src.sources|Types: deb-src\nSuites: bookworm\nURIs: http://mirror.example/debian\nSigned-By:\n -----BEGIN PGP PUBLIC KEY BLOCK-----\n .\n -----END PGP PUBLIC KEY BLOCK-----'
  'sources.list.d/a.sources|Types: deb\nURIs: http://mirror.example/debian\nSuites: bookworm\nEnabled: no\n\nTypes: deb-src\nURIs: http://mirror.example/debian\nSuites: bookworm||'
  'sources.list.d/a.sources.disabled|Types: deb\nURIs: http://mirror.example/debian\nSuites: bookworm||'
)

failures=0
for i in "${!rows[@]}"; do
  IFS='|' read -r input lines output expected <<<"${rows[$i]}"
  etc="$tmp/$i/etc"
  mkdir -p "$etc/sources.list.d"
  printf '%b\n' "$lines" >"$etc/$input"
  if ! "$script" bookworm "$tmp/$i/out" "$etc/sources.list" "$etc/sources.list.d" 2>/dev/null; then
    got=""
  elif [[ -z $output ]]; then
    got="(entries made)"
  else
    got=$(<"$tmp/$i/out/$output")
  fi
  if [[ $got != "$(printf '%b' "$expected")" ]]; then
    echo "row $i ($input): expected"
    printf '%b\n' "$expected"
    echo "got"
    printf '%s\n' "$got"
    failures=$((failures + 1))
  fi
done
echo "$failures of ${#rows[@]} rows failed"
((failures == 0))
