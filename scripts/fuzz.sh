#!/usr/bin/env bash
# Builds the libFuzzer targets (preset `fuzz`) and runs each for SECONDS (default 60),
# one after the other, from a copy of its committed seed corpus; prints the executions
# of each. Exits non-zero when a target finds a failure (the reproducer is kept in
# build/fuzz/findings/<target>/).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

echo "== fuzz: configure and build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${PSRL_JOBS:-2}"

status=0
for target in profile_engine_fuzzer report_run_fuzzer; do
  work=build/fuzz/runs/$target
  findings=build/fuzz/findings/$target
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  cp fuzz/corpus/$target/* "$work/"
  echo "== fuzz: $target for $seconds s"
  log=build/fuzz/$target.log
  if ! build/fuzz/fuzz/$target -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work" >"$log" 2>&1; then
    status=1
    tail -n 40 "$log"
    echo "fuzz: $target failed; reproducer in $findings/" >&2
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "== fuzz: $target: ${runs:-?} executions in $seconds s"
done
exit $status
