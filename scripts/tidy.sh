#!/usr/bin/env bash
# Runs clang-tidy, with the checks written down in .clang-tidy, over the product and its tools
# (not the tests) as the default build compiles them. Any finding fails.
#   scripts/tidy.sh [BUILD_DIR=build/default]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/default}
[ -f "$build/compile_commands.json" ] || {
  echo "tidy: $build/compile_commands.json is missing: configure that build first" >&2
  exit 2
}
tidy=$(command -v run-clang-tidy-14 || command -v run-clang-tidy) || {
  echo "tidy: run-clang-tidy is not installed (Debian package clang-tidy)" >&2
  exit 2
}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! nice "$tidy" -p "$build" -j "${KALVEX_JOBS:-2}" -quiet \
  "^$root/(app|bootp|core|platform|res|tftp|ui|tools)/" >"$log" 2>&1; then
  grep -E '(warning|error):' "$log" | sed 's/\x1b\[[0-9;]*m//g' | sort -u >&2
  echo "tidy: findings above" >&2
  exit 1
fi
echo "tidy: clean"
