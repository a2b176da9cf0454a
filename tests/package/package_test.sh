#!/usr/bin/env bash
# The Debian package as a user meets it: built with cpack from a build tree and installed for
# real with dpkg; the program's capabilities, the menu entry, the manual page and the icons
# checked; the menu entry's command run as an unprivileged user, with no capabilities but the
# installed program's own, to a whole flash of the simulated board between two network
# namespaces; then the package purged, and nothing of it may be left.
# Usage: package_test.sh BUILD_DIR SIM_BOARD. Exit 0 passed, 1 failed, 77 skipped (the reason
# printed), for CTest's SKIP_RETURN_CODE.
set -u

BUILD=${1:?build tree}
SIM_BOARD=${2:?sim_board program}
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../e2e/flash_lib.sh
. "$HERE/../e2e/flash_lib.sh"

PROGRAM=/usr/bin/kalvex
DESKTOP_ENTRY=/usr/share/applications/kalvex.desktop
MANUAL=/usr/share/man/man1/kalvex.1.gz
EXAMPLE=/usr/share/kalvex/kalvex.ini
USER_ID=nobody
GROUP_ID=nogroup
IMAGE_BYTES=$((512 * 1024 + 100))

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

reason=$(kvx_bench_unavailable)
if [ -n "$reason" ]; then
  echo "SKIPPED: $reason"
  exit 77
fi
for tool in cpack dpkg-deb setpriv getcap desktop-file-validate man identify; do
  command -v "$tool" >/dev/null || {
    echo "FAILED: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 1
  }
done
# One package run at a time on this machine, and never over a kalvex installed by someone else.
exec {dpkg_lock}</var/lib/dpkg
flock -w 600 "$dpkg_lock" || {
  echo "FAILED: another package test held the lock for ten minutes"
  exit 1
}
package_state() { dpkg-query -W -f='${db:Status-Status}' kalvex 2>/dev/null; }
if package_state | grep -qv not-installed; then
  echo "SKIPPED: a kalvex package is installed here already; this test installs and purges its own"
  exit 77
fi

WORK=$(mktemp -d /tmp/kalvex-package.XXXXXX)
chmod 755 "$WORK"
PC_NS=kvxpkg$$-pc
BOARD_NS=kvxpkg$$-bd
installed=0
cleanup() {
  [ -n "${KVX_KALVEX_PID:-}" ] && kill "$KVX_KALVEX_PID" 2>/dev/null
  [ "$installed" = 1 ] && dpkg --purge kalvex >/dev/null 2>&1
  kvx_link_down "$PC_NS" "$BOARD_NS"
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# ---- the package ------------------------------------------------------------------------------

build_package() {
  cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/cpack" >"$WORK/cpack.log" 2>&1 || {
    cat "$WORK/cpack.log"
    return 1
  }
  DEB=$(find "$WORK/cpack" -maxdepth 1 -name '*.deb')
  local version
  version=$(dpkg-deb -f "$DEB" Version)
  [ "$(basename "$DEB")" = "kalvex_${version}_amd64.deb" ] ||
    fail "the package is called $(basename "$DEB"), not kalvex_${version}_amd64.deb"
}

# The package's paths, and which of them the machine had before (directories such as /usr/bin).
record_paths_before() {
  dpkg-deb -c "$DEB" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^/\?$' >"$WORK/paths"
  local path
  while read -r path; do
    [ -e "$path" ] || continue
    echo "$path" >>"$WORK/existed"
    [ -d "$path" ] || fail "installing would replace $path, which is already there"
  done <"$WORK/paths"
  touch "$WORK/existed"
}

install_package() {
  installed=1
  dpkg -i "$DEB" >"$WORK/dpkg.log" 2>&1 || {
    cat "$WORK/dpkg.log"
    return 1
  }
  ! grep -q "could not give" "$WORK/dpkg.log" || fail "the postinst could not set the capabilities"
}

# ---- what is installed ------------------------------------------------------------------------

