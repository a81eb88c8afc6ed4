#!/bin/sh
# Whole-process figures of tovrel against the floor and the reference, on
# this machine, in one run:
#
#   conversion: wall time of `tovrel in.dat out.sdf` against `cat out.sdf >
#     copy.sdf` (the same bytes written to the same file system), and the
#     peak resident memory of the conversion; at 4096 also the binary form
#     (-b) and the x3p file (-x), each against cat of its own output;
#   tree: wall time of `tovrel -r` over 10,000 small files in 100 folders
#     against `cp -r` of its own output (target <= 1.5), with the peak memory;
#     and of `tovrel -r -u` over the finished tree against the first run;
#   import: wall time of `tovrel-info --no-parameters out.sdf` (reading the
#     file and listing it, as the loader only reads it) against Gwyddion's
#     loader (bench/gwyddion_load_only, or tests/interop/gwyddion_load, which
#     also reads and checks the file itself), and tovrel-info's peak memory;
#   inspection: tovrel-info on the same SDF file with --no-parameters, by
#     default (with the height parameters) and with --image, and what each
#     adds.
#
# Each time is the median of RUNS runs (default 5), the two sides taking
# turns, with the spread of the runs (fastest-slowest) beside it; ratios are
# of the medians.
# Peak memory comes from /usr/bin/time -v (Debian package time).
#
#   bench/compare.sh [-b BUILD_DIR] [-d WORK_DIR] [-r RUNS] [SIDE...]
#
# SIDE: map sizes to convert (default 4096 16384; 32767 is the largest the
# format allows: 4.3 GB in, about 7.3 GB out). BUILD_DIR defaults to
# build/default, WORK_DIR to a new directory under /tmp, removed at the end.
set -eu

build=build/default
work=
runs=5
while getopts b:d:r: opt; do
  case $opt in
    b) build=$OPTARG ;;
    d) work=$OPTARG ;;
    r) runs=$OPTARG ;;
    *) echo "usage: $0 [-b BUILD_DIR] [-d WORK_DIR] [-r RUNS] [SIDE...]" >&2; exit 1 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -gt 0 ] || set -- 4096 16384

tovrel=$build/cli/tovrel
info=$build/cli/tovrel-info
gen=$build/tools/tovrel-gen
for p in "$tovrel" "$info" "$gen" /usr/bin/time; do
  [ -x "$p" ] || { echo "$0: $p is missing (build first)" >&2; exit 1; }
done
gwy=
for p in "$build/bench/gwyddion_load_only" build/*/bench/gwyddion_load_only \
         "$build/tests/interop/gwyddion_load" build/*/tests/interop/gwyddion_load; do
  if [ -x "$p" ]; then gwy=$p; break; fi
done

