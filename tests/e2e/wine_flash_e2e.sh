#!/usr/bin/env bash
# A whole flash with the Windows build: kalvex.exe under Wine in the PC's network namespace,
# its dialogs on a private Xvfb answered with key presses (xdotool), against the Linux
# build's simulated board in the board's namespace, over the same bench as the Linux flashes.
#
# Wine keeps every socket in its server's network namespace, not its caller's: the prefix
# (its own, in the build directory) gets a server started inside the PC's namespace, and
# the run stops before kalvex.exe starts unless that server is found there.
#
# Wine cannot change the neighbour table (its IP Helper has no CreateIpNetEntry2), so
# kalvex.exe's "arp -s" is refused there with a reason on its error stream: this script
# puts the board's entry in the PC's namespace itself (ip neigh, nud permanent) and checks
# that the refusal was reported. What is checked: kalvex.exe's BOOTP reply and vendor
# area, the image arriving byte for byte, the countdown to the end and exit status 0.
#
# Usage: wine_flash_e2e.sh KALVEX_EXE SIM_BOARD WINE_RUN PREFIX
# Exit 0 passed, 1 failed, 77 skipped (with the reason), for CTest's SKIP_RETURN_CODE.
set -u

KALVEX=$(readlink -f "${1:?kalvex.exe}")
SIM_BOARD=${2:?the simulated board, a Linux program}
WINE_RUN=$(readlink -f "${3:?cmake/wine-run.sh}")
PREFIX=$(readlink -m "${4:?a Wine prefix for this test alone}")
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=flash_lib.sh
. "$HERE/flash_lib.sh"
# shellcheck source=../gui/window_lib.sh
. "$HERE/../gui/window_lib.sh"

IMAGE_BYTES=$((1024 * 1024 + 300))
BOARD_ARGS=(--tftp-timeout-ms 1000 --tftp-resends 3 --max-restarts 20 --give-up-s 120)
STEP_SECONDS=30 # the bound on every wait for a window or a port

skip() {
  echo "SKIPPED: $*"
  exit 77
}
reason=$(kvx_bench_unavailable)
[ -z "$reason" ] || skip "$reason"
for tool in wine wineserver Xvfb xdotool; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
done
[ -x "$SIM_BOARD" ] || skip "$SIM_BOARD is not built (the Linux build's; cmake --build --preset default)"
[ -f "$KALVEX" ] || { echo "FAILED: $KALVEX is not built"; exit 1; }

WORK=$(mktemp -d /tmp/kalvex-wine-e2e.XXXXXX)
PC_NS=kvxw$$-pc
BOARD_NS=kvxw$$-bd
xvfb_pid=
kalvex_pid=
failures=()
fail() { failures+=("$*"); }

