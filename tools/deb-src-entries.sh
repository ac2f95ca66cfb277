#!/usr/bin/env bash
# Writes apt source entries for the source packages of SUITE, made from the
# enabled `deb` entries of SUITE in this machine's apt sources: the same
# archive addresses and options, so a mirror or a proxy configured there is
# used. For tools/fetch-lame-source.sh's own apt configuration.
#
#   tools/deb-src-entries.sh SUITE OUTDIR [SOURCE_LIST SOURCE_PARTS]
#
# Writes OUTDIR/sources.list (from one-line entries) and
# OUTDIR/sources.list.d/deb-src.sources (from deb822 stanzas). SOURCE_LIST
# and SOURCE_PARTS default to apt's own (Dir::Etc::SourceList and
# SourceParts). Exit status 1 when SUITE has no deb entry.
set -euo pipefail

if (($# != 2 && $# != 4)); then
  echo "usage: $0 SUITE OUTDIR [SOURCE_LIST SOURCE_PARTS]" >&2
  exit 2
fi
suite=$1
outdir=$2
if (($# == 4)); then
  list=$3
  parts=$4
else
  eval "$(apt-config shell list Dir::Etc::SourceList/f parts Dir::Etc::SourceParts/d)"
fi
mkdir -p "$outdir/sources.list.d"
one_line="$outdir/sources.list"
deb822="$outdir/sources.list.d/deb-src.sources"
: >"$one_line"
: >"$deb822"

# deb [options] URI SUITE COMPONENT...; a # starts a comment anywhere.
from_one_line() {
  awk -v suite="$suite" '
    { sub(/#.*/, "") }
    $1 != "deb" { next }
    {
      line = $0
      options = ""
      if (match(line, /\[[^]]*\]/)) {
        options = substr(line, RSTART, RLENGTH) " "
        line = substr(line, 1, RSTART - 1) substr(line, RSTART + RLENGTH)
      }
      n = split(line, word)
      if (n < 4 || word[3] != suite) next
      entry = "deb-src " options word[2] " " suite
      for (i = 4; i <= n; ++i) entry = entry " " word[i]
      print entry
    }' "$1"
}

# Stanzas of "Field: value" lines (continued by indented lines), apart by
# blank lines; field names in any case. Every field but Types and Suites is
# kept as it is, a key written into Signed-By included.
from_deb822() {
  awk -v suite="$suite" '
    function flush() {
      if (is_deb && has_suite && enabled)
        printf "Types: deb-src\nSuites: %s\n%s\n", suite, fields
      is_deb = has_suite = 0; enabled = 1; fields = ""; dropped = 0
    }
    BEGIN { flush() }
    /^[ \t]*$/ { flush(); next }
    /^#/ { next }
    /^[ \t]/ { if (!dropped) fields = fields $0 "\n"; next }
    {
      colon = index($0, ":")
      name = tolower(substr($0, 1, colon - 1))
      n = split(substr($0, colon + 1), word)
      dropped = name == "types" || name == "suites"
      for (i = 1; i <= n; ++i) {
        if (name == "types" && word[i] == "deb") is_deb = 1
        if (name == "suites" && word[i] == suite) has_suite = 1
      }
      if (name == "enabled") enabled = tolower(word[1]) !~ /^(no|false|off|without|disable|0)$/
      if (!dropped) fields = fields $0 "\n"
    }
    END { flush() }' "$1"
}

if [[ -f $list ]]; then from_one_line "$list" >>"$one_line"; fi
for file in "$parts"/*.list; do
  if [[ -f $file ]]; then from_one_line "$file" >>"$one_line"; fi
done
for file in "$parts"/*.sources; do
  if [[ -f $file ]]; then from_deb822 "$file" >>"$deb822"; fi
done

if [[ ! -s $one_line && ! -s $deb822 ]]; then
  echo "deb-src-entries: no enabled deb entry of $suite in $list or $parts" >&2
  exit 1
fi
