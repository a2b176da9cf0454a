#!/usr/bin/env bash
# GUI smoke test: the real kalvex program on a private Xvfb display, driven with synthetic
# key presses and pointer moves (xdotool). It takes a screenshot of every dialog (kept as
# artefacts, not compared pixel by pixel), checks window sizes and a few control edges
# against the templates, and checks that the program ends cleanly.
#
# Part one runs in this machine's own network namespace and never confirms an address, so
# no server starts. Part two confirms one inside a network namespace of its own (unshare -n,
# loopback only), where the servers' ports 67 and 69 are harmless, and fetches the image
# with curl to move the progress bar. Part three, in another namespace, finds the BOOTP port
# taken, so that the BOOTP thread's fatal message box shows over the running main dialog.
#
# Usage: gui_smoke_test.sh <kalvex program> <artefact directory>
# Exit codes: 0 passed, 1 failed, 77 skipped (no Xvfb, xdotool or ImageMagick).
set -u

readonly KALVEX=$(readlink -f "$1")
mkdir -p "$2"
readonly ARTEFACTS=$(readlink -f "$2")
readonly SKIP=77
readonly WAIT_STEPS=100  # polls 0.1 s apart: the bound on every wait for a condition
# shellcheck source=window_lib.sh
. "$(dirname "$0")/window_lib.sh"

failures=0
xvfb_pid=
kalvex_pid=
work=

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
note() { echo "-- $*"; }

cleanup() {
  [ -n "$kalvex_pid" ] && kill "$kalvex_pid" 2>/dev/null
  # Waited for, so that its display number is free again when the next test starts one.
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT

for tool in Xvfb xdotool import convert; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps.sh installs it)"
    exit $SKIP
  fi
done

if ! start_xvfb; then
  echo "SKIPPED: Xvfb cannot start here"
  exit $SKIP
fi

mkdir -p "$ARTEFACTS"
work=$(mktemp -d)

# ---- helpers ----

# Visible windows of the program, oldest first.
windows() { xdotool search --onlyvisible --class kalvex 2>/dev/null; }

shoot() {  # window, name
  rm -f "$ARTEFACTS/$2.png"
  poll captured_still "$1" "$ARTEFACTS/$2.png" || fail "no still screenshot of $2"
}

expect_not_pixel() {
  local got
  got=$(pixel "$2" "$3" "$4")
  [ "$got" != "$5" ] || fail "$1: pixel $3,$4 of $(basename "$2") should not be $5"
}

expect_size() {  # what, window, WxH
  local got
  got=$(size_of "$2")
  [ "$got" = "$3" ] || fail "$1 is $got pixels, the template gives $3"
}

# The templates' pixel sizes hold for the dialog font's base units of 6 x 13, which the
# preferred font (Liberation Sans) gives; with another font only the drawing is checked.
exact_sizes=0
if fc-list 2>/dev/null | grep -q "Liberation Sans"; then exact_sizes=1; fi
[ $exact_sizes = 1 ] || note "Liberation Sans is missing: window sizes are not compared"

readonly BACKGROUND=F0F0F0
readonly BLACK=000000
readonly PICTURE=1E90FF
readonly PROGRESS=000080

# ---- part one: product, picture, confirmation and main dialog, ended with Escape ----

