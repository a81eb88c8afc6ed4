#!/bin/sh
# tovrel on a terminal (a pseudo-terminal from script(1)): the progress line
# is drawn and taken away again, and the messages and the summary stay whole.
#   progress_line.sh TOVREL TOVREL_GEN
set -eu
tovrel=$1
gen=$2
work=$(mktemp -d /tmp/tovrel-progress.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
"$gen" -w 40 -h 30 "$work/src/a.dat"
"$gen" -w 30 -h 20 "$work/src/b.dat"
script -qec "$tovrel -r $work/src $work/out" /dev/null >"$work/screen"
# The line that is drawn, then the messages each on a line of their own.
grep -q '0 of 2 files, 0%, 0.0 MB/s, ? left' "$work/screen"
# What the terminal shows of each line: the text after its last carriage
# return.
sed 's/\r$//; s/.*\r//' "$work/screen" >"$work/lines"
grep -qx "Conversion from \"$work/src/a.dat\" to \"$work/out/a.sdf\" successful" "$work/lines"
grep -qx "Converted 2 of 2 files into \"$work/out\"; 0 up to date, 0 not data files, 0 failed" \
  "$work/lines"
# Off a terminal nothing but the messages.
"$tovrel" -r -u "$work/src" "$work/out" 2>"$work/plain"
[ "$(cat "$work/plain")" = "Converted 0 of 2 files into \"$work/out\"; 2 up to date, 0 not data files, 0 failed" ]
# One file shows the line too, and its messages stay whole.
script -qec "$tovrel $work/src/a.dat $work/one.sdf" /dev/null >"$work/screen"
grep -q '0 of 1 files, 0%' "$work/screen"
sed 's/\r$//; s/.*\r//' "$work/screen" | grep -qx "Conversion from \"$work/src/a.dat\" to \"$work/one.sdf\" successful"
