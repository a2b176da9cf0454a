#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest: wine-run.sh PREFIX PROGRAM [ARGUMENTS...].
# The prefix is private to the build directory and is made on first use; its server is kept
# running (started detached, then warmed up with all output on /dev/null, since the first
# Wine processes start helpers that would otherwise hold the caller's pipes open until the
# server ends). Crash dialogs are off and every run is bounded. End a run with
# "wine-run.sh PREFIX --stop", which ends the server and every program it still keeps.
set -u
prefix=$(readlink -m "${1:?usage: wine-run.sh PREFIX PROGRAM [ARGUMENTS...]}")  # absolute
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko installer prompts, no menu entries written for the desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

if [ "${1:-}" = --stop ]; then
  [ -d "$WINEPREFIX" ] || exit 0
  timeout 30 wineserver -k 2>/dev/null
  timeout 30 wineserver -w 2>/dev/null
  exit 0
fi

prepare() {
  if [ ! -f "$WINEPREFIX/.kalvex-prepared" ]; then
    # A prefix left half made (a wineboot that failed or was ended) is made again from
    # nothing; wineboot's words are kept beside it.
    timeout 30 wineserver -k 2>/dev/null
    timeout 30 wineserver -w 2>/dev/null
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    timeout 300 wineboot -i </dev/null >"$WINEPREFIX.boot.log" 2>&1 || return 1
    # A crash prints its backtrace and ends the program instead of waiting in a dialog.
    timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 \
      /f </dev/null >/dev/null 2>&1 || return 1
    # Wine's own dialog fonts (fonts-wine) are read from the prefix only.
    ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
    timeout 60 wineserver -w
    touch "$WINEPREFIX/.kalvex-prepared"
  fi
  # Exit status 0: this call started the server; 2: one runs already and is warm. The first
  # program starts the services and the first to use the shell starts the desktop process
  # (explorer.exe); both live as long as the server, holding that program's output open.
  if timeout 30 setsid wineserver -p </dev/null >/dev/null 2>&1; then
    timeout 120 wine start /wait /min cmd /c exit 0 </dev/null >/dev/null 2>&1
  fi
  return 0
}

# Parallel tests prepare the prefix one at a time; the lock's descriptor is closed for
# everything started inside, or the daemonized server would hold the lock for good.
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9 || exit 1
  prepare 9>&-
) 9>"$WINEPREFIX.lock" || { echo "wine-run: cannot prepare the prefix $WINEPREFIX" >&2; exit 125; }
exec timeout --kill-after=5 "${KALVEX_WINE_TIMEOUT:-300}" wine "$@"