if [ -z "$work" ]; then
  work=$(mktemp -d /tmp/tovrel-compare.XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"

# measure FILE STDOUT COMMAND...: runs the command with its standard output
# going to STDOUT, appends "seconds kilobytes" (wall time to the millisecond,
# from just before the start to just after the end, the same for every
# command measured).
measure() {
  out=$1
  to=$2
  shift 2
  t0=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$work/time.txt" "$@" >"$to" 2>/dev/null || {
    echo "$0: failed: $*" >&2
    exit 1
  }
  t1=$(date +%s%N)
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }') \
$(cat "$work/time.txt")" >>"$out"
}
# median FILE: the median time; spread FILE: the fastest and slowest runs.
median() {
  sort -n "$1" | awk '{ t[NR] = $1 } END { printf "%.3f", NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}
spread() { sort -n "$1" | awk '{ t[NR] = $1 } END { printf "%.3f-%.3f", t[1], t[NR] }'; }
# timing FILE: "median (fastest-slowest)".
timing() { echo "$(median "$1") ($(spread "$1"))"; }
peak() { sort -n -k2 "$1" | tail -n 1 | cut -d' ' -f2; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

echo "tovrel compare: $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -srm)"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2 | sed 's/^ //'), \
$(getconf _NPROCESSORS_ONLN) processors, runs: $runs"
echo
row() { printf '%-12s %20s %20s %6s %6s %9s %6s\n' "$@"; }
row conversion "tovrel s" "cat s" ratio target "peak MiB" target
# against_cat TAG LABEL OUTPUT [OPTION...]: converts $in to $work/OUTPUT with
# the options, each run against cat of that output, and prints the row; the
# times stay in $work/conv<TAG>.txt and $work/cat<TAG>.txt.
against_cat() {
  tag=$1
  label=$2
  output=$work/$3
  shift 3
  : >"$work/conv$tag.txt"
  : >"$work/cat$tag.txt"
  i=0
  while [ $i -lt "$runs" ]; do
    rm -f "$output" "$work/copy.sdf"
    measure "$work/conv$tag.txt" /dev/null "$tovrel" "$@" "$in" "$output"
    measure "$work/cat$tag.txt" "$work/copy.sdf" cat "$output"
    i=$((i + 1))
  done
  row "$label" "$(timing "$work/conv$tag.txt")" "$(timing "$work/cat$tag.txt")" \
    "$(ratio "$(median "$work/conv$tag.txt")" "$(median "$work/cat$tag.txt")")" "<= 2" \
    "$(mib "$(peak "$work/conv$tag.txt")")" "<= 64"
}
for side in "$@"; do
  in=$work/in$side.dat
  "$gen" -w "$side" -h "$side" "$in"
  against_cat "" "${side}x$side" out.sdf

  if [ "$side" = 4096 ]; then
    # The binary form (-b), against cat of its own output.
    against_cat b "${side}x$side -b" outb.sdf -b
    rm -f "$work/outb.sdf"

    # The x3p file (-x), against cat of its own output.
    against_cat x "${side}x$side -x" outx.x3p -x
    # The floor of -x: the MD5 sum of the point data, which no thread can
    # share, as md5sum computes it over the whole file.
    : >"$work/md5.txt"
    i=0
    while [ $i -lt "$runs" ]; do
      measure "$work/md5.txt" /dev/null md5sum "$work/outx.x3p"
      i=$((i + 1))
    done
    x3p_line="x3p $side: md5sum of its output alone $(timing "$work/md5.txt") s (the one step \
that cannot be split), $(ratio "$(median "$work/md5.txt")" "$(median "$work/catx.txt")") x cat"
    rm -f "$work/outx.x3p"
  fi

  if [ "$side" = 4096 ]; then
    : >"$work/info.txt"
    : >"$work/gwy.txt"
    i=0
    while [ $i -lt "$runs" ]; do
      measure "$work/info.txt" /dev/null "$info" --no-parameters "$work/out.sdf"
      [ -z "$gwy" ] || measure "$work/gwy.txt" /dev/null "$gwy" "$work/out.sdf"
      i=$((i + 1))
    done
    import_line="import $side: tovrel-info --no-parameters $(timing "$work/info.txt") s, \
peak $(mib "$(peak "$work/info.txt")") MiB (target <= phase array $((side * side * 4 / 1048576)) + 16 MiB)"
    if [ -n "$gwy" ]; then
      import_line="$import_line; $(basename "$gwy") $(timing "$work/gwy.txt") s, \
peak $(mib "$(peak "$work/gwy.txt")") MiB; \
ratio $(ratio "$(median "$work/gwy.txt")" "$(median "$work/info.txt")") (target >= 10)"
    else
      import_line="$import_line; no Gwyddion loader built"
    fi
  fi
  if [ "$side" = 4096 ]; then
    # tovrel-info's inspection of the same file: the listing and summary
    # alone (--no-parameters), with the height parameters (the default), and
    # with a picture too; the three take turns.
    : >"$work/plain.txt"
    : >"$work/params.txt"
    : >"$work/image.txt"
    i=0
    while [ $i -lt "$runs" ]; do
      measure "$work/plain.txt" /dev/null "$info" --no-parameters "$work/out.sdf"
      measure "$work/params.txt" /dev/null "$info" "$work/out.sdf"
      measure "$work/image.txt" /dev/null "$info" --image "$work/out.png" "$work/out.sdf"
      i=$((i + 1))
    done
    p0=$(median "$work/plain.txt")
    p1=$(median "$work/params.txt")
    p2=$(median "$work/image.txt")
    added() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%+.0f%%", (a - b) / b * 100; else print "-" }'; }
    inspect_lines="inspection $side (tovrel-info on the SDF file, medians): listing --no-parameters \
$(timing "$work/plain.txt") s, peak $(mib "$(peak "$work/plain.txt")") MiB
  parameters (default)  $(timing "$work/params.txt") s, $(added "$p1" "$p0") over the listing (target <= +20%), \
peak $(mib "$(peak "$work/params.txt")") MiB
  --image               $(timing "$work/image.txt") s, $(added "$p2" "$p1") over the parameters (target <= +50%), \
peak $(mib "$(peak "$work/image.txt")") MiB"
    rm -f "$work/out.png"
  fi
  rm -f "$in" "$work/out.sdf" "$work/copy.sdf"
done
[ -z "${x3p_line:-}" ] || { echo; echo "$x3p_line"; }
[ -z "${import_line:-}" ] || { echo; echo "$import_line"; }
[ -z "${inspect_lines:-}" ] || { echo; echo "$inspect_lines"; }

# The tree: 100 folders of 100 small maps (64 x 64, 16 KB each), every file
# its own copy. tovrel -r converts it into a new folder; cp -r copies that
# output (the same bytes and files written, without the conversion); then
# tovrel -r -u runs again over the finished tree, which converts nothing.
tree=$work/tree
mkdir -p "$tree/src/f00"
"$gen" -w 64 -h 64 "$tree/one.dat"
f=0
while [ $f -lt 100 ]; do cp "$tree/one.dat" "$tree/src/f00/m$f.dat"; f=$((f + 1)); done
d=1
while [ $d -lt 100 ]; do cp -r "$tree/src/f00" "$tree/src/f$d"; d=$((d + 1)); done
: >"$work/tree_conv.txt"
: >"$work/tree_cp.txt"
: >"$work/tree_update.txt"
# Every run writes new folders, all removed at the end: a mass removal just
# before a run slows the file system's choice of new inodes for whatever
# creates files next (ext4 passes over inodes freed seconds ago), which would
# charge the first command measured after it and not the other.
i=0
while [ $i -lt "$runs" ]; do
  sync
  measure "$work/tree_conv.txt" /dev/null "$tovrel" -r "$tree/src" "$tree/out$i"
  sync
  measure "$work/tree_cp.txt" /dev/null cp -r "$tree/out$i" "$tree/copy$i"
  measure "$work/tree_update.txt" /dev/null "$tovrel" -r -u "$tree/src" "$tree/out$i"
  i=$((i + 1))
done
t=$(median "$work/tree_conv.txt")
echo
printf '%-16s %20s %20s %6s %6s %9s\n' tree "tovrel s" "cp -r s" ratio target "peak MiB"
printf '%-16s %20s %20s %6s %6s %9s\n' "10000 files -r" "$(timing "$work/tree_conv.txt")" \
  "$(timing "$work/tree_cp.txt")" "$(ratio "$t" "$(median "$work/tree_cp.txt")")" "<= 1.5" \
  "$(mib "$(peak "$work/tree_conv.txt")")"
echo "-r -u over the finished tree: $(timing "$work/tree_update.txt") s, \
$(ratio "$(median "$work/tree_update.txt")" "$t") of the first run (target: a small fraction), \
peak $(mib "$(peak "$work/tree_update.txt")") MiB"
rm -rf "$tree"
