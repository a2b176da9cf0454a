#!/usr/bin/env bash
# Times BOOTP replies from Kalvex's BOOTP server and from dnsmasq, side by side: one board
# asks again and again (one request in flight, a fresh xid each time) and bootp_latency
# prints the percentiles of request-to-reply time. Both ends sit in network namespaces of
# this script's own, joined by a veth pair; nothing touches the machine's own network.
# Server and client are pinned to one CPU, the servers take turns, and the script prints
# each round, the medians and the ratios Kalvex / dnsmasq. Needs root (namespaces, port 67).
#
#   tools/bench/bootp_bench.sh [BUILD_DIR [ROUNDS [COUNT]]]
set -euo pipefail

build=${1:-build/default}
rounds=${2:-3}
count=${3:-10000}
warm_up=200
cpu=0
pc_address=192.168.77.10
board_address=192.168.77.9
board_mac=02:4b:56:00:00:09
pc=kvbench$$-pc
board=kvbench$$-bd

[ "$(id -u)" -eq 0 ] || { echo "bootp_bench: needs root (namespaces, port 67)" >&2; exit 1; }
dnsmasq=$(command -v dnsmasq || echo /usr/sbin/dnsmasq)
[ -x "$dnsmasq" ] || { echo "bootp_bench: dnsmasq is not installed (dnsmasq-base)" >&2; exit 1; }
work=$(mktemp -d)
server_pid=
client_pid=
# Also waits for what the server left running in the PC's namespace (a command it started),
# so that the next server is timed on a quiet CPU.
stop_server() {
  [ -n "$server_pid" ] || return 0
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=
  for _ in $(seq 100); do
    [ -z "$(ip netns pids "$pc" 2>/dev/null)" ] && return 0
    sleep 0.05
  done
  echo "bootp_bench: processes still running in $pc: $(ip netns pids "$pc" | xargs)" >&2
}
cleanup() {
  [ -z "$client_pid" ] || kill "$client_pid" 2>/dev/null || true
  stop_server
  ip netns del "$pc" 2>/dev/null || true
  ip netns del "$board" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The PC's side and the board's side. The board's interface holds the address the servers
# give it, so the unicast reply reaches an ordinary UDP socket.
if ! nice cmake --build "$build" --target bootp_serve bootp_latency -j2 >"$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  exit 1
fi
serve=$build/tools/bench/bootp_serve
client=$build/tools/bench/bootp_latency

ip netns add "$pc"
ip netns add "$board"
ip -n "$pc" link add pc0 type veth peer name board0 netns "$board"
ip -n "$board" link set board0 address "$board_mac"
ip -n "$pc" addr add "$pc_address/24" dev pc0
ip -n "$board" addr add "$board_address/24" dev board0
for ns in "$pc" "$board"; do ip -n "$ns" link set lo up; done
ip -n "$pc" link set pc0 up
ip -n "$board" link set board0 up

mkdir "$work/kalvex"
printf 'board:ht=ethernet:ha=%s:ip=%s:sa=%s:sm=255.255.255.0:bf=flash.bin:\n' \
  "${board_mac//:/}" "$board_address" "$pc_address" >"$work/kalvex/kalvex.ini"
head -c 65536 /dev/urandom >"$work/kalvex/flash.bin"
chmod 0644 "$work/kalvex/flash.bin"

start_kalvex() {
  ip netns exec "$pc" taskset -c $cpu "$serve" "$pc_address" "$board_address" "$work/kalvex" \
    2>>"$work/kalvex.log" &
  server_pid=$!
}

# A plain BOOTP request from a host with a fixed address gets yiaddr, siaddr and file. No DNS,
# no configuration file, no lease database of the machine's, log lines to a file of ours.
start_dnsmasq() {
  ip netns exec "$pc" taskset -c $cpu "$dnsmasq" --keep-in-foreground --conf-file=/dev/null \
    --port=0 --interface=pc0 --bind-interfaces --pid-file= \
    --dhcp-range=192.168.77.0,static,255.255.255.0 --dhcp-host="$board_mac,$board_address" \
    --dhcp-boot="flash.bin,,$pc_address" --dhcp-leasefile="$work/dnsmasq.leases" \
    --quiet-dhcp --log-facility="$work/dnsmasq.log" &
  server_pid=$!
}

wait_for_port_67() {  # server name
  for _ in $(seq 100); do
    kill -0 "$server_pid" 2>/dev/null || { echo "bootp_bench: $1 ended at start-up" >&2; exit 1; }
    [ -n "$(ip netns exec "$pc" ss -Hlun 'sport = :67')" ] && return 0
    sleep 0.05
  done
  echo "bootp_bench: $1 does not listen on port 67" >&2
  exit 1
}

# One run: a server from a clean neighbour table, the client, the server stopped.
run() {  # server name, round
  ip -n "$pc" neigh flush dev pc0 nud all
  "start_$1"
  wait_for_port_67 "$1"
  # In the background, so that a signal to this script ends the run at once.
  ip netns exec "$board" taskset -c $cpu "$client" board0 "$count" "$warm_up" >"$work/$1.out" &
  client_pid=$!
  wait "$client_pid"
  client_pid=
  # As the last reply left it: what the server did for the board's address.
  neighbour=$(ip -n "$pc" neigh show "$board_address" dev pc0)
  stop_server
  if [ "$2" = 1 ]; then
    printf '%-8s %s\n' "$1" "$(grep '^first reply:' "$work/$1.out" || echo 'no reply at all')"
    printf '%-8s neighbour entry: %s\n' "$1" "${neighbour:-none}"
  fi
  grep '^count=' "$work/$1.out" >"$work/$1.$2"
}

field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" "$2"; }
median() {  # printf format
  sort -g | awk -v format="$1\n" '{ v[NR] = $1 }
    END { printf format, (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
row() {  # label, lost, p50, p90, p99, max
  printf '%-9s %7s %9s %9s %9s %9s\n' "$@"
}

echo "BOOTP reply latency, $count requests per run after $warm_up warm-up, window 1, CPU $cpu"
for ((round = 1; round <= rounds; round++)); do
  if ((round % 2 == 1)); then order="kalvex dnsmasq"; else order="dnsmasq kalvex"; fi
  for server in $order; do run "$server" "$round"; done
  echo
  echo "round $round (µs)"
  row server lost p50 p90 p99 max
  for server in kalvex dnsmasq; do
    f=$work/$server.$round
    row "$server" "$(field lost "$f")" "$(field p50_us "$f")" "$(field p90_us "$f")" \
      "$(field p99_us "$f")" "$(field max_us "$f")"
    for key in p50_us p90_us p99_us max_us lost; do field "$key" "$f" >>"$work/$server.$key"; done
  done
  for key in p50_us p99_us; do
    printf '%s\n' "$(ratio "$(field "$key" "$work/kalvex.$round")" \
      "$(field "$key" "$work/dnsmasq.$round")")" >>"$work/ratio.$key"
  done
  echo "ratio kalvex/dnsmasq: p50 $(tail -n 1 "$work/ratio.p50_us")  p99 $(tail -n 1 "$work/ratio.p99_us")"
done

echo
echo "median of $rounds rounds (µs)"
row server lost p50 p90 p99 max
for server in kalvex dnsmasq; do
  values=()
  values+=("$(median %g <"$work/$server.lost")")
  for key in p50_us p90_us p99_us max_us; do values+=("$(median %.1f <"$work/$server.$key")"); done
  row "$server" "${values[@]}"
done
for key in p50_us p99_us; do
  echo "${key%_us}: ratio of medians $(ratio "$(median %.1f <"$work/kalvex.$key")" \
    "$(median %.1f <"$work/dnsmasq.$key")"), median of per-round ratios $(median %.2f <"$work/ratio.$key")"
done
