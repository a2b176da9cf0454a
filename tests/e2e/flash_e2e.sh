#!/usr/bin/env bash
# Whole flashes with the real kalvex program and the simulated board, each in its own pair of
# network namespaces, run side by side so that the 93-second closing countdowns overlap.
# Usage: flash_e2e.sh KALVEX SIM_BOARD [SCENARIO...]. Exit 0 all passed, 1 a failure,
# 77 skipped (with the reason), for CTest's SKIP_RETURN_CODE.
set -u
umask 022

KALVEX=$(realpath "${1:?kalvex program}")
SIM_BOARD=$(realpath "${2:?sim_board program}")
shift 2
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=flash_lib.sh
. "$HERE/flash_lib.sh"

IMAGE_BYTES=$((4 * 1024 * 1024 + 300)) # 8193 blocks of 512 bytes or 2858 of 1468, the last short
# A board that takes a little time per block, so that the transfer spans several ticks.
BOARD_PACE=(--ack-delay-us 500)
# Short board time-outs (and "timeout 1" asked): it starts its request again after 4 s of
# silence, long before Kalvex's own 20-second receive time-out.
BOARD_RETRY=(--tftp-timeout-ms 1000 --tftp-resends 3 --max-restarts 40 --give-up-s 240)
UNLISTED_MAC=02:00:00:00:00:99 # a board that kalvex.ini does not list
UNPRIVILEGED_USER=nobody