check_capabilities() {
  local caps
  caps=$(getcap "$PROGRAM")
  [ "$caps" = "$PROGRAM cap_net_bind_service,cap_net_admin=ep" ] ||
    fail "$PROGRAM's capabilities are \"$caps\""
}

desktop_value() { sed -n "s/^$1=//p" "$DESKTOP_ENTRY"; }

check_desktop_entry() {
  desktop-file-validate "$DESKTOP_ENTRY" || fail "desktop-file-validate rejects $DESKTOP_ENTRY"
  local exec_line icon
  exec_line=$(desktop_value Exec)
  [ -x "$exec_line" ] || fail "the menu entry's Exec=$exec_line is not an installed program"
  icon=$(desktop_value Icon)
  [ "$icon" = kalvex ] || fail "the menu entry's icon is $icon, not the theme's kalvex"
}

check_icons() {
  local size file
  for size in 16 32 48 256; do
    file=/usr/share/icons/hicolor/${size}x${size}/apps/kalvex.png
    [ "$(identify -format '%m %wx%h' "$file" 2>&1)" = "PNG ${size}x${size}" ] ||
      fail "$file is not a ${size}x${size} PNG: $(identify "$file" 2>&1)"
  done
}

check_manual() {
  man --warnings -l "$MANUAL" >"$WORK/manual.txt" 2>"$WORK/manual.err" ||
    fail "man cannot show $MANUAL: $(cat "$WORK/manual.err")"
  [ ! -s "$WORK/manual.err" ] || fail "the manual page has troff warnings: $(cat "$WORK/manual.err")"
  grep -q "EXIT STATUS" "$WORK/manual.txt" || fail "the manual page has no EXIT STATUS"
  ! grep -q "@KALVEX" "$WORK/manual.txt" || fail "the manual page has unfilled paths"
  grep -qF "$EXAMPLE" "$WORK/manual.txt" || fail "the manual page does not name $EXAMPLE"
}

# ---- the menu entry's command, as a user --------------------------------------------------------

# as_user HOME COMMAND...: the command as the unprivileged user, with no capability of its own to
# hand on, inside the PC's namespace; what it gets beyond that is the installed program's.
write_as_user() {
  cat >"$WORK/as-user" <<SCRIPT
#!/bin/sh
exec setpriv --reuid=$USER_ID --regid=$GROUP_ID --clear-groups --inh-caps=-all \\
  env HOME="\$KALVEX_HOME" $(desktop_value Exec)
SCRIPT
  chmod 755 "$WORK/as-user"
}

new_home() {
  mkdir -p "$1"
  chown "$USER_ID:$GROUP_ID" "$1"
}

# The first start from the menu makes ~/Kalvex with the example host table; closing the first
# dialog (the end of input) ends the program with 0.
check_first_start() {
  local home=$WORK/first-home status=0
  new_home "$home"
  KALVEX_HOME=$home timeout 30 env -u DISPLAY -u WAYLAND_DISPLAY ip netns exec "$PC_NS" \
    "$WORK/as-user" </dev/null >"$WORK/first.log" 2>&1 || status=$?
  [ "$status" = 0 ] || fail "the first start from the menu ended with $status: $(tail -5 "$WORK/first.log")"
  cmp -s "$EXAMPLE" "$home/Kalvex/kalvex.ini" || fail "the first start did not put the example in ~/Kalvex"
}

kalvex_ended() { ! kill -0 "$KVX_KALVEX_PID"; }

check_runs_as_user() {
  local status=/proc/$KVX_KALVEX_PID/status
  grep -q "^Uid:[[:space:]]*$(id -u "$USER_ID")[[:space:]]" "$status" ||
    fail "kalvex does not run as $USER_ID: $(grep Uid "$status")"
  # CAP_NET_BIND_SERVICE (10) and CAP_NET_ADMIN (12), nothing else.
  grep -q "^CapEff:[[:space:]]*0000000000001400$" "$status" ||
    fail "kalvex's effective capabilities are not exactly the two: $(grep CapEff "$status")"
}

