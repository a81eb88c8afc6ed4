#!/bin/sh
# The README's recipe for several machines, on this one: GNU parallel runs
# each share of a list of the archive's files (--sshlogin : is the local
# machine) with tovrel -r -u; a second run redoes nothing. Skipped (77) when
# GNU parallel is not installed.
#   parallel_recipe.sh TOVREL TOVREL_GEN
set -eu
tovrel=$1
gen=$2
command -v parallel >/dev/null || { echo "GNU parallel is not installed"; exit 77; }
work=$(mktemp -d /tmp/tovrel-parallel.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/archive/2024/p1" "$work/archive/2025" "$work/sdf"
for f in 2024/a 2024/b 2024/p1/c 2025/d 2025/e; do "$gen" -w 30 -h 20 "$work/archive/$f.dat"; done
echo "not a measurement" >"$work/archive/2025/notes.txt"
(cd "$work/archive" && find . -type f) >"$work/all.txt"

run() {
  parallel --will-cite --sshlogin : -j1 --workdir "$work/archive" \
    "split -n r/{}/3 $work/all.txt | $tovrel -r -u -q --files-from - $work/sdf" ::: 1 2 3
}
run 2>"$work/first"
[ "$(cd "$work/sdf" && find . -name '*.sdf' | sort | tr '\n' ' ')" = \
  "./2024/a.sdf ./2024/b.sdf ./2024/p1/c.sdf ./2025/d.sdf ./2025/e.sdf " ]
[ "$(grep -c '^Converted' "$work/first")" = 3 ]
# The same command again: everything is up to date.
run 2>"$work/second"
! grep -v '^Converted 0 of [0-9]* files into .*; [0-9]* up to date, [01] not data files, 0 failed$' \
  "$work/second"