# One row per scenario: its name; how it ends (a whole "flash", a "stray" read request that
# ends Kalvex, a "cancel" typed mid-flash); the board's options after the pace and retry ones
# above (later ones win: an ACK per window of eight needs a slower pace to span several ticks,
# lose-last-data has U-Boot's own time-outs); what a whole flash must show besides the common
# checks.
SCENARIOS=(
  "clean           | flash  | -                                          | first_reply_used no_restart"
  "lose-data       | flash  | --lose-data 2000                           | first_reply_used"
  "lose-first-data | flash  | --lose-data 1                              | first_reply_used"
  "silent          | flash  | --silent-after 1500                        | first_reply_used board_restarted"
  "link-drop-data  | flash  | --plain-request                            | first_reply_used data_dropped_once"
  "link-drop-reply | flash  | -                                          | reply_dropped_once"
  "unknown-board   | flash  | -                                          | first_reply_used unlisted_unanswered"
  "capabilities    | flash  | -                                          | first_reply_used ran_unprivileged"
  "dhcp            | flash  | --dhcp                                     | first_reply_used dhcp_acked"
  "tftp-options    | flash  | --tsize --windowsize 8 --ack-delay-us 4000 | first_reply_used options_agreed"
  "random-loss     | flash  | -                                          | random_losses"
  "lose-last-data  | flash  | --lose-last-data --tftp-timeout-ms 5000 --tftp-resends 10 | full_only_when_received no_restart"
  "no-last-ack     | flash  | --no-last-ack                              | no_restart"
  "aborted-write   | flash  | --abort-write 20                           | flash_bin_intact"
  "netretry        | flash  | --silent-after 1500 --max-restarts 0 --netretry 1 | served_twice restarted"
  "stray-request   | stray  | --file other.bin                           | -"
  "cancel          | cancel | --ack-delay-us 3000                        | -"
)

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
chmod 755 "$WORK" # the unprivileged run reads its bench in here
NAMESPACES=()
SCENARIO_PIDS=()
# Every process a scenario starts in the background is listed in its "pids" file.
cleanup() {
  local pid
  for pid in "${SCENARIO_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in $(cat "$WORK"/*/pids 2>/dev/null); do kill "$pid" 2>/dev/null; done
  kvx_link_down "${NAMESPACES[@]}"
  if [ "${KEEP_E2E_WORK:-0}" = 1 ]; then echo "work kept in $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- checks, each appending to the scenario's failure list ----------------------------------

fail() { echo "$*" >>"$DIR/failures"; }
in_board_log() { grep -q -- "$1" "$DIR/board.log"; }
in_console() { grep -qF -- "$1" "$DIR/console.log"; }

check_reply() {
  grep -qF "bootp: reply yiaddr=$KVX_BOARD_ADDRESS siaddr=$KVX_PC_ADDRESS file=flash.bin" \
    "$DIR/board.log" || fail "BOOTP reply fields differ: $(grep 'bootp: reply' "$DIR/board.log")"
  # A DHCP reply carries its message type and server identifier among the vendor options.
  in_board_log "bootp: used reply .*dhcp=" && return
  local vendor
  vendor=$(kvx_expected_vendor "$IMAGE_BYTES")
  grep -qx "bootp: vendor=$vendor" "$DIR/board.log" ||
    fail "vendor area differs: $(grep 'bootp: vendor' "$DIR/board.log" | head -1) expected $vendor"
}

check_static_neighbour_seen() {
  grep -q "lladdr $KVX_BOARD_MAC PERMANENT" "$DIR/neighbours" ||
    fail "no permanent neighbour entry for $KVX_BOARD_ADDRESS with $KVX_BOARD_MAC was seen"
}

no_permanent_neighbour() {
  ! ip -n "$PC_NS" neigh show "$KVX_BOARD_ADDRESS" dev "$KVX_PC_LINK" | grep -q PERMANENT
}

check_no_neighbour_left() {
  no_permanent_neighbour || fail "a permanent neighbour entry is left after the end"
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

# The board's very first request was answered, and that answer is the one it went on with.
check_first_reply_used() {
  local asked used
  asked=$(grep -m1 -o 'bootp: request xid=0x[0-9a-f]*' "$DIR/board.log" | cut -d= -f2)
  used=$(grep -m1 -o 'bootp: used reply xid=0x[0-9a-f]*' "$DIR/board.log" | cut -d= -f2)
  if [ -z "$asked" ] || [ "$asked" != "$used" ]; then
    fail "the board's first request (xid $asked) was not the one answered (xid ${used:-none})"
  fi
}

check_no_restart() {
  ! in_console "Preparing to retransmit" || fail "kalvex restarted its TFTP server"
}

check_restarted() {
  in_console "Preparing to retransmit data, please wait ..." ||
    fail "console: no \"Preparing to retransmit data, please wait ...\""
}

check_board_restarted() {
  in_board_log "starting the request again" || fail "the board never started its request again"
}

# Kalvex deals with one request at a time, so once the listed board has had its reply, the
# unlisted board's earlier request has been dealt with: a reply to it would be counted by now.
check_unlisted_unanswered() {
  grep -q 'bootp: request' "$DIR/unlisted.log" || fail "the unlisted board sent no request"
  ip netns exec "$PC_NS" nft list table ip e2e_watch | grep -q "counter packets 0 " ||
    fail "kalvex answered a board that kalvex.ini does not list"
}

dropped_once() { ip netns exec "$PC_NS" nft list table netdev e2e_loss | grep -q "counter packets 1 "; }

# The first reply was lost on the link; the board's next request was answered.
check_reply_dropped_once() {
  dropped_once || fail "the link did not drop exactly one reply"
  [ "$(grep -c 'bootp: request' "$DIR/board.log")" -ge 2 ] || fail "the board did not ask again"
}

check_data_dropped_once() { dropped_once || fail "the link did not drop exactly one DATA"; }

check_random_losses() {
  local dropped
  dropped=$(ip netns exec "$PC_NS" nft list table netdev e2e_loss | grep -o 'packets [0-9]*' |
    awk '{ sum += $2 } END { print sum + 0 }')
  [ "$dropped" -gt 0 ] || fail "the link lost nothing"
}

# Read once kalvex served (see run_scenario): its user and its effective capabilities.
check_ran_unprivileged() {
  local uid
  uid=$(id -u "$UNPRIVILEGED_USER")
  grep -qP "^Uid:\t$uid\t$uid\t$uid\t$uid$" "$DIR/privileges" ||
    fail "kalvex did not run as $UNPRIVILEGED_USER: $(grep Uid "$DIR/privileges")"
  # cap_net_bind_service (10) and cap_net_admin (12), nothing else.
  grep -qx "CapEff:	0000000000001400" "$DIR/privileges" ||
    fail "kalvex's capabilities were not exactly net_bind_service and net_admin: $(grep CapEff "$DIR/privileges")"
}

check_dhcp_acked() {
  in_board_log "bootp: request .* dhcp=REQUEST" || fail "the board sent no DHCPREQUEST"
  in_board_log "bootp: used reply .* dhcp=ACK" || fail "the board's address did not come with a DHCPACK"
}

check_options_agreed() {
  in_board_log "tftp: options blksize=1468 windowsize=8 tsize=$IMAGE_BYTES$" ||
    fail "the server did not agree to the options asked: $(grep 'tftp: options' "$DIR/board.log")"
}

check_full_only_when_received() {
  [ "$(cat "$DIR/first-full" 2>/dev/null)" = "the board had the image" ] ||
    fail "console: 100% before the board had the last block ($(cat "$DIR/first-full" 2>/dev/null))"
}

check_flash_bin_intact() {
  in_board_log "tftp: wrote 20 blocks of flash.bin and stopped" || fail "the board's upload did not get halfway"
  cmp -s "$DIR/$KVX_PRODUCT.bin" "$DIR/flash.bin" || fail "flash.bin changed"
}

check_served_twice() {
  in_board_log "board: starting over from the address request" || fail "the board never started over"
  [ "$(grep -c 'bootp: used reply' "$DIR/board.log")" -ge 2 ] || fail "the board's second address request went unanswered"
}

# ---- one flash --------------------------------------------------------------------------------

# A background process of this scenario, ended by cleanup whichever way the suite ends.
remember_pid() { echo "$1" >>"$DIR/pids"; }

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

# One datagram in a hundred lost at random, both ways.
install_random_loss() {
  ip netns exec "$PC_NS" nft -f - <<NFT
table netdev e2e_loss {
  chain egress {
    type filter hook egress device "$KVX_PC_LINK" priority 0;
    meta l4proto udp numgen random mod 100 < 1 counter drop
  }
  chain ingress {
    type filter hook ingress device "$KVX_PC_LINK" priority 0;
    meta l4proto udp numgen random mod 100 < 1 counter drop
  }
}
NFT
}

prepare_link() {
  case $NAME in
  # DATA 2000 (opcode 3 and the block number behind the 8-byte UDP header), 512 bytes long.
  link-drop-data) install_drop_rule "udp sport != 69 @th,64,16 3 @th,80,16 2000" 600 ;;
  link-drop-reply) install_drop_rule "udp sport 67 udp dport 68" 400 ;;
  random-loss) install_random_loss ;;
  esac
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

