# What the scripts that drive Kalvex's windows on a private Xvfb share (sourced, not run):
# the display, bounded waits for windows, screenshots and pixels, the program's end. The
# caller sets WAIT_STEPS (polls 0.1 s apart) and defines windows (the program's visible
# windows, oldest first) and fail; kalvex_pid is the program's process, xvfb_pid the display's.

# Starts Xvfb on a free display and exports DISPLAY; fails when it does not come up.
start_xvfb() {
  local fifo display
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  # -noreset: Xvfb otherwise resets when its last client leaves, and refuses a client (the
  # program, which then falls back to the console) that connects just then.
  Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1024x768x24 3>"$fifo" </dev/null >/dev/null 2>&1 &
  xvfb_pid=$!
  read -r -t 10 display <"$fifo"
  rm -f "$fifo"
  [ -n "$display" ] || return 1
  export DISPLAY=":$display"
}

# Ends the Wine server of $PREFIX and every program it keeps, and waits for it.
stop_wine() {
  WINEPREFIX=$PREFIX timeout 30 wineserver -k 2>/dev/null
  WINEPREFIX=$PREFIX timeout 30 wineserver -w 2>/dev/null
  return 0
}

# Polls the command until it succeeds, at most WAIT_STEPS times; fails when it never does.
poll() {
  local i
  for ((i = 0; i < WAIT_STEPS; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Succeeds when the program shows exactly $1 windows, the newest not $2; prints it.
shows_windows() {
  local list newest
  list=$(windows)
  [ "$(printf '%s\n' "$list" | grep -c .)" -eq "$1" ] || return 1
  newest=$(printf '%s\n' "$list" | tail -1)
  [ "$newest" != "${2:-}" ] || return 1
  echo "$newest"
}

# Waits until the program shows exactly $1 windows, the newest not $2 (a window that is
# going away); prints the newest.
wait_windows() { poll shows_windows "$@"; }

# Without a window manager keys go to the window under the pointer unless one is focused.
focus() { xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"; }

size_of() { xdotool getwindowgeometry "$1" | awk '/Geometry/ {print $2}'; }
position_of() { xdotool getwindowgeometry "$1" | awk '/Position/ {print $2}'; }

# Succeeds once two captures of the window in a row are the same: it has finished drawing.
captured_still() { # window, file
  import -window "$1" "$2.next.png" 2>/dev/null || return 1
  if [ -e "$2" ] && cmp -s "$2" "$2.next.png"; then
    rm -f "$2.next.png"
    return 0
  fi
  mv "$2.next.png" "$2"
  return 1
}

pixel() { convert "$1[1x1+$2+$3]" -depth 8 -format '%[hex:u]' info: 2>/dev/null | cut -c1-6; }

expect_pixel() { # what, file, x, y, colour
  local got
  got=$(pixel "$2" "$3" "$4")
  [ "$got" = "$5" ] || fail "$1: pixel $3,$4 of $(basename "$2") is $got, expected $5"
}

ended() { ! kill -0 "$kalvex_pid" 2>/dev/null; }

# Waits for the program to end; fails unless it ends with the code given.
expect_exit() {
  local want=$1 code
  if ! poll ended; then
    fail "the program did not end"
    return
  fi
  wait "$kalvex_pid"
  code=$?
  kalvex_pid=
  [ "$code" = "$want" ] || fail "the program ended with code $code, expected $want"
}
