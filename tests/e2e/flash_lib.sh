# Shared by the whole-flash tests and the demo: a bench made of two network namespaces joined
# by a veth pair (the PC's side with an address on a /24, the board's side with none), the
# files Kalvex reads from its working directory, and a driver that answers Kalvex's console
# prompts. Everything on the wire stays inside the namespaces made here.
# shellcheck shell=bash disable=SC2034

KVX_PC_ADDRESS=192.168.77.10
KVX_BOARD_ADDRESS=192.168.77.9 # the neighbour Kalvex is expected to choose
KVX_GATEWAY=192.168.77.1
KVX_BOARD_MAC=02:1a:2b:3c:4d:5e
KVX_PC_LINK=vpc
KVX_BOARD_LINK=vbd
KVX_PRODUCT=SIM1

# Why a bench cannot be built here, or nothing when it can.
kvx_bench_unavailable() {
  [ "$(id -u)" -eq 0 ] || {
    echo "needs root: network namespaces, ports 67/69 and the neighbour table"
    return
  }
  command -v ip >/dev/null || {
    echo "iproute2 (ip) is not installed"
    return
  }
  local probe="kvxprobe$$"
  if ! ip netns add "$probe" 2>/dev/null; then
    echo "cannot create network namespaces (ip netns add failed)"
    return
  fi
  ip netns del "$probe"
}

# kvx_link_up PC_NS BOARD_NS BOARD_MAC
kvx_link_up() {
  local pc=$1 board=$2 mac=$3
  ip netns add "$pc" && ip netns add "$board" || return 1
  ip -n "$pc" link add "$KVX_PC_LINK" type veth peer name "$KVX_BOARD_LINK" netns "$board" || return 1
  local ns
  for ns in "$pc" "$board"; do
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
    ip -n "$ns" link set lo up
  done
  ip -n "$pc" address add "$KVX_PC_ADDRESS/24" dev "$KVX_PC_LINK"
  ip -n "$pc" link set "$KVX_PC_LINK" up
  # The board has no address and answers no ARP until its boot loader takes one.
  ip -n "$board" link set "$KVX_BOARD_LINK" address "$mac" arp off
  ip -n "$board" link set "$KVX_BOARD_LINK" up
}

kvx_link_down() {
  local ns
  for ns in "$@"; do ip netns del "$ns" 2>/dev/null; done
  return 0
}

# A 24-bit 2x2 BMP, enough for the picture dialog.
kvx_write_picture() {
  printf 'BM\x46\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x02\0\0\0\x02\0\0\0\x01\0\x18\0\0\0\0\0\x10\0\0\0\x13\x0b\0\0\x13\x0b\0\0\0\0\0\0\0\0\0\0' >"$1"
  printf '\xff\0\0\0\xff\0\0\0\0\0\xff\xff\xff\xff\0\0' >>"$1"
}

# kvx_write_bench DIR IMAGE_BYTES TABLE_MAC: product.ini, the image, its picture, kalvex.ini.
kvx_write_bench() {
  local dir=$1 size=$2 mac=$3
  mkdir -p "$dir"
  printf '%s: Simulated board\n' "$KVX_PRODUCT" >"$dir/product.ini"
  head -c "$size" /dev/urandom >"$dir/$KVX_PRODUCT.bin"
  kvx_write_picture "$dir/$KVX_PRODUCT.bmp"
  local ha
  ha=$(echo "$mac" | tr -d ':' | tr 'a-f' 'A-F')
  cat >"$dir/kalvex.ini" <<INI
# Boards this bench knows. Every address is replaced by the one Kalvex chooses.
.bench:\\
	:sm=255.255.255.0:gw=$KVX_GATEWAY:\\
	:bs=auto:hn:

simboard:tc=.bench:ht=ethernet:ha=$ha:ip=192.168.77.2:sa=$KVX_PC_ADDRESS:bf=flash.bin:
INI
}

# The vendor area the board should receive for kvx_write_bench's entry, in a 300-byte reply:
# cookie, mask (1), gateway (3), boot size in blocks (13), host name (12), end, then zeros.
kvx_expected_vendor() {
  local size=$1 blocks
  blocks=$(((size + 511) / 512))
  local hex
  hex=63825363
  hex+=0104ffffff00
  hex+=0304c0a84d01
  hex+=$(printf '0d02%04x' "$blocks")
  hex+=0c0873696d626f617264 # "simboard"
  hex+=ff
  while [ ${#hex} -lt 128 ]; do hex+=00; done
  echo "$hex"
}

# kvx_start_kalvex NS DIR KALVEX [WRAPPER...]: runs Kalvex in the console in DIR (through the
# wrapper command, if one is given), its input a FIFO that this shell keeps open
# (KVX_INPUT_FD) so that the end of input never cancels a dialog early.
kvx_start_kalvex() {
  local ns=$1 dir=$2 kalvex=$3
  local wrapper=("${@:4}")
  rm -f "$dir/console.in"
  mkfifo "$dir/console.in"
  exec {KVX_INPUT_FD}<>"$dir/console.in"
  (
    cd "$dir" || exit 1
    # Kalvex must not hold a writer of its own input, or closing ours would never end it.
    exec {KVX_INPUT_FD}>&-
    exec env -u DISPLAY -u WAYLAND_DISPLAY ip netns exec "$ns" "${wrapper[@]}" "$kalvex" \
      <"$dir/console.in" >"$dir/console.log" 2>"$dir/kalvex.err"
  ) &
  KVX_KALVEX_PID=$!
}

# kvx_until SECONDS COMMAND...: true as soon as the command succeeds, false once the seconds
# have passed without that.
kvx_until() {
  local limit=$(($1 * 10)) i
  shift
  for ((i = 0; i < limit; i++)); do
    "$@" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# kvx_wait_for FILE PATTERN SECONDS: true once a line of FILE matches the fixed text.
kvx_wait_for() { kvx_until "$3" grep -qF -- "$2" "$1"; }

kvx_type() { printf '%s\n' "$1" >&"$KVX_INPUT_FD"; }

# Ends the input: the dialog on screen takes it as Cancel.
kvx_close_input() { exec {KVX_INPUT_FD}>&-; }

# Answers the product choice and its confirmation with their defaults, and the adapter address
# with ANSWER (empty: the default, which is the bench's only 192.168. address).
kvx_confirm_product_and_address() {
  local log=$1 answer=${2:-}
  kvx_wait_for "$log" "Please choose the right product" 20 || return 1
  kvx_type ""
  kvx_wait_for "$log" "You have chosen option 1" 20 || return 1
  kvx_type ""
  kvx_wait_for "$log" "Please select or type the IP address" 20 || return 1
  kvx_type "$answer"
  kvx_wait_for "$log" "Server is ready ..." 20
}

# Both of Kalvex's ports are bound in NS: from now on a request waits in its socket.
kvx_serving() {
  [ -n "$(ip netns exec "$1" ss -Hlun 'sport = :67')" ] &&
    [ -n "$(ip netns exec "$1" ss -Hlun 'sport = :69')" ]
}
kvx_wait_serving() { kvx_until 20 kvx_serving "$1"; }