# Kalvex as root, or as an unprivileged user with only the two capabilities it needs, from a
# copy of the program and its companion that this user may run, in a directory it owns.
start_kalvex() {
  if [ "$NAME" != capabilities ]; then
    kvx_start_kalvex "$PC_NS" "$DIR" "$KALVEX"
    return
  fi
  mkdir "$DIR/bin"
  cp "$KALVEX" "$(dirname "$KALVEX")/ipconfig" "$DIR/bin/"
  chown -R "$UNPRIVILEGED_USER:" "$DIR"
  local gid
  gid=$(id -g "$UNPRIVILEGED_USER")
  kvx_start_kalvex "$PC_NS" "$DIR" "$DIR/bin/kalvex" setpriv --reuid="$UNPRIVILEGED_USER" \
    --regid="$gid" --clear-groups --inh-caps=+net_bind_service,+net_admin \
    --ambient-caps=+net_bind_service,+net_admin
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

# The board in the foreground; in the background (exec'd, so that its id is the board's own):
# (exec_board) &
exec_board() {
  exec ip netns exec "$BOARD_NS" "$SIM_BOARD" --interface "$KVX_BOARD_LINK" \
    --output "$DIR/board.bin" --bootp-give-up-ms 60000 "${BOARD_PACE[@]}" "${BOARD_RETRY[@]}" \
    "${BOARD_ARGS[@]}" >"$DIR/board.log" 2>&1
}
run_board() { (exec_board); }

# Notes whether the board had its last block when the console first showed 100 %.
note_first_full() {
  kvx_until 300 grep -qF "Updating Image   100%." "$DIR/console.log" || return
  if grep -q "tftp: received the last block" "$DIR/board.log"; then
    echo "the board had the image" >"$DIR/first-full"
  else
    echo "the board had not had the last block yet" >"$DIR/first-full"
  fi
}

finish_flash() {
  note_first_full &
  remember_pid $!
  run_board
  local board_status=$?
  if [ "$board_status" -ne 0 ]; then
    fail "the board failed with status $board_status"
    kill "$KVX_KALVEX_PID" 2>/dev/null
    return
  fi
  if ! kvx_wait_for "$DIR/console.log" "System on board is rebooting ..." 60; then
    fail "console: no \"System on board is rebooting ...\""
    kill "$KVX_KALVEX_PID" 2>/dev/null
    return
  fi
  check_neighbour_removed
  wait_kalvex 150
  [ "$KVX_STATUS" = 0 ] || fail "kalvex ended with status $KVX_STATUS, not 0"
  check_reply
  check_static_neighbour_seen
  check_image
  check_console
  check_no_neighbour_left
  local check
  for check in $CHECKS; do "check_$check"; done
}

box_or_end() { grep -qF "other.bin" "$DIR/console.log" || kalvex_ended; }

# A read request for another file ends Kalvex with a failure status and a box that names it.
finish_stray() {
  run_board
  in_board_log "tftp: error " || fail "the board's request for other.bin got no ERROR"
  kvx_until 30 box_or_end
  kvx_type "" # closes the box
  wait_kalvex 20
  [ "$KVX_STATUS" != 0 ] || fail "kalvex ended with status 0 after a request for another file"
  [ "$KVX_STATUS" != running ] || fail "kalvex did not end after a request for another file"
  # The box runs from its "[kalvex]" caption to the prompt that closes it.
  sed -n '/^\[kalvex\] /,/Enter or "ok"/p' "$DIR/console.log" | grep -q 'other\.bin' ||
    fail "no message box named other.bin"
  check_no_neighbour_left
}

# Esc in the middle of the transfer ends Kalvex and leaves no neighbour entry behind.
finish_cancel() {
  (exec_board) &
  local board=$!
  remember_pid "$board"
  kvx_wait_for "$DIR/console.log" "Updating Image" 60 || fail "console: the transfer never started"
  kvx_type "cancel"
  wait_kalvex 20
  [ "$KVX_STATUS" != running ] || fail "kalvex did not end on \"cancel\""
  echo "kalvex ended with status $KVX_STATUS" >"$DIR/status"
  ! in_console "Transfer completed" || fail "the transfer ended before the cancel: nothing was tested"
  check_static_neighbour_seen
  check_no_neighbour_left
  kill "$board" 2>/dev/null
}

run_scenario() {
  local row=$1 index=$2 ends board
  IFS='|' read -r NAME ends board CHECKS <<<"$row"
  read -r NAME <<<"$NAME"
  read -r ends <<<"$ends"
  read -ra BOARD_ARGS <<<"$board"
  [ "${BOARD_ARGS[0]:-}" = - ] && BOARD_ARGS=()
  [ "$(echo "$CHECKS" | tr -d ' ')" = - ] && CHECKS=
  DIR=$WORK/$NAME
  PC_NS=kvx$$-$index-pc
  BOARD_NS=kvx$$-$index-bd
  mkdir -p "$DIR"
  : >"$DIR/failures"
  kvx_write_bench "$DIR" "$IMAGE_BYTES" "$KVX_BOARD_MAC"
  if ! kvx_link_up "$PC_NS" "$BOARD_NS" "$KVX_BOARD_MAC" >"$DIR/setup.log" 2>&1 ||
    ! prepare_link >>"$DIR/setup.log" 2>&1; then
    fail "could not build the link: $(cat "$DIR/setup.log")"
    return
  fi
  ip -n "$PC_NS" monitor neigh >"$DIR/neighbours" 2>&1 &
  remember_pid $!
  start_kalvex
  remember_pid "$KVX_KALVEX_PID"
  if ! kvx_confirm_product_and_address "$DIR/console.log" || ! kvx_wait_serving "$PC_NS"; then
    fail "kalvex did not get to \"Server is ready ...\" with both ports bound"
    return
  fi
  grep -E '^(Uid|CapEff):' "/proc/$KVX_KALVEX_PID/status" >"$DIR/privileges"
  [ "$NAME" = unknown-board ] && ask_as_unlisted_board
  "finish_$ends"
}

# ---- all of them at once ----------------------------------------------------------------------

scenario_name() { echo "${1%%|*}" | tr -d ' '; }

# What a scenario needs beyond the bench itself, or nothing when the machine has it.
missing_for() {
  case $1 in
  link-drop-* | random-loss | unknown-board)
    command -v nft >/dev/null || echo "nftables (nft) is not installed"
    ;;
  capabilities)
    command -v setpriv >/dev/null && id "$UNPRIVILEGED_USER" >/dev/null 2>&1 ||
      echo "setpriv or the user $UNPRIVILEGED_USER is missing"
    ;;
  esac
}

