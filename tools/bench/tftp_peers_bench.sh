#!/usr/bin/env bash
# Fetches the same 30 MiB flash.bin with blksize 1468 and no window (what U-Boot asks for)
# from Kalvex's TFTP server, tftpd-hpa and dnsmasq, with the same client (curl, which also
# asks tsize), the servers taking turns round by round, and prints each round, the medians and
# the ratios Kalvex / peer (median of the per-round ratios too). With BENCH_CPU_TIME=1 it also
# prints each server's CPU time per fetch (perf stat), which other work on the machine
# disturbs far less than the elapsed time. A figure, never a verdict. Needs root (network
# namespaces of its own).
#
#   [BENCH_CPU_TIME=1] tools/bench/tftp_peers_bench.sh [BUILD_DIR [ROUNDS [MIB]]]
set -euo pipefail
source "$(dirname "$0")/tftp_bench_lib.sh"

build=${1:-build/default}
rounds=${2:-7}
mib=${3:-30}
bench_require curl /usr/sbin/in.tftpd dnsmasq nft taskset
bench_build "$build"
bench_network
bench_image "$mib"
start_kalvex 1069
start_hpa 2069
start_dnsmasq
for port in 1069 2069 69; do wait_listening $port; done

declare -A port=([kalvex]=1069 [hpa]=2069 [dnsmasq]=69)
fetch() {  # server
  bench_fetch "$1" curl -sS --max-time 300 --tftp-blksize 1468 -o got.bin \
    "tftp://$server_address:${port[$1]}/flash.bin"
}

order=(kalvex hpa dnsmasq)
printf 'round %10s %10s %10s   (seconds, %d MiB, blksize 1468)\n' kalvex tftpd-hpa dnsmasq "$mib"
for ((round = 1; round <= rounds; round++)); do
  declare -A took=()
  for name in "${order[@]}"; do took[$name]=$(fetch "$name"); done
  order=("${order[@]:1}" "${order[0]}")  # the next round starts with the next server
  printf '%5d %10s %10s %10s\n' "$round" "${took[kalvex]}" "${took[hpa]}" "${took[dnsmasq]}"
  for name in kalvex hpa dnsmasq; do echo "${took[$name]}" >>"$bench_work/$name.times"; done
  echo "${took[kalvex]} / ${took[hpa]}" | bc -l >>"$bench_work/hpa.ratios"
  echo "${took[kalvex]} / ${took[dnsmasq]}" | bc -l >>"$bench_work/dnsmasq.ratios"
done
k=$(median <"$bench_work/kalvex.times")
h=$(median <"$bench_work/hpa.times")
d=$(median <"$bench_work/dnsmasq.times")
printf 'median %9.4f %10.4f %10.4f\n' "$k" "$h" "$d"
# Other work on the CPU only ever adds time: the fastest round is the least disturbed one.
printf 'fastest %8.4f %10.4f %10.4f\n' "$(sort -g "$bench_work/kalvex.times" | head -1)" \
  "$(sort -g "$bench_work/hpa.times" | head -1)" "$(sort -g "$bench_work/dnsmasq.times" | head -1)"
printf 'kalvex / tftpd-hpa: %.3f (median per-round ratio %.3f)\n' "$(echo "$k / $h" | bc -l)" \
  "$(median <"$bench_work/hpa.ratios")"
printf 'kalvex / dnsmasq:   %.3f (median per-round ratio %.3f)\n' "$(echo "$k / $d" | bc -l)" \
  "$(median <"$bench_work/dnsmasq.ratios")"
if [ "${BENCH_CPU_TIME:-0}" = 1 ]; then
  stop_servers
  printf 'server CPU per fetch (ms):'
  for name in kalvex hpa dnsmasq; do
    printf ' %s %.1f' "$name" "$(echo "$(server_cpu_ms "$name") / $rounds" | bc -l)"
  done
  echo
fi
