#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer) and
# runs every fuzz target, or the ones named, one after the other for SECONDS each, niced, then
# prints the executions and coverage of each. New inputs go to a scratch corpus outside the
# tree (KALVEX_FUZZ_WORK, default /tmp/kalvex-fuzz); the seeds in tools/fuzz/corpus are read
# only. A finding leaves its input in the scratch directory and fails the run.
#   tools/fuzz/run_all.sh SECONDS [TARGET...]
# Extra libFuzzer options in KALVEX_FUZZ_OPTIONS, e.g. "-runs=1000000" (whichever ends first).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:?usage: run_all.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
  targets=(host_table bootp_request tftp_engine ipconfig_listing catalog bitmap)
work=${KALVEX_FUZZ_WORK:-/tmp/kalvex-fuzz}

cd "$root"
cmake --preset fuzz >/dev/null
nice cmake --build --preset fuzz -j "${KALVEX_JOBS:-2}"

summary=()
failed=0
for target in "${targets[@]}"; do
  mkdir -p "$work/corpus/$target" "$work/artifacts"
  log="$work/$target.log"
  echo "== fuzz_$target for ${seconds}s (log: $log)"
  status=0
  # shellcheck disable=SC2086 # the options are words on purpose
  nice -n 19 "build/fuzz/tools/fuzz/fuzz_$target" -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-" \
    ${KALVEX_FUZZ_OPTIONS:-} "$work/corpus/$target" "$root/tools/fuzz/corpus/$target" \
    >"$log" 2>&1 || status=$?
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*' <<<"$last" || true)
  line="$target: ${executions:-?} executions (${rate:-?}/s), $coverage"
  if [ "$status" -ne 0 ]; then
    line="$line: FINDING (exit $status), see $log"
    failed=1
  fi
  summary+=("$line")
  echo "$line"
done
echo "== summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
