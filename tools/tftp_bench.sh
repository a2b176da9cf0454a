#!/usr/bin/env bash
# Fetches the same 8 MiB and 30 MiB flash.bin from Kalvex's TFTP server and from tftpd-hpa,
# both on loopback ports, with the same client (curl, no options: 512-byte lock-step blocks),
# alternating server by server, and prints the median seconds of each and their ratio.
# Server and client are pinned to one CPU, where a lock-step round trip costs least and
# varies least.
#
#   tools/tftp_bench.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail

build=${1:-build/tftp}
rounds=${2:-7}
serve=$build/tools/tftp_serve
[ -x "$serve" ] || serve=$build/tftp_serve
hpa=/usr/sbin/in.tftpd
cpu=0

[ -x "$serve" ] || { echo "tftp_bench: build tftp_serve first ($serve)" >&2; exit 1; }
[ -x "$hpa" ] || { echo "tftp_bench: tftpd-hpa is not installed" >&2; exit 1; }
command -v curl >/dev/null || { echo "tftp_bench: curl is not installed" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

mkdir -p "$work/kalvex" "$work/hpa"
kalvex_port=$(free_port)
hpa_port=$(free_port)

taskset -c $cpu "$serve" "$kalvex_port" "$work/kalvex" 2>"$work/kalvex.log" &
pids+=($!)
# Foreground, on a loopback port, serving its own directory only; never port 69.
taskset -c $cpu "$hpa" --foreground --address "127.0.0.1:$hpa_port" --secure "$work/hpa" &
pids+=($!)
sleep 0.5

fetch_seconds() {  # port
  local start end
  start=$(date +%s.%N)
  taskset -c $cpu curl -sS --tftp-no-options -o "$work/out.bin" "tftp://127.0.0.1:$1/flash.bin"
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-8s %12s %12s %8s   (median of %d rounds, seconds; ratio = kalvex / tftpd-hpa)\n' \
  size kalvex tftpd-hpa ratio "$rounds"
for mib in 8 30; do
  head -c $((mib * 1024 * 1024)) /dev/urandom >"$work/kalvex/flash.bin"
  cp "$work/kalvex/flash.bin" "$work/hpa/flash.bin"
  chmod 0644 "$work/kalvex/flash.bin" "$work/hpa/flash.bin"
  : >"$work/k.txt"
  : >"$work/h.txt"
  : >"$work/r.txt"
  for ((round = 0; round < rounds; round++)); do
    if ((round % 2 == 0)); then
      k=$(fetch_seconds "$kalvex_port"); cmp -s "$work/out.bin" "$work/kalvex/flash.bin" || { echo "kalvex: corrupted download" >&2; exit 1; }
      h=$(fetch_seconds "$hpa_port"); cmp -s "$work/out.bin" "$work/hpa/flash.bin" || { echo "tftpd-hpa: corrupted download" >&2; exit 1; }
    else
      h=$(fetch_seconds "$hpa_port"); cmp -s "$work/out.bin" "$work/hpa/flash.bin" || { echo "tftpd-hpa: corrupted download" >&2; exit 1; }
      k=$(fetch_seconds "$kalvex_port"); cmp -s "$work/out.bin" "$work/kalvex/flash.bin" || { echo "kalvex: corrupted download" >&2; exit 1; }
    fi
    echo "$k" >>"$work/k.txt"
    echo "$h" >>"$work/h.txt"
    echo "$k / $h" | bc -l >>"$work/r.txt"
  done
  km=$(median <"$work/k.txt")
  hm=$(median <"$work/h.txt")
  rm_=$(median <"$work/r.txt")
  printf '%-8s %12.3f %12.3f %8.3f   (median per-round ratio %.3f)\n' "${mib}MiB" "$km" "$hm" \
    "$(echo "$km / $hm" | bc -l)" "$rm_"
done
