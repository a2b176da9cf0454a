#!/usr/bin/env bash
# Watch Kalvex flash a board without having one: builds kalvex and the simulated board, joins
# them with a virtual Ethernet link between two network namespaces of their own, and runs a
# whole flash from the board's first BOOTREQUEST to Kalvex's own exit (about two minutes, most
# of it the countdown while a real board would write its image). Needs root for the namespaces.
#   bash scripts/demo.sh               a clean flash
#   bash scripts/demo.sh --lose-block  the board misses one DATA block: watch it recover
# Run as an ordinary user, it asks sudo for root.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../tests/e2e/flash_lib.sh
. "$ROOT/tests/e2e/flash_lib.sh"

# Where Kalvex shows itself. "terminal" runs its console backend; a window backend can take
# over here later without touching the rest of this script.
DEMO_SHOWS=terminal

lose_block=0
case "${1:-}" in
"") ;;
--lose-block) lose_block=1 ;;
*)
  sed -n '2,8s/^# \{0,1\}//p' "$0"
  exit 2
  ;;
esac

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then
    echo "demo: network namespaces, and ports 67 and 69 and the neighbour table in them, need root; asking sudo" >&2
    exec sudo bash "$0" "$@"
  fi
  echo "demo: this needs root, to make network namespaces and to let Kalvex use ports 67 and 69" >&2
  echo "      and the neighbour table inside them, and there is no sudo here: run the same" >&2
  echo "      command as root (after su)." >&2
  exit 1
fi
reason=$(kvx_bench_unavailable)
if [ -n "$reason" ]; then
  echo "demo: $reason" >&2
  exit 1
fi

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

# A build tree of your own can be named with KALVEX_DEMO_BUILD (it is used as it is).
BUILD=${KALVEX_DEMO_BUILD:-}
if [ -z "$BUILD" ]; then
  say "Installing what the build needs, building kalvex, its ipconfig companion and the simulated board"
  bash "$ROOT/scripts/install-deps.sh"
  # A tree of its own: built as root, it must not leave build/default unwritable for the
  # test command run later as an ordinary user.
  BUILD=$ROOT/build/demo
  (cd "$ROOT" && cmake --preset default -B "$BUILD" >/dev/null &&
    nice cmake --build "$BUILD" --target kalvex ipconfig sim_board -j2)
fi
KALVEX=$BUILD/app/kalvex
SIM_BOARD=$BUILD/tools/sim_board/sim_board

WORK=$(mktemp -d /tmp/kalvex-demo.XXXXXX)
PC_NS=kvxdemo-$$-pc
BOARD_NS=kvxdemo-$$-bd
TAIL_PID=
cleanup() {
  [ -n "$TAIL_PID" ] && kill "$TAIL_PID" 2>/dev/null
  kvx_link_down "$PC_NS" "$BOARD_NS"
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "A virtual cable: namespace $PC_NS (the PC, $KVX_PC_ADDRESS/24) <-> $BOARD_NS (the board, no address)"
kvx_link_up "$PC_NS" "$BOARD_NS" "$KVX_BOARD_MAC"

IMAGE_BYTES=$((2 * 1024 * 1024))
kvx_write_bench "$WORK" "$IMAGE_BYTES" "$KVX_BOARD_MAC"
say "Working directory $WORK: product.ini, $KVX_PRODUCT.bin (${IMAGE_BYTES} bytes), $KVX_PRODUCT.bmp, kalvex.ini"
sed 's/^/    /' "$WORK/kalvex.ini"

show_kalvex() {
  case $DEMO_SHOWS in
  terminal)
    touch "$WORK/console.log"
    tail -n +1 -f "$WORK/console.log" | sed -u 's/^/kalvex | /' &
    TAIL_PID=$!
    kvx_start_kalvex "$PC_NS" "$WORK" "$KALVEX"
    ;;
  esac
}

say "Starting kalvex in $PC_NS; the product and the address are confirmed with their defaults"
show_kalvex
if ! kvx_confirm_product_and_address "$WORK/console.log" || ! kvx_wait_serving "$PC_NS"; then
  echo "demo: kalvex did not get to \"Server is ready ...\"; its errors:" >&2
  cat "$WORK/kalvex.err" >&2
  exit 1
fi

say "Powering the board on in $BOARD_NS ($KVX_BOARD_MAC)"
board_args=(--ack-delay-us 500 --tftp-timeout-ms 2000 --tftp-resends 3 --max-restarts 30)
[ "$lose_block" = 1 ] && board_args+=(--lose-data 1000)
ip netns exec "$BOARD_NS" "$SIM_BOARD" --interface "$KVX_BOARD_LINK" --output "$WORK/board.bin" \
  "${board_args[@]}" 2>&1 | sed -u 's/^/board  | /' &
board_pid=$!

say "The neighbour entry Kalvex set for the board while it has no address of its own:"
kvx_wait_for "$WORK/console.log" "Updating Image" 120 || true
ip -n "$PC_NS" neigh show "$KVX_BOARD_ADDRESS" | sed 's/^/    /'

wait "$board_pid" || true
for ((i = 0; i < 1500; i++)); do
  kill -0 "$KVX_KALVEX_PID" 2>/dev/null || break
  sleep 0.1
done
status=0
wait "$KVX_KALVEX_PID" || status=$?
sleep 0.3

say "Result"
echo "    kalvex exit status: $status"
echo "    neighbour entry for $KVX_BOARD_ADDRESS now: $(ip -n "$PC_NS" neigh show "$KVX_BOARD_ADDRESS" | grep -c PERMANENT) permanent"
if cmp -s "$WORK/$KVX_PRODUCT.bin" "$WORK/board.bin"; then
  echo "    the board's image is byte-identical to $KVX_PRODUCT.bin"
else
  echo "    the board's image differs from $KVX_PRODUCT.bin"
  exit 1
fi
[ "$status" -eq 0 ] || exit 1