# A user's own kalvex.ini is kept; the flash runs in ~/Kalvex from the menu entry's command.
flash_from_menu() {
  local home=$WORK/home folder=$WORK/home/Kalvex
  new_home "$home"
  kvx_write_bench "$folder" "$IMAGE_BYTES" "$KVX_BOARD_MAC"
  cp "$folder/kalvex.ini" "$WORK/bench.ini"
  chown -R "$USER_ID:$GROUP_ID" "$folder"
  export KALVEX_HOME=$home
  kvx_start_kalvex "$PC_NS" "$folder" "$WORK/as-user"
  if ! kvx_confirm_product_and_address "$folder/console.log"; then
    fail "kalvex did not get to \"Server is ready ...\": $(cat "$folder/kalvex.err")"
    kill "$KVX_KALVEX_PID" 2>/dev/null
    return
  fi
  check_runs_as_user
  if ! ip netns exec "$BOARD_NS" "$SIM_BOARD" --interface "$KVX_BOARD_LINK" --output "$WORK/board.bin" \
    --bootp-give-up-ms 60000 --tftp-timeout-ms 2000 --tftp-resends 3 --max-restarts 5 \
    >"$WORK/board.log" 2>&1; then
    fail "the board failed: $(tail -3 "$WORK/board.log"); kalvex: $(tail -3 "$folder/console.log")"
    kill "$KVX_KALVEX_PID"
    return
  fi
  if kvx_until 150 kalvex_ended; then
    local status=0
    wait "$KVX_KALVEX_PID" || status=$?
    KVX_KALVEX_PID=
    [ "$status" = 0 ] || fail "kalvex ended with $status: $(cat "$folder/kalvex.err")"
  else
    kill "$KVX_KALVEX_PID"
    fail "kalvex was still running 150 s after the board's flash"
  fi
  cmp -s "$folder/$KVX_PRODUCT.bin" "$WORK/board.bin" || fail "the board's image differs from the product's"
  cmp -s "$WORK/bench.ini" "$folder/kalvex.ini" || fail "the menu entry replaced the user's kalvex.ini"
  ! ip -n "$PC_NS" neigh show "$KVX_BOARD_ADDRESS" | grep -q PERMANENT ||
    fail "the board's neighbour entry is left after kalvex ended"
}

# ---- removal ----------------------------------------------------------------------------------

purge_and_check_nothing_left() {
  dpkg -L kalvex >"$WORK/listed"
  dpkg --purge kalvex >"$WORK/purge.log" 2>&1 || fail "dpkg --purge failed: $(cat "$WORK/purge.log")"
  installed=0
  local path
  while read -r path; do
    [ "$path" = /. ] && continue
    grep -qxF "$path" "$WORK/existed" && continue
    [ ! -e "$path" ] || fail "$path is left after the purge"
  done <"$WORK/listed"
  ! package_state | grep -qv not-installed || fail "dpkg still lists kalvex: $(package_state)"
  ! getcap -r /usr/bin /usr/libexec 2>/dev/null | grep -q kalvex ||
    fail "a kalvex program with capabilities is left"
}

# ---- the run ----------------------------------------------------------------------------------

build_package || {
  echo "FAILED: cpack could not build the package"
  exit 1
}
record_paths_before
install_package || {
  echo "FAILED: dpkg could not install $(basename "$DEB")"
  exit 1
}
check_capabilities
check_desktop_entry
check_icons
check_manual
if kvx_link_up "$PC_NS" "$BOARD_NS" "$KVX_BOARD_MAC" >"$WORK/link.log" 2>&1; then
  write_as_user
  check_first_start
  flash_from_menu
else
  fail "could not build the link: $(cat "$WORK/link.log")"
fi
purge_and_check_nothing_left

if [ "$failures" -eq 0 ]; then
  echo "package: built, installed, flashed as $USER_ID from the menu entry, purged without a trace"
fi
[ "$failures" -eq 0 ]
