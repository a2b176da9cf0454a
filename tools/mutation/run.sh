#!/usr/bin/env bash
# Proves that the tests catch real faults: applies each single-line fault of
# tools/mutation/faults, one at a time, to a scratch copy of the committed tree, rebuilds
# and runs the default build's CTest suite (the component tests first, stopping at the first
# failure; the whole-program runs only when they all pass), and prints which test caught it.
# A fault no test catches is listed as MISSED and makes the script exit 1.
#
# Not part of CI: it builds and tests once per fault (minutes each). Run as root for the
# tests that need network namespaces, as the test command is.
#   tools/mutation/run.sh [FAULT_NUMBER...]     (all faults when none is given)
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
faults_file=$root/tools/mutation/faults
jobs=${KALVEX_JOBS:-2}
work=$(mktemp -d /tmp/kalvex-mutation.XXXXXX)
tree=$work/tree
report=$work/report.txt

cleanup() {
  git -C "$root" worktree remove --force "$tree" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The faults as parallel arrays, in file order.
whats=() files=() froms=() tos=()
read_faults() {
  local line what='' file='' from='' to=''
  while IFS= read -r line || [ -n "$line" ]; do
    case $line in
      '#'*) ;;
      what:*) what=${line#what:} ;;
      file:*) file=${line#file:} ;;
      from:*) from=${line#from:} ;;
      to:*)
        to=${line#to:}
        whats+=("$(echo "$what" | sed 's/^ *//')")
        files+=("$(echo "$file" | sed 's/^ *//')")
        froms+=("$(echo "$from" | sed 's/^ *//')")
        tos+=("$(echo "$to" | sed 's/^ *//')")
        ;;
    esac
  done <"$faults_file"
}

# Replaces the one occurrence of FROM in FILE by TO; fails unless there is exactly one.
apply_fault() {
  local file=$1 from=$2 to=$3 count
  count=$(grep -cF -- "$from" "$file")
  [ "$count" = 1 ] || { echo "the fault's text occurs $count times in $file" >&2; return 1; }
  FROM=$from TO=$to perl -0pi -e 's/\Q$ENV{FROM}\E/$ENV{TO}/' "$file"
}

# The first failing test's name in a CTest log, empty when every test passed.
first_failure() {
  sed -n '/The following tests FAILED:/,$p' "$1" | sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\).*/\1/p' | head -n 1
}

run_tests() {
  local log=$1
  (cd "$tree" && ctest --preset default -j "$jobs" -E '^e2e\.' --stop-on-failure) >"$log" 2>&1 && \
    (cd "$tree" && ctest --preset default -j "$jobs" -R '^e2e\.whole_flash$') >>"$log" 2>&1
}

read_faults
selected=("$@")
[ ${#selected[@]} -gt 0 ] || mapfile -t selected < <(seq 1 ${#whats[@]})

git -C "$root" worktree add --detach "$tree" HEAD >/dev/null 2>&1 || {
  echo "mutation: cannot make a scratch worktree in $tree" >&2
  exit 2
}
echo "== building the unchanged tree in $tree"
(cd "$tree" && cmake --preset default >/dev/null && nice cmake --build --preset default -j "$jobs") \
  >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log"; exit 2; }

missed=0
printf '%-4s %-70s %s\n' "no." "fault" "caught by" >"$report"
for n in "${selected[@]}"; do
  i=$((n - 1))
  file=$tree/${files[$i]}
  echo "== fault $n: ${whats[$i]}"
  if ! apply_fault "$file" "${froms[$i]}" "${tos[$i]}"; then
    verdict="NOT APPLIED"
    missed=1
  elif ! (cd "$tree" && nice cmake --build --preset default -j "$jobs") >"$work/build-$n.log" 2>&1; then
    verdict="NOT BUILT (see the fault's text)"
    missed=1
  else
    run_tests "$work/test-$n.log"
    verdict=$(first_failure "$work/test-$n.log")
    if [ -z "$verdict" ]; then
      verdict=MISSED
      missed=1
    fi
  fi
  git -C "$tree" checkout -- "${files[$i]}"
  echo "   $verdict"
  printf '%-4s %-70s %s\n' "$n" "${whats[$i]}" "$verdict" >>"$report"
done

echo
cat "$report"
exit "$missed"
