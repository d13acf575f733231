#!/usr/bin/env bash
# Runs the fuzz targets of build-fuzz (all, or those named after the first
# argument) for a bounded time each (seconds, first argument) on their seed
# corpus and the inputs of earlier findings. What the
# fuzzer adds to the corpus stays in build-fuzz/corpus, faults go to
# build-fuzz/findings. Prints the executions each target reached; fails when
# a target found a fault.
set -uo pipefail
seconds=${1:-60}
shift || true
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-fuzz
mkdir -p "$out/corpus" "$out/findings" "$out/logs"
status=0
targets=("$@")
for exe in "$out"/tests/fuzz/fuzz_*; do
  name=${exe##*/fuzz_}
  if [ ${#targets[@]} -gt 0 ] && [[ ! " ${targets[*]} " == *" $name "* ]]; then
    continue
  fi
  corpora=("$out/corpus/$name" "$root/tests/fuzz/corpus/$name")
  [ -d "$root/tests/fuzz/regressions/$name" ] && corpora+=("$root/tests/fuzz/regressions/$name")
  mkdir -p "$out/corpus/$name"
  log="$out/logs/$name.log"
  "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/findings/$name-" "${corpora[@]}" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ "$rc" -eq 0 ]; then
    printf '%-20s %12s executions in %s s, no finding\n' "$name" "${execs:-?}" "$seconds"
  else
    printf '%-20s FAILED (exit %d); the input is in %s/findings\n' "$name" "$rc" "$out"
    tail -n 60 "$log"
    status=1
  fi
done
exit $status
