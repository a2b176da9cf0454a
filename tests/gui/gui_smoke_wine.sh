#!/usr/bin/env bash
# GUI smoke test of the Windows build: the real kalvex.exe under Wine on a private Xvfb
# display, driven with synthetic key presses and pointer moves (xdotool). It takes a
# screenshot of every dialog (kept as artefacts, not compared pixel by pixel), checks the
# windows' titles, icon and client sizes, a few pixels, and that the program ends cleanly.
#
# Part one runs in this machine's own network namespace and never confirms an address, so no
# server starts: product dialog, picture dialog (dragged), confirmation, main dialog. Part two
# confirms 127.0.0.1 inside a network namespace of its own (unshare -n, loopback only), where
# the servers' ports 67 and 69 are harmless, and fetches the image with curl to move the
# progress bar. Part three, in another namespace, finds the BOOTP port taken, so that the
# BOOTP thread's fatal message box shows over the running main dialog. Wine keeps sockets in
# its server's namespace, so the prefix's server is ended between the parts and started
# again inside each new namespace.
#
# Usage: gui_smoke_wine.sh KALVEX_EXE WINE_RUN PREFIX ARTEFACT_DIRECTORY
# Exit codes: 0 passed (and "PASS gui smoke wine" printed), 1 failed, 77 skipped.
set -u

KALVEX=$(readlink -f "${1:?kalvex.exe}")
WINE_RUN=$(readlink -f "${2:?cmake/wine-run.sh}")
PREFIX=$(readlink -m "${3:?a Wine prefix for this test alone}")
mkdir -p "${4:?artefact directory}"
ARTEFACTS=$(readlink -f "$4")
readonly SKIP=77
readonly WAIT_STEPS=300 # polls 0.1 s apart: the bound on every wait for a condition
# shellcheck source=window_lib.sh
. "$(dirname "$0")/window_lib.sh"

failures=0
not_run= # why a part could not run here
xvfb_pid=
kalvex_pid=
work=

fail() {
  failures=$((failures + 1))
  echo "FAIL: $* (screen in failure-$failures.png)" >&2
  import -window root "$ARTEFACTS/failure-$failures.png" 2>/dev/null
  local window
  for window in $(windows); do echo "    window $window \"$(title_of "$window")\" $(size_of "$window")"; done
}
note() { echo "-- $*"; }
skip() {
  echo "SKIPPED: $*"
  exit $SKIP
}

