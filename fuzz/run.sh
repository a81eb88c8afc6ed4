#!/usr/bin/env bash
# Fuzzes the libFuzzer targets for a given time each and prints what they did.
#
#   fuzz/run.sh [-t SECONDS] [-j JOBS] [-n] [TARGET...]
#
#   -t SECONDS  time per target (default 60)
#   -j JOBS     targets fuzzed at the same time (default 1); each is one process
#   -n          do not configure and build the `fuzz` preset first
#   TARGET      datafile_read, date_text, convert, sdf_ascii, sdf_binary,
#               sdo_frame, x3p_read
#               (default: every target the build has)
#
# Builds the `fuzz` preset (clang 14, libFuzzer, address and undefined-
# behaviour sanitizers) into build/fuzz. Each target keeps a working corpus in
# build/fuzz/work/<target>, seeded from fuzz/corpus/<target> and grown run
# after run; inputs that crash, leak, time out or exhaust memory land in
# build/fuzz/findings/<target>/, the log in build/fuzz/logs/<target>.log.
# Fuzzers run under nice -n 19. Exit status 1 when any target found something.
#
# A finding is reproduced with `build/fuzz/fuzz/<target>_fuzzer FILE`; once
# fixed, copy the file to fuzz/crashers/<target>/ under a name that says what
# it broke, and ctest replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
jobs=1
build=1
while getopts "t:j:n" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    n) build=0 ;;
    *) sed -n '2,13p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

out=build/fuzz
if [ "$build" = 1 ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
fi

targets=("$@")
if [ ${#targets[@]} = 0 ]; then
  for exe in "$out"/fuzz/*_fuzzer; do
    [ -x "$exe" ] && targets+=("$(basename "$exe" _fuzzer)")
  done
fi
if [ ${#targets[@]} = 0 ]; then
  echo "no fuzz targets in $out/fuzz; build the fuzz preset first" >&2
  exit 2
fi

fuzz_one() {
  local target=$1
  local exe=$out/fuzz/${target}_fuzzer
  local work=$out/work/$target findings=$out/findings/$target log=$out/logs/$target.log
  mkdir -p "$work" "$findings" "$out/logs"
  # New inputs go to the first directory; the committed seeds are only read.
  # -timeout: one input taking longer than 10 s counts as a hang.
  # -close_fd_mask=1: the import's notices ("Missing required fields.") go to stdout.
  nice -n 19 "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -close_fd_mask=1 -artifact_prefix="$findings/" \
    "$work" "fuzz/corpus/$target" >"$log" 2>&1 || true
}

running=0
for target in "${targets[@]}"; do
  if [ ! -x "$out/fuzz/${target}_fuzzer" ]; then
    echo "no such target: $target" >&2
    exit 2
  fi
  echo "fuzzing $target for ${seconds}s"
  fuzz_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

status=0
printf '\n%-14s %8s %12s %10s %8s %s\n' target seconds executions exec/s corpus findings
for target in "${targets[@]}"; do
  log=$out/logs/$target.log
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ -z "$execs" ]; then  # a crash ends the run before the final stats
    execs=$(sed -n 's/^#\([0-9][0-9]*\).*/\1/p' "$log" | tail -1)
  fi
  secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  corpus=$(find "$out/work/$target" -type f | wc -l)
  found=$(find "$out/findings/$target" -type f | wc -l)
  printf '%-14s %8s %12s %10s %8s %s\n' "$target" "${secs:--}" "${execs:-0}" "${rate:--}" \
    "$corpus" "$found"
  if [ "$found" != 0 ]; then
    status=1
    find "$out/findings/$target" -type f | sed 's/^/    /'
    grep -m1 -E 'ERROR|expectation failed|runtime error' "$log" | sed 's/^/    /' || true
  fi
done
exit $status
