#!/usr/bin/env bash
# A lossy cable: the same 8 MiB flash.bin fetched from Kalvex's TFTP server by atftp's client
# (blksize 1468, lock-step and with windowsize 16) while nftables drops the given share of
# the UDP datagrams arriving at either end, at random. Every download must equal the image;
# the script prints each time and its ratio to the loss-free time of the same client. A
# fresh server for every fetch, so that one fetch's end never delays the next. A figure,
# never a verdict. Needs root (network namespaces of its own).
#
#   tools/bench/tftp_loss_bench.sh [BUILD_DIR [ROUNDS [MIB [PERCENT...]]]]
set -euo pipefail
source "$(dirname "$0")/tftp_bench_lib.sh"

build=${1:-build/default}
rounds=${2:-1}
mib=${3:-8}
losses=("${@:4}")
[ ${#losses[@]} -gt 0 ] || losses=(1 5)
bench_require atftp nft taskset
bench_build "$build"
bench_network
bench_image "$mib"

fetch() {  # options...
  start_kalvex 69
  wait_listening 69
  bench_fetch kalvex atftp --tftp-timeout 1 "$@" -g -r flash.bin -l got.bin "$server_address" 69
  stop_servers
}

declare -A clients=([lock-step]="--option blksize\ 1468"
  [window-16]="--option blksize\ 1468 --option windowsize\ 16")
printf '%-10s %6s %10s %10s   (median of %d, seconds, %d MiB; ratio to no loss)\n' client loss \
  seconds ratio "$rounds" "$mib"
for client in lock-step window-16; do
  eval "options=(${clients[$client]})"
  base=
  for loss in 0 "${losses[@]}"; do
    bench_no_loss
    [ "$loss" = 0 ] || bench_loss "$loss"
    : >"$bench_work/times"
    for ((round = 1; round <= rounds; round++)); do fetch "${options[@]}" >>"$bench_work/times"; done
    m=$(median <"$bench_work/times")
    [ -n "$base" ] || base=$m
    printf '%-10s %5s%% %10.3f %10.2f   (%s)\n' "$client" "$loss" "$m" \
      "$(echo "$m / $base" | bc -l)" "$(xargs <"$bench_work/times")"
  done
done