cleanup() {
  [ -n "$kalvex_pid" ] && kill "$kalvex_pid" 2>/dev/null
  [ -d "$PREFIX" ] && stop_wine
  # Waited for, so that its display number is free again when the next test starts one.
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for tool in wine wineserver Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
done
[ -f "$KALVEX" ] || { echo "FAILED: $KALVEX is not built"; exit 1; }

work=$(mktemp -d /tmp/kalvex-gui-wine.XXXXXX)

start_xvfb || skip "Xvfb cannot start here"

# ---- helpers ----

# Visible windows of the program (Wine names their class after the program file), oldest first.
windows() { xdotool search --onlyvisible --classname '^kalvex\.exe$' 2>/dev/null; }

# Wine takes the X focus alone as no activation (it waits for a window manager's word, and
# Xvfb has none), so a window that came up inactive is activated by a click on its margin,
# where the dialogs and boxes have no control.
activate() {
  focus "$1"
  xdotool mousemove --sync --window "$1" 6 6 click 1
}
title_of() { xdotool getwindowname "$1"; }

shoot() { # window, name
  rm -f "$ARTEFACTS/$2.png"
  poll captured_still "$1" "$ARTEFACTS/$2.png" || fail "no still screenshot of $2"
  import -window root "$ARTEFACTS/$2-screen.png" 2>/dev/null
}

readonly PICTURE=1E90FF

# ---- part one: product, picture, confirmation and main dialog, ended with Escape ----

part_one() {
  local dir=$work/one product picture box main before
  mkdir -p "$dir"
  printf 'X10: first board\nX20: second board\n' >"$dir/product.ini"
  head -c 5000 /dev/urandom >"$dir/X10.bin"
  head -c 7000 /dev/urandom >"$dir/X20.bin"
  convert -size 120x80 "xc:#$PICTURE" BMP3:"$dir/X20.bmp"

  (cd "$dir" && exec "$WINE_RUN" "$PREFIX" "$KALVEX") </dev/null >"$ARTEFACTS/part-one.log" 2>&1 &
  kalvex_pid=$!

  product=$(wait_windows 1) || { fail "the product dialog did not appear"; return; }
  # Sizes from the templates with base units of 6 x 13, which Wine's "MS Sans Serif"
  # (fonts-wine) gives. Xvfb has no window manager: the captions are not drawn, so a window
  # is its client area and its border.
  [ "$(title_of "$product")" = "Kalvex" ] || fail "the product dialog's title is $(title_of "$product")"
  [ "$(size_of "$product")" = 353x203 ] || fail "the product dialog is $(size_of "$product"), not 353x203"
  xprop -id "$product" _NET_WM_ICON 2>/dev/null | grep -q "Icon (32 x 32)" ||
    fail "the product dialog carries no 32 x 32 application icon"
  shoot "$product" product-dialog

  # The second radio button (rows 25 pixels apart from 40) takes the choice; "View
  # Picture ..." (46,99 60x14 units) then opens the picture of the product now checked.
  xdotool mousemove --sync --window "$product" 40 75 click 1
  xdotool mousemove --sync --window "$product" 105 172 click 1
  picture=$(wait_windows 2) || { fail "the picture dialog did not appear"; return; }
  # 374x265 of client area inside a one-pixel border.
  [ "$(size_of "$picture")" = 376x267 ] || fail "the picture dialog is $(size_of "$picture")"
  shoot "$picture" picture-dialog
  expect_pixel "the stretched picture" "$ARTEFACTS/picture-dialog.png" 188 133 $PICTURE
  expect_pixel "the picture's far corner" "$ARTEFACTS/picture-dialog.png" 372 263 $PICTURE
  # The label (7,7 48x8 units) has no background box: past its text the picture shows.
  expect_pixel "behind the label" "$ARTEFACTS/picture-dialog.png" 60 15 $PICTURE

  # A press anywhere starts a move; the pointer then goes on, a step at a time, as a user's
  # does, until the window follows (the move starts once the press is handled).
  before=$(position_of "$picture")
  xdotool mousemove --sync --window "$picture" 150 100
  xdotool mousedown 1
  drag_step() {
    xdotool mousemove_relative --sync 4 3
    [ "$(position_of "$picture")" != "$before" ]
  }
  poll drag_step || fail "dragging the picture did not move it ($before)"
  xdotool mouseup 1
  note "picture dragged from $before to $(position_of "$picture")"

  focus "$picture"
  xdotool key Escape
  wait_windows 1 >/dev/null || fail "Escape did not close the picture dialog"

  activate "$product"
  xdotool key Return
  box=$(wait_windows 2) || { fail "OK did not ask for confirmation"; return; }
  [ "$(title_of "$box")" = "kalvex" ] || fail "the message box is titled $(title_of "$box")"
  shoot "$box" confirmation-box
  activate "$box"
  xdotool key Return

  main=$(wait_windows 1 "$product") || { fail "the main dialog did not follow"; return; }
  cmp -s "$dir/X20.bin" "$dir/flash.bin" || fail "flash.bin is not the chosen product's image"
  [ "$(title_of "$main")" = "Kalvex" ] || fail "the main dialog's title is $(title_of "$main")"
  [ "$(size_of "$main")" = 353x158 ] || fail "the main dialog is $(size_of "$main"), not 353x158"
  shoot "$main" main-dialog

  # Typed text replaces the selected address and reaches the dialog: more than 32 characters
  # are refused with the framework's message, before any server could start.
  activate "$main"
  xdotool key Home shift+End # the address field has the focus; typing replaces its text
  xdotool type --delay 10 1234567890.1234567890.1234567890.12
  xdotool key Return
  box=$(wait_windows 2) || { fail "a 35-character address was not refused"; return; }
  [ "$(title_of "$box")" = "kalvex" ] || fail "the length message is titled $(title_of "$box")"
  shoot "$box" length-box
  activate "$box"
  xdotool key Return
  wait_windows 1 "$box" >/dev/null || fail "the length message did not close"

  activate "$main"
  xdotool key Escape
  expect_exit 0
}

# ---- part two: inside a network namespace, OK starts the servers, curl moves the bar ----

part_two() {
  local dir=$work/two box main netns_pid empty bar
  mkdir -p "$dir"
  head -c 400000 /dev/urandom >"$dir/flash.bin"
  if ! unshare -n true 2>/dev/null || ! command -v nsenter >/dev/null || ! command -v curl >/dev/null; then
    not_run="part two needs a network namespace (root), nsenter and curl"
    return
  fi
  cat >"$dir/inner.sh" <<'INNER'
#!/usr/bin/env bash
# Inside the new network namespace: loopback up, then the program under Wine, whose server
# starts here.
set -u
ip link set lo up || exit 3
cd "$1"
exec "$2" "$3" "$4"
INNER
  chmod +x "$dir/inner.sh"
  stop_wine # its server holds the sockets: it must start inside the namespace
  unshare -n "$dir/inner.sh" "$dir" "$WINE_RUN" "$PREFIX" "$KALVEX" </dev/null \
    >"$ARTEFACTS/part-two.log" 2>&1 &
  kalvex_pid=$!
  netns_pid=$kalvex_pid

  # Without product.ini the DHCP/BOOTP/TFTP warning comes before the main dialog.
  box=$(wait_windows 1) || { fail "the warning box did not appear"; return; }
  [ "$(title_of "$box")" = "kalvex" ] || fail "the warning box is titled $(title_of "$box")"
  shoot "$box" warning-box
  activate "$box"
  xdotool key Return
  main=$(wait_windows 1 "$box") || { fail "the main dialog did not appear"; return; }
  shoot "$main" main-before-ok

  activate "$main"
  xdotool key Home shift+End # the address field has the focus; typing replaces its text
  xdotool type --delay 20 127.0.0.1
  xdotool key Return
  tftp_listens() {
    nsenter --net=/proc/"$netns_pid"/ns/net ss -Hlun 'sport = :69' 2>/dev/null | grep -q .
  }
  poll tftp_listens || { fail "the TFTP server does not listen after OK"; return; }
  shoot "$main" main-after-ok
  # The progress bar (17,62 200x15 units) now replaces OK, still empty.
  empty=$(pixel "$ARTEFACTS/main-after-ok.png" 40 112)
  [ "$empty" != "$(pixel "$ARTEFACTS/main-before-ok.png" 40 112)" ] ||
    fail "the progress bar did not appear in OK's place"

  nsenter --net=/proc/"$netns_pid"/ns/net curl -s -o "$work/fetched.bin" \
    tftp://127.0.0.1/flash.bin || fail "curl could not fetch flash.bin in the namespace"
  cmp -s "$work/fetched.bin" "$dir/flash.bin" || fail "the fetched image differs"
  # The bar follows the bytes sent on the next tick: full, until the countdown empties it.
  bar_filled() {
    import -window "$main" "$work/bar.png" 2>/dev/null || return 1
    bar=$(pixel "$work/bar.png" 40 112)
    [ -n "$bar" ] && [ "$bar" != "$empty" ]
  }
  poll bar_filled || fail "the progress bar did not fill after the transfer"
  note "progress bar colour $bar over $empty"
  shoot "$main" main-progress

  activate "$main"
  xdotool key Escape
  expect_exit 0
}

# ---- part three: a message box asked for by the BOOTP thread over the running dialog ----

part_three() {
  local dir=$work/three box main
  mkdir -p "$dir"
  head -c 1000 /dev/urandom >"$dir/flash.bin"
  if ! unshare -n true 2>/dev/null || ! command -v python3 >/dev/null; then
    not_run="part three needs a network namespace (root) and python3 to hold port 67"
    return
  fi
  cat >"$dir/inner.sh" <<'INNER'
#!/usr/bin/env bash
# Inside the namespace: something else holds the BOOTP port before the program starts.
set -u
ip link set lo up || exit 3
held=$1/port-held
python3 -c 'import signal, socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("0.0.0.0", 67))
open(sys.argv[1], "w").close(); signal.pause()' "$held" &
holder=$!
for _ in $(seq 300); do [ -e "$held" ] && break; sleep 0.1; done
[ -e "$held" ] || exit 4
cd "$1"
"$2" "$3" "$4"
code=$?
kill $holder
exit $code
INNER
  chmod +x "$dir/inner.sh"
  stop_wine
  unshare -n "$dir/inner.sh" "$dir" "$WINE_RUN" "$PREFIX" "$KALVEX" </dev/null \
    >"$ARTEFACTS/part-three.log" 2>&1 &
  kalvex_pid=$!

  box=$(wait_windows 1) || { fail "part three: the warning box did not appear"; return; }
  activate "$box"
  xdotool key Return
  main=$(wait_windows 1 "$box") || { fail "part three: the main dialog did not appear"; return; }
  activate "$main"
  xdotool key Home shift+End
  xdotool type --delay 20 127.0.0.1
  xdotool key Return
  box=$(wait_windows 2) || { fail "the BOOTP thread's message box did not appear"; return; }
  [ "$(title_of "$box")" = "kalvex" ] || fail "the BOOTP message box is titled $(title_of "$box")"
  shoot "$box" bootp-fatal-box
  activate "$box"
  xdotool key Return
  expect_exit 1 # the fatal box ends the program once it is answered
}

stop_wine # a server left from another run may hold another display
part_one
[ -n "$kalvex_pid" ] && kill "$kalvex_pid" 2>/dev/null && kalvex_pid=
part_two
[ -n "$kalvex_pid" ] && kill "$kalvex_pid" 2>/dev/null && kalvex_pid=
part_three

if [ $failures -ne 0 ]; then
  echo "FAIL gui smoke wine: $failures check(s) failed; screenshots in $ARTEFACTS"
  exit 1
fi
if [ -n "$not_run" ]; then
  echo "SKIPPED: $not_run (what could run passed; screenshots in $ARTEFACTS)"
  exit $SKIP
fi
echo "PASS gui smoke wine; screenshots in $ARTEFACTS"
