#!/usr/bin/env bash
# Runs the fuzz targets of build-fuzz (all, or those named after the first
# argument) for a bounded time each (seconds, first argument) on their seed
# corpus and the inputs of earlier findings, FUZZ_JOBS at a time (default:
# one per processor). What the fuzzer adds to the corpus stays in
# build-fuzz/corpus, faults go to build-fuzz/findings. Prints the executions
# each target reached; fails when a target found a fault.
set -uo pipefail
seconds=${1:-60}
shift || true
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-fuzz
mkdir -p "$out/corpus" "$out/findings" "$out/logs"

# One target: its summary line in logs/<name>.result, and whether it failed.
run_target() {
  local exe=$1 name=$2
  local corpora=("$out/corpus/$name" "$root/tests/fuzz/corpus/$name")
  [ -d "$root/tests/fuzz/regressions/$name" ] && corpora+=("$root/tests/fuzz/regressions/$name")
  mkdir -p "$out/corpus/$name"
  local log="$out/logs/$name.log" result="$out/logs/$name.result"
  "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/findings/$name-" "${corpora[@]}" >"$log" 2>&1
  local rc=$?
  local execs
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ "$rc" -eq 0 ]; then
    printf '%-20s %12s executions in %s s, no finding\n' "$name" "${execs:-?}" "$seconds" >"$result"
  else
    printf '%-20s FAILED (exit %d); the input is in %s/findings\n' "$name" "$rc" "$out" >"$result"
  fi
}

names=()
for exe in "$out"/tests/fuzz/fuzz_*; do
  name=${exe##*/fuzz_}
  if [ $# -gt 0 ] && [[ ! " $* " == *" $name "* ]]; then
    continue
  fi
  names+=("$name")
  rm -f "$out/logs/$name.result"
  while [ "$(jobs -rp | wc -l)" -ge "${FUZZ_JOBS:-$(nproc)}" ]; do
    wait -n
  done
  run_target "$exe" "$name" &
done
wait

status=0
for name in "${names[@]}"; do
  cat "$out/logs/$name.result"
  if grep -q FAILED "$out/logs/$name.result"; then
    tail -n 60 "$out/logs/$name.log"
    status=1
  fi
done
exit $status
