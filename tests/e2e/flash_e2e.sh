#!/usr/bin/env bash
# Whole flashes with the real kalvex program and the simulated board, each in its own pair of
# network namespaces, run side by side so that the 93-second closing countdowns overlap.
# Usage: flash_e2e.sh KALVEX SIM_BOARD [SCENARIO...]. Exit 0 all passed, 1 a failure,
# 77 skipped (with the reason), for CTest's SKIP_RETURN_CODE.
set -u

KALVEX=${1:?kalvex program}
SIM_BOARD=${2:?sim_board program}
shift 2
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=flash_lib.sh
. "$HERE/flash_lib.sh"

IMAGE_BYTES=$((4 * 1024 * 1024 + 300)) # 8193 blocks, the last one short
# A board that takes a little time per block, so that the transfer spans several ticks.
BOARD_PACE=(--ack-delay-us 300)
# Short board time-outs: it starts its request again after 4 s of silence, long before
# Kalvex's own 20-second receive time-out.
BOARD_RETRY=(--tftp-timeout-ms 1000 --tftp-resends 3 --max-restarts 40 --give-up-s 240)
ALL_SCENARIOS=(clean lose-data lose-first-data silent link-drop-data link-drop-reply unknown-board)
UNLISTED_MAC=02:00:00:00:00:99 # a board that kalvex.ini does not list

reason=$(kvx_bench_unavailable)
if [ -n "$reason" ]; then
  echo "SKIPPED: $reason"
  exit 77
fi
for tool in "$KALVEX" "$SIM_BOARD"; do
  [ -x "$tool" ] || {
    echo "FAILED: $tool is not built"
    exit 1
  }
done