part_one() {
  local dir=$work/one product picture box main before after
  mkdir -p "$dir"
  printf 'X10: first board\nX20: second board\n' >"$dir/product.ini"
  head -c 5000 /dev/urandom >"$dir/X10.bin"
  head -c 7000 /dev/urandom >"$dir/X20.bin"
  convert -size 120x80 "xc:#$PICTURE" BMP3:"$dir/X20.bmp"

  (cd "$dir" && exec "$KALVEX") >"$ARTEFACTS/part-one.log" 2>&1 &
  kalvex_pid=$!

  product=$(wait_windows 1) || { fail "the product dialog did not appear"; return; }
  [ "$(xdotool getwindowname "$product")" = "Kalvex" ] || fail "the product dialog's title"
  [ $exact_sizes = 1 ] && expect_size "the product dialog" "$product" 353x203
  shoot "$product" product-dialog
  # OK (138,99 50x14 units) is the default button: a black frame at its left edge.
  expect_pixel "OK's default frame" "$ARTEFACTS/product-dialog.png" 207 172 $BLACK
  expect_pixel "left of OK" "$ARTEFACTS/product-dialog.png" 205 172 $BACKGROUND
  # The group box (7,7 221x86 units): its etched top edge runs at half a text line.
  expect_not_pixel "the group box's top edge" "$ARTEFACTS/product-dialog.png" 200 17 $BACKGROUND

  # The second radio button (rows 25 pixels apart from 40) takes the choice; "View
  # Picture ..." (46,99 60x14 units) then opens the picture of the product now checked.
  xdotool mousemove --sync --window "$product" 40 75 click 1
  xdotool mousemove --sync --window "$product" 105 172 click 1
  picture=$(wait_windows 2) || { fail "the picture dialog did not appear"; return; }
  [ $exact_sizes = 1 ] && expect_size "the picture dialog" "$picture" 374x265
  shoot "$picture" picture-dialog
  expect_pixel "the stretched picture" "$ARTEFACTS/picture-dialog.png" 187 132 $PICTURE
  expect_pixel "the picture's far corner" "$ARTEFACTS/picture-dialog.png" 370 261 $PICTURE
  # The label (7,7 48x8 units) has no background box: past its text the picture shows.
  expect_pixel "behind the label" "$ARTEFACTS/picture-dialog.png" 80 14 $PICTURE

  before=$(position_of "$picture")
  # Each pointer move waits until the pointer is there; the window follows in its own time.
  xdotool mousemove --sync --window "$picture" 150 100
  xdotool mousedown 1
  xdotool mousemove_relative --sync 20 15
  xdotool mousemove_relative --sync 20 15
  xdotool mouseup 1
  moved() { [ "$(position_of "$picture")" != "$before" ]; }
  poll moved || fail "dragging the picture did not move it ($before)"
  note "picture dragged from $before to $(position_of "$picture")"

  focus "$picture"
  xdotool key Escape
  wait_windows 1 >/dev/null || fail "Escape did not close the picture dialog"

  # Enter presses the default button even with the pointer resting on another button.
  xdotool mousemove --window "$product" 105 172
  focus "$product"
  xdotool key Return
  box=$(wait_windows 2) || { fail "OK did not ask for confirmation"; return; }
  [ "$(xdotool getwindowname "$box")" = "kalvex" ] || fail "the message box is not titled kalvex"
  shoot "$box" confirmation-box
  focus "$box"
  xdotool key Return

  main=$(wait_windows 1 "$product") || { fail "the main dialog did not follow"; return; }
  cmp -s "$dir/X20.bin" "$dir/flash.bin" || fail "flash.bin is not the chosen product's image"
  [ $exact_sizes = 1 ] && expect_size "the main dialog" "$main" 353x158
  xprop -id "$main" _NET_WM_ICON 2>/dev/null | grep -q -E "Icon \(32 x 32\)|= 32, 32," ||
    fail "the main dialog carries no 32 x 32 application icon"
  shoot "$main" main-dialog
  # OK (92,71 50x14 units): the default button's frame.
  expect_pixel "main OK's default frame" "$ARTEFACTS/main-dialog.png" 138 126 $BLACK

  focus "$main"
  xdotool key Escape
  expect_exit 0
}

# ---- part two: inside a network namespace, OK starts the servers, curl moves the bar ----

