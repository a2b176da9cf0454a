#!/usr/bin/env bash
# Installs what the build and the tests need, builds Kalvex and runs every test: the default
# build with CTest (whole-program runs included), clang-tidy, then AddressSanitizer + UndefinedBehavior-
# Sanitizer, then ThreadSanitizer for the test programs that run threads, then the Windows
# build with its tests and a whole flash under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=${KALVEX_JOBS:-2}
threaded_tests=(platform_tests kalvex_app_tests kalvex_bootp_tests kalvex_tftp_tests sim_board_tests fltk_tests)

echo "== default build =="
cmake --preset default
nice cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

echo "== clang-tidy =="
bash scripts/tidy.sh build/default

echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
cmake --preset asan
nice cmake --build --preset asan -j "$jobs"
# The whole-program runs take minutes each and were run above; the sanitizers watch the
# component tests.
ctest --preset asan -j "$jobs" -E '^e2e\.'

echo "== ThreadSanitizer =="
cmake --preset tsan
nice cmake --build --preset tsan -j "$jobs" --target "${threaded_tests[@]}"
failed=0
for target in "${threaded_tests[@]}"; do
  binary=$(find build/tsan -type f -name "$target" -perm -u+x | head -n 1)
  [ -n "$binary" ] || { echo "ThreadSanitizer: $target was not built" >&2; failed=1; continue; }
  echo "-- $target"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "$binary" --gtest_brief=1 || failed=1
done
[ "$failed" -eq 0 ] || { echo "ThreadSanitizer runs failed" >&2; exit 1; }

echo "== Windows (mingw-w64; tests under Wine) =="
cmake --preset windows
nice cmake --build --preset windows -j "$jobs"
# The prefix is made before the test programs list their tests through Wine, which allows
# them a minute; its server is ended by the last test. The whole flash takes the Linux
# build's simulated board from build/default.
cmake/wine-run.sh build/windows/wineprefix cmd /c exit 0
# Wine itself now and then hangs a program as it starts (seen on a prefix made moments
# before): a test that fails under Wine runs once more, and its time-out is short.
ctest --preset windows -j "$jobs" --repeat until-pass:2
echo "All test runs passed."