WORK=$(mktemp -d /tmp/kalvex-e2e.XXXXXX)
NAMESPACES=()
cleanup() {
  kvx_link_down "${NAMESPACES[@]}"
  if [ "${KEEP_E2E_WORK:-0}" = 1 ]; then echo "work kept in $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- checks, each appending to the scenario's failure list ----------------------------------

fail() { echo "$*" >>"$DIR/failures"; }

check_reply() {
  grep -qF "bootp: reply yiaddr=$KVX_BOARD_ADDRESS siaddr=$KVX_PC_ADDRESS file=flash.bin" \
    "$DIR/board.log" || fail "BOOTP reply fields differ: $(grep 'bootp: reply' "$DIR/board.log")"
  local vendor
  vendor=$(kvx_expected_vendor "$IMAGE_BYTES")
  grep -qx "bootp: vendor=$vendor" "$DIR/board.log" ||
    fail "vendor area differs: $(grep 'bootp: vendor' "$DIR/board.log") expected $vendor"
}

check_static_neighbour_seen() {
  grep -q "lladdr $KVX_BOARD_MAC PERMANENT" "$DIR/neighbours" ||
    fail "no permanent neighbour entry for $KVX_BOARD_ADDRESS with $KVX_BOARD_MAC was seen"
}

no_permanent_neighbour() {
  ! ip -n "$PC_NS" neigh show "$KVX_BOARD_ADDRESS" dev "$KVX_PC_LINK" | grep -q PERMANENT
}

# The entry goes at countdown tick 12: at the latest a few seconds after its status line.
check_neighbour_removed() {
  kvx_until 5 no_permanent_neighbour ||
    fail "the permanent neighbour entry is still there after \"System on board is rebooting ...\""
}

check_image() {
  cmp -s "$DIR/$KVX_PRODUCT.bin" "$DIR/board.bin" || fail "the board's image differs from the product's"
}

# Lines in order, percentages rising (after the last restart) up to 100.
check_console() {
  local log=$DIR/console.log last=0 line
  local expected=("Updating Image" "Transfer completed, please wait the board to reboot ..."
    "System on board is rebooting ..." "System on board is up, the program will exit ...")
  for text in "${expected[@]}"; do
    line=$(grep -nF -- "$text" "$log" | tail -1 | cut -d: -f1)
    if [ -z "$line" ] || [ "$line" -lt "$last" ]; then
      fail "console: \"$text\" missing or out of order"
      return
    fi
    last=$line
  done
  local from percentages
  from=$(grep -nF "Preparing to retransmit data, please wait ..." "$log" | tail -1 | cut -d: -f1)
  percentages=$(tail -n +"${from:-1}" "$log" | grep -o 'Updating Image   [0-9]*%\.' | grep -o '[0-9]*' | uniq)
  [ "$(echo "$percentages" | tail -1)" = 100 ] || fail "console: the last percentage is not 100: $percentages"
  [ "$(echo "$percentages" | wc -l)" -ge 2 ] || fail "console: percentages did not rise: $percentages"
  [ "$percentages" = "$(echo "$percentages" | sort -n)" ] || fail "console: percentages fell: $percentages"
}

check_restarted() {
  grep -qF "Preparing to retransmit data, please wait ..." "$DIR/console.log" ||
    fail "console: no \"Preparing to retransmit data, please wait ...\""
  grep -q "starting the request again" "$DIR/board.log" || fail "the board never started its request again"
}

# Kalvex deals with one request at a time, so once the listed board has had its reply, the
# unlisted board's earlier request has been dealt with: a reply to it would be counted by now.
check_unlisted_unanswered() {
  grep -q 'bootp: request' "$DIR/unlisted.log" || fail "the unlisted board sent no request"
  ip netns exec "$PC_NS" nft list table ip e2e_watch | grep -q "counter packets 0 " ||
    fail "kalvex answered a board that kalvex.ini does not list"
}

# The first reply was lost on the link; the board's next request was answered.
check_reply_dropped_once() {
  ip netns exec "$PC_NS" nft list table netdev e2e_loss | grep -q "counter packets 1 " ||
    fail "the link did not drop exactly one reply"
  [ "$(grep -c 'bootp: request' "$DIR/board.log")" -ge 2 ] || fail "the board did not ask again"
}

# ---- one flash --------------------------------------------------------------------------------

# nftables on the PC's side of the link (its egress hook, so the sender sees no error, as on
# a real wire): drop the first frame that matches, once. The quota counts frame bytes and
# must lie between one and two of the matching frames.
install_drop_rule() {
  local match=$1 quota=$2
  ip netns exec "$PC_NS" nft -f - <<NFT
table netdev e2e_loss {
  chain egress {
    type filter hook egress device "$KVX_PC_LINK" priority 0;
    meta l4proto udp $match quota until $quota bytes counter drop
  }
}
NFT
}

# Counts the BOOTP replies that leave the PC for the unlisted board's hardware address (chaddr,
# 28 bytes into the BOOTP message behind the 8-byte UDP header), then lets that board ask once.
ask_as_unlisted_board() {
  ip netns exec "$PC_NS" nft -f - <<NFT
table ip e2e_watch {
  chain output {
    type filter hook output priority 0;
    udp sport 67 @th,288,48 0x${UNLISTED_MAC//:/} counter
  }
}
NFT
  ip netns exec "$BOARD_NS" "$SIM_BOARD" --interface "$KVX_BOARD_LINK" --mac "$UNLISTED_MAC" \
    --bootp-give-up-ms 1 >"$DIR/unlisted.log" 2>&1
}

run_scenario() {
  local name=$1 index=$2
  DIR=$WORK/$name
  PC_NS=kvx$$-$index-pc
  BOARD_NS=kvx$$-$index-bd
  local board_args=("${BOARD_PACE[@]}" "${BOARD_RETRY[@]}")
  case $name in
  lose-data) board_args+=(--lose-data 3000) ;;
  lose-first-data) board_args+=(--lose-data 1) ;;
  silent) board_args+=(--silent-after 5000) ;;
  esac
  mkdir -p "$DIR"
  : >"$DIR/failures"
  kvx_write_bench "$DIR" "$IMAGE_BYTES" "$KVX_BOARD_MAC"
  if ! kvx_link_up "$PC_NS" "$BOARD_NS" "$KVX_BOARD_MAC" >"$DIR/setup.log" 2>&1; then
    fail "could not build the link: $(cat "$DIR/setup.log")"
    return
  fi
  case $name in
  # DATA 2000 (opcode 3 and the block number behind the 8-byte UDP header).
  link-drop-data) install_drop_rule "udp sport != 69 @th,64,16 3 @th,80,16 2000" 600 ;;
  link-drop-reply) install_drop_rule "udp sport 67 udp dport 68" 400 ;;
  esac
  kvx_watch_neighbours "$PC_NS" "$KVX_BOARD_ADDRESS" "$DIR/neighbours" &
  local watcher=$!
  kvx_start_kalvex "$PC_NS" "$DIR" "$KALVEX"
  if ! kvx_confirm_product_and_address "$DIR/console.log" "${ADDRESS_ANSWER:-}"; then
    fail "kalvex did not get to \"Server is ready ...\""
    kill "$KVX_KALVEX_PID" "$watcher" 2>/dev/null
    return
  fi
  [ "$name" = unknown-board ] && ask_as_unlisted_board
  ip netns exec "$BOARD_NS" "$SIM_BOARD" --interface "$KVX_BOARD_LINK" --output "$DIR/board.bin" \
    --bootp-give-up-ms 60000 "${board_args[@]}" >"$DIR/board.log" 2>&1
  local board_status=$?
  [ "$board_status" -eq 0 ] || fail "the board failed with status $board_status"
  if kvx_wait_for "$DIR/console.log" "System on board is rebooting ..." 60; then
    check_neighbour_removed
  else
    fail "console: no \"System on board is rebooting ...\""
  fi
  wait_kalvex 150
  kill "$watcher" 2>/dev/null
  [ "$KVX_STATUS" = 0 ] || fail "kalvex ended with status $KVX_STATUS, not 0"
  check_reply
  check_static_neighbour_seen
  check_image
  check_console
  ip -n "$PC_NS" neigh show "$KVX_BOARD_ADDRESS" | grep -q PERMANENT &&
    fail "a permanent neighbour entry is left after the end"
  case $name in
  clean) ! grep -qF "Preparing to retransmit" "$DIR/console.log" || fail "a clean flash restarted" ;;
  link-drop-reply) check_reply_dropped_once ;;
  unknown-board) check_unlisted_unanswered ;;
  *) check_restarted ;;
  esac
}