part_two() {
  local dir=$work/two
  mkdir -p "$dir"
  head -c 400000 /dev/urandom >"$dir/flash.bin"
  cat >"$dir/inner.sh" <<'INNER'
#!/usr/bin/env bash
# Runs inside the new network namespace: loopback up, the program started, its windows driven.
set -u
ip link set lo up || exit 3
cd "$1"
exec "$2"
INNER
  chmod +x "$dir/inner.sh"
  if ! unshare -n true 2>/dev/null; then
    note "SKIPPED part two: no network namespace can be created here (needs root)"
    return
  fi
  unshare -n "$dir/inner.sh" "$dir" "$KALVEX" >"$ARTEFACTS/part-two.log" 2>&1 &
  kalvex_pid=$!
  local netns_pid=$kalvex_pid

  # Without product.ini the DHCP/BOOTP/TFTP warning comes before the main dialog.
  local box main
  box=$(wait_windows 1) || { fail "the warning box did not appear"; return; }
  [ "$(xdotool getwindowname "$box")" = "kalvex" ] || fail "the warning box is not titled kalvex"
  shoot "$box" warning-box
  focus "$box"
  xdotool key Return
  main=$(wait_windows 1 "$box") || { fail "the main dialog did not appear"; return; }

  focus "$main"
  # The namespace has only loopback, so the list is empty: type the address.
  xdotool type --delay 20 127.0.0.1
  xdotool key Return
  # The TFTP server listens once OK has run; on a busy machine that can take a while.
  tftp_listens() {
    nsenter --net=/proc/"$netns_pid"/ns/net ss -Hlun 'sport = :69' 2>/dev/null | grep -q .
  }
  poll tftp_listens || fail "the TFTP server does not listen after OK"
  shoot "$main" main-after-ok
  # The progress bar (17,62 200x15 units) replaces OK: its border, and no OK frame.
  expect_pixel "the progress bar's border" "$ARTEFACTS/main-after-ok.png" 26 112 $BLACK
  expect_not_pixel "the hidden OK button" "$ARTEFACTS/main-after-ok.png" 138 126 $BLACK

  if command -v curl >/dev/null && command -v nsenter >/dev/null; then
    nsenter --net=/proc/"$netns_pid"/ns/net curl -s -o "$work/fetched.bin" \
      tftp://127.0.0.1/flash.bin || fail "curl could not fetch flash.bin in the namespace"
    cmp -s "$work/fetched.bin" "$dir/flash.bin" || fail "the fetched image differs"
    # The bar follows the bytes sent on the next tick: full, until the countdown empties it.
    bar_filled() {
      import -window "$main" "$work/bar.png" 2>/dev/null &&
        [ "$(pixel "$work/bar.png" 40 112)" = "$PROGRESS" ]
    }
    poll bar_filled || fail "the progress bar did not fill after the transfer"
    shoot "$main" main-progress
  else
    note "curl or nsenter missing: no transfer for the progress bar"
  fi

  focus "$main"
  xdotool key Escape
  expect_exit 0
}

# ---- part three: a message box asked for by the BOOTP thread over the running dialog ----

part_three() {
  local dir=$work/three box
  mkdir -p "$dir"
  head -c 1000 /dev/urandom >"$dir/flash.bin"
  if ! unshare -n true 2>/dev/null || ! command -v python3 >/dev/null; then
    note "SKIPPED part three: needs a network namespace and python3 to hold port 67"
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
# Kalvex starts only once the port is really held, however slowly python starts on a busy
# machine; otherwise Kalvex could bind it first and no message box would come.
for _ in $(seq 300); do [ -e "$held" ] && break; sleep 0.1; done
[ -e "$held" ] || exit 4
cd "$1"
"$2"
code=$?
kill $holder
exit $code
INNER
  chmod +x "$dir/inner.sh"
  unshare -n "$dir/inner.sh" "$dir" "$KALVEX" >"$ARTEFACTS/part-three.log" 2>&1 &
  kalvex_pid=$!

  box=$(wait_windows 1) || { fail "part three: the warning box did not appear"; return; }
  focus "$box"
  xdotool key Return
  local main
  main=$(wait_windows 1 "$box") || { fail "part three: the main dialog did not appear"; return; }
  focus "$main"
  xdotool type --delay 20 127.0.0.1
  xdotool key Return
  box=$(wait_windows 2) || { fail "the BOOTP thread's message box did not appear"; return; }
  [ "$(xdotool getwindowname "$box")" = "kalvex" ] || fail "the BOOTP message box's title"
  shoot "$box" bootp-fatal-box
  focus "$box"
  xdotool key Return
  expect_exit 1  # the fatal box ends the program once it is answered
}

part_one
[ -n "$kalvex_pid" ] && kill "$kalvex_pid" 2>/dev/null && kalvex_pid=
part_two
[ -n "$kalvex_pid" ] && kill "$kalvex_pid" 2>/dev/null && kalvex_pid=
part_three

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed; screenshots in $ARTEFACTS"
  exit 1
fi
echo "passed; screenshots in $ARTEFACTS"
