# Shared by the TFTP benchmark scripts (sourced, not run): two network namespaces of the
# script's own joined by a veth pair, the TFTP servers to compare started in the server's
# namespace, a timed fetch run in the client's, and the medians. Nothing touches the machine's
# own network; the request port 69 is bound only inside the server's namespace.
# Server and client are pinned to one CPU: a lock-step round trip then costs least and varies
# least (a wake-up across CPUs costs several times more), so figures can be compared.

bench_cpu=0
server_address=10.77.0.1
client_address=10.77.0.2
server_ns=kvtftp$$-srv
client_ns=kvtftp$$-cli
bench_pids=()
bench_work=$(mktemp -d)

# Every process in the server's namespace: `ip netns exec` may run the server as its child.
# The servers first: perf stat then writes its count and ends by itself.
stop_servers() {
  local pid
  for pid in $(ip netns pids "$server_ns" 2>/dev/null); do
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = perf ] || kill "$pid" 2>/dev/null || true
  done
  sleep 0.3
  ip netns pids "$server_ns" 2>/dev/null | xargs -r kill 2>/dev/null || true
  for pid in "${bench_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  bench_pids=()
}

bench_cleanup() {
  stop_servers
  ip netns del "$server_ns" 2>/dev/null || true
  ip netns del "$client_ns" 2>/dev/null || true
  rm -rf "$bench_work"
}
trap bench_cleanup EXIT
trap 'exit 130' INT TERM

bench_require() {  # program...
  [ "$(id -u)" -eq 0 ] || { echo "$0: needs root (network namespaces)" >&2; exit 1; }
  for program in "$@"; do
    command -v "$program" >/dev/null || [ -x "$program" ] ||
      { echo "$0: $program is not installed" >&2; exit 1; }
  done
}

bench_build() {  # build directory
  if ! nice cmake --build "$1" --target tftp_serve -j2 >"$bench_work/build.log" 2>&1; then
    cat "$bench_work/build.log" >&2
    exit 1
  fi
  kalvex_serve=$1/tools/tftp_serve
}

bench_network() {
  ip netns add "$server_ns"
  ip netns add "$client_ns"
  ip link add kvtftp$$s netns "$server_ns" type veth peer name kvtftp$$c netns "$client_ns"
  ip -n "$server_ns" addr add "$server_address/24" dev kvtftp$$s
  ip -n "$client_ns" addr add "$client_address/24" dev kvtftp$$c
  ip -n "$server_ns" link set lo up
  ip -n "$client_ns" link set lo up
  ip -n "$server_ns" link set kvtftp$$s up
  ip -n "$client_ns" link set kvtftp$$c up
}

# Drops this percentage of the UDP datagrams that arrive in each namespace: both ways.
bench_loss() {  # percent
  for ns in "$server_ns" "$client_ns"; do
    ip netns exec "$ns" nft -f - <<EOF
table inet bench_loss {
  chain input {
    type filter hook input priority 0; policy accept;
    meta l4proto udp numgen random mod 100 < $1 drop
  }
}
EOF
  done
}

bench_no_loss() {
  for ns in "$server_ns" "$client_ns"; do
    ip netns exec "$ns" nft delete table inet bench_loss 2>/dev/null || true
  done
}

# The image, the same bytes in every server's directory.
bench_image() {  # MiB
  for name in kalvex hpa dnsmasq; do mkdir -p "$bench_work/$name"; done
  head -c $(($1 * 1024 * 1024)) /dev/urandom >"$bench_work/kalvex/flash.bin"
  for name in hpa dnsmasq; do cp "$bench_work/kalvex/flash.bin" "$bench_work/$name/flash.bin"; done
  chmod 0644 "$bench_work"/*/flash.bin
}

# With BENCH_CPU_TIME=1 (and perf installed) each server runs under `perf stat`, which
# counts the CPU time of the server and every process it forks (tftpd-hpa serves each
# transfer from a child); server_cpu_ms reads the total once the servers have been stopped.
in_server_ns() {  # name command...
  local name=$1
  shift
  local counting=()
  [ "${BENCH_CPU_TIME:-0}" = 1 ] &&
    counting=(perf stat -x, -e task-clock -o "$bench_work/$name.cpu" --)
  ip netns exec "$server_ns" taskset -c $bench_cpu "${counting[@]}" "$@"
}

server_cpu_ms() {  # name
  awk -F, '/task-clock/ { print $1 }' "$bench_work/$1.cpu" 2>/dev/null
}

start_kalvex() {  # port
  in_server_ns kalvex "$kalvex_serve" "$1" "$bench_work/kalvex" "$server_address" \
    2>"$bench_work/kalvex.log" &
  bench_pids+=($!)
}

# Foreground, serving its own directory only.
start_hpa() {  # port
  in_server_ns hpa /usr/sbin/in.tftpd --foreground --address "$server_address:$1" --secure \
    "$bench_work/hpa" &
  bench_pids+=($!)
}

# dnsmasq's TFTP server always listens on port 69: inside the namespace that is harmless. No
# DNS (--port=0), no configuration file, no daemon.
start_dnsmasq() {
  in_server_ns dnsmasq dnsmasq --keep-in-foreground --port=0 --conf-file=/dev/null --user=root \
    --pid-file= --listen-address="$server_address" --bind-interfaces --enable-tftp \
    --tftp-root="$bench_work/dnsmasq" --log-facility=- 2>"$bench_work/dnsmasq.log" &
  bench_pids+=($!)
}

# Seconds that the client command takes, timed inside the client's namespace; the fetched
# file must equal the image.
bench_fetch() {  # server-name command...
  local name=$1
  shift
  rm -f "$bench_work/got.bin"
  local nanos
  nanos=$(ip netns exec "$client_ns" bash -c 'cd "$1"; shift; s=$(date +%s%N);
    taskset -c '$bench_cpu' "$@" >/dev/null 2>&1; e=$(date +%s%N); echo $((e - s))' \
    bash "$bench_work" "$@")
  cmp -s "$bench_work/got.bin" "$bench_work/$name/flash.bin" ||
    { echo "$0: $name: the download differs from the image" >&2; exit 1; }
  echo "$nanos" | awk '{ printf "%.4f\n", $1 / 1e9 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

wait_listening() {  # port
  for _ in $(seq 100); do
    ip netns exec "$server_ns" ss -Hlun "sport = :$1" | grep -q . && return 0
    sleep 0.05
  done
  echo "$0: nothing listens on port $1" >&2
  exit 1
}