kalvex_ended() { ! kill -0 "$KVX_KALVEX_PID"; }

# Waits up to N seconds for kalvex to end; KVX_STATUS is its status or "running".
wait_kalvex() {
  if kvx_until "$1" kalvex_ended; then
    wait "$KVX_KALVEX_PID"
    KVX_STATUS=$?
  else
    KVX_STATUS=running
    kill "$KVX_KALVEX_PID" 2>/dev/null
  fi
}

# ---- all of them at once ----------------------------------------------------------------------

scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=("${ALL_SCENARIOS[@]}")
pids=()
index=0
for name in "${scenarios[@]}"; do
  index=$((index + 1))
  NAMESPACES+=("kvx$$-$index-pc" "kvx$$-$index-bd")
  (run_scenario "$name" "$index"; kvx_link_down "kvx$$-$index-pc" "kvx$$-$index-bd") &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done

passed=0
failed=0
for name in "${scenarios[@]}"; do
  if [ -s "$WORK/$name/failures" ] || [ ! -e "$WORK/$name/failures" ]; then
    failed=$((failed + 1))
    echo "FAIL $name"
    sed 's/^/    /' "$WORK/$name/failures" 2>/dev/null
    for log in console.log board.log kalvex.err; do
      echo "    --- $log (last lines)"
      tail -n 15 "$WORK/$name/$log" 2>/dev/null | sed 's/^/    /'
    done
  else
    passed=$((passed + 1))
    echo "PASS $name"
  fi
done
echo "e2e: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
