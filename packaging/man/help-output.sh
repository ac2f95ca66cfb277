#!/bin/sh
# help2man's view of a program: "help-output.sh PROGRAM --help|--version".
# The usage line becomes help2man's "Usage:" (its SYNOPSIS), and a further
# usage form aligned under it help2man's "or:"; of --version only
# the first line, the program's own, is kept: the encoder library's version
# belongs to the library found at run time, not to the page.
program=$1
shift
output=$("$program" "$@") || exit
case $1 in
  --version) printf '%s\n' "$output" | sed -n 1p ;;
  *) printf '%s\n' "$output" | sed -e '1s/^usage:/Usage:/' -e '2s/^       \([^ ]\)/    or: \1/' ;;
esac