cleanup() {
  [ -n "$kalvex_pid" ] && kill "$kalvex_pid" 2>/dev/null
  stop_wine
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  kvx_link_down "$PC_NS" "$BOARD_NS"
  if [ "${KEEP_E2E_WORK:-0}" = 1 ]; then echo "work kept in $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The network namespace of this prefix's server, found by the directory it works in.
server_namespace() {
  local id pid
  id=$(printf 'server-%x-%x' "$(stat -c %d "$PREFIX")" "$(stat -c %i "$PREFIX")")
  for pid in $(pgrep -x wineserver64; pgrep -x wineserver); do
    [[ "$(readlink "/proc/$pid/cwd")" == */"$id" ]] && readlink "/proc/$pid/ns/net"
  done
}

# The prefix's server, started inside the PC's namespace (a new prefix is made there too).
start_wine_in_pc_namespace() {
  stop_wine
  mkdir -p "$(dirname "$PREFIX")"
  ip netns exec "$PC_NS" "$WINE_RUN" "$PREFIX" cmd /c exit 0 </dev/null >"$WORK/wine-setup.log" 2>&1 ||
    return 1
  local wanted found
  wanted=$(ip netns exec "$PC_NS" readlink /proc/self/ns/net)
  found=$(server_namespace)
  [ -n "$found" ] && [ "$found" = "$wanted" ]
}

# The program's visible windows (Wine names their class after the program file), oldest first.
kalvex_windows() { xdotool search --onlyvisible --classname '^kalvex\.exe$' 2>/dev/null; }

# The newest of them titled exactly $1 other than $2. (xdotool's own name match ignores
# case, and the dialogs are "Kalvex" while the message boxes are "kalvex".)
window_titled() {
  local window found=
  for window in $(kalvex_windows); do
    [ "$window" != "${2:-}" ] && [ "$(xdotool getwindowname "$window" 2>/dev/null)" = "$1" ] &&
      found=$window
  done
  [ -n "$found" ] && echo "$found"
}

# Waits for a window of that title other than `not`, then activates it and presses Enter
# (its default button: OK).
press_enter_in() {
  local name=$1 not=${2:-} i window=
  for ((i = 0; i < STEP_SECONDS * 10; i++)); do
    window=$(window_titled "$name" "$not") && break
    sleep 0.1
  done
  [ -n "$window" ] || return 1
  # Wine takes the X focus alone as no activation (it waits for a window manager's word, and
  # Xvfb has none): a click on the window's margin activates a window that came up inactive.
  xdotool windowfocus --sync "$window" mousemove --sync --window "$window" 6 6 click 1 key Return
  LAST_WINDOW=$window
}

port_bound() { ip netns exec "$PC_NS" ss -Hlun "sport = :$1" | grep -q .; }
kalvex_ended() { ! kill -0 "$kalvex_pid" 2>/dev/null; }

DIR=$WORK/bench
kvx_write_bench "$DIR" "$IMAGE_BYTES" "$KVX_BOARD_MAC"
kvx_link_up "$PC_NS" "$BOARD_NS" "$KVX_BOARD_MAC" >"$WORK/link.log" 2>&1 ||
  { echo "FAILED: could not build the link: $(cat "$WORK/link.log")"; exit 1; }
# kalvex.exe's dialogs need a display; explorer.exe, started with the server, takes it then.
start_xvfb || skip "Xvfb cannot start here"
if ! start_wine_in_pc_namespace; then
  echo "FAILED: the Wine server of $PREFIX is not in the PC's namespace; nothing was started"
  cat "$WORK/wine-setup.log"
  exit 1
fi
# What kalvex.exe would have done with "arp -s" on Windows.
ip -n "$PC_NS" neigh replace "$KVX_BOARD_ADDRESS" lladdr "$KVX_BOARD_MAC" nud permanent \
  dev "$KVX_PC_LINK"

(cd "$DIR" && exec ip netns exec "$PC_NS" "$WINE_RUN" "$PREFIX" "$KALVEX" \
  </dev/null >"$DIR/kalvex.out" 2>"$DIR/kalvex.err") &
kalvex_pid=$!

# The product dialog and its confirmation, then the main dialog (the same caption as the
# product dialog) with the bench's only 192.168. address chosen.
if press_enter_in Kalvex && product=$LAST_WINDOW && press_enter_in kalvex &&
  press_enter_in Kalvex "$product" && kvx_until "$STEP_SECONDS" port_bound 67 &&
  kvx_until "$STEP_SECONDS" port_bound 69; then
  ip netns exec "$BOARD_NS" "$SIM_BOARD" --interface "$KVX_BOARD_LINK" --output "$DIR/board.bin" \
    --bootp-give-up-ms 60000 "${BOARD_ARGS[@]}" >"$DIR/board.log" 2>&1 ||
    fail "the board failed with status $?"
else
  fail "kalvex.exe's dialogs did not lead to the servers listening on ports 67 and 69"
  for window in $(kalvex_windows); do
    fail "    it shows \"$(xdotool getwindowname "$window" 2>/dev/null)\" ($window)"
  done
  import -window root "$PREFIX.failure.png" 2>/dev/null && fail "    the screen: $PREFIX.failure.png"
fi

# The countdown after the transfer: 310 ticks of 300 ms.
if kvx_until 150 kalvex_ended; then
  wait "$kalvex_pid"
  status=$?
  kalvex_pid=
  [ "$status" = 0 ] || fail "kalvex.exe ended with status $status, not 0"
else
  fail "kalvex.exe did not end after the countdown"
fi

grep -qF "bootp: reply yiaddr=$KVX_BOARD_ADDRESS siaddr=$KVX_PC_ADDRESS file=flash.bin" \
  "$DIR/board.log" 2>/dev/null || fail "no BOOTP reply with the expected fields"
grep -qx "bootp: vendor=$(kvx_expected_vendor "$IMAGE_BYTES")" "$DIR/board.log" 2>/dev/null ||
  fail "the vendor area differs"
cmp -s "$DIR/$KVX_PRODUCT.bin" "$DIR/board.bin" || fail "the board's image differs from the product's"
grep -qF "arp -s $KVX_BOARD_ADDRESS 02-1A-2B-3C-4D-5E: Wine cannot change the neighbour table" \
  "$DIR/kalvex.err" || fail "kalvex.exe did not report that Wine refused the neighbour entry"

if [ ${#failures[@]} -eq 0 ]; then
  echo "PASS wine whole flash"
  exit 0
fi
echo "FAIL wine whole flash"
printf '    %s\n' "${failures[@]}"
for log in board.log kalvex.err kalvex.out; do
  echo "    --- $log (last lines)"
  tail -n 15 "$DIR/$log" 2>/dev/null | sed 's/^/    /'
done
exit 1
