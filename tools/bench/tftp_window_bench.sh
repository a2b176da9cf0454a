#!/usr/bin/env bash
# What a window buys: the same 30 MiB flash.bin fetched from Kalvex's TFTP server by atftp's
# client with blksize 1468 and windowsize 16, and without options (512-byte lock-step blocks,
# the exchange a plain boot loader gets), taking turns round by round. Prints each round, the
# medians and the ratio windowed / lock-step (median of the per-round ratios too). A figure,
# never a verdict. Needs root (network namespaces of its own).
#
#   tools/bench/tftp_window_bench.sh [BUILD_DIR [ROUNDS [MIB]]]
set -euo pipefail
source "$(dirname "$0")/tftp_bench_lib.sh"

build=${1:-build/default}
rounds=${2:-5}
mib=${3:-30}
bench_require atftp taskset
bench_build "$build"
bench_network
bench_image "$mib"
start_kalvex 69
wait_listening 69

fetch() {  # options...
  bench_fetch kalvex atftp "$@" -g -r flash.bin -l got.bin "$server_address" 69
}

printf 'round %10s %10s %8s   (seconds, %d MiB)\n' window lock-step ratio "$mib"
for ((round = 1; round <= rounds; round++)); do
  if ((round % 2)); then
    w=$(fetch --option "blksize 1468" --option "windowsize 16")
    l=$(fetch)
  else
    l=$(fetch)
    w=$(fetch --option "blksize 1468" --option "windowsize 16")
  fi
  r=$(echo "$w / $l" | bc -l)
  printf '%5d %10s %10s %8.3f\n' "$round" "$w" "$l" "$r"
  echo "$w" >>"$bench_work/w.times"
  echo "$l" >>"$bench_work/l.times"
  echo "$r" >>"$bench_work/ratios"
done
w=$(median <"$bench_work/w.times")
l=$(median <"$bench_work/l.times")
printf 'median %9.4f %10.4f %8.3f   (median per-round ratio %.3f)\n' "$w" "$l" \
  "$(echo "$w / $l" | bc -l)" "$(median <"$bench_work/ratios")"