rows=()
skipped=0
for row in "${SCENARIOS[@]}"; do
  name=$(scenario_name "$row")
  [ $# -eq 0 ] || [[ " $* " == *" $name "* ]] || continue
  missing=$(missing_for "$name")
  if [ -n "$missing" ]; then
    echo "SKIP $name: $missing"
    skipped=$((skipped + 1))
  else
    rows+=("$row")
  fi
done
if [ ${#rows[@]} -eq 0 ]; then
  [ "$skipped" -gt 0 ] && exit 77
  echo "FAILED: no scenario named $*"
  exit 1
fi
index=0
for row in "${rows[@]}"; do
  index=$((index + 1))
  NAMESPACES+=("kvx$$-$index-pc" "kvx$$-$index-bd")
  (
    SECONDS=0
    run_scenario "$row" "$index"
    echo "$SECONDS" >"$DIR/seconds"
    for pid in $(cat "$DIR/pids" 2>/dev/null); do kill "$pid" 2>/dev/null; done
    kvx_link_down "kvx$$-$index-pc" "kvx$$-$index-bd"
  ) &
  SCENARIO_PIDS+=($!)
done
for pid in "${SCENARIO_PIDS[@]}"; do wait "$pid"; done

passed=0
failed=0
for row in "${rows[@]}"; do
  name=$(scenario_name "$row")
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
    echo "PASS $name ($(cat "$WORK/$name/seconds") s)"
  fi
done
echo "e2e: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
