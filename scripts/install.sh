#!/usr/bin/env bash
# Builds the Debian package (kalvex_<version>_amd64.deb, in build/default) and installs it with
# apt, which brings its dependencies along; the package gives the program its two network
# capabilities, so Kalvex then runs as any user, from the menu or the terminal. Only the
# installation runs as root: as an ordinary user this asks sudo for it.
set -euo pipefail
cd "$(dirname "$0")/.."

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null; then
    echo "install: installing the package needs root; asking sudo" >&2
    sudo "$@"
  else
    echo "install: installing the package needs root, and there is no sudo here." >&2
    echo "         Run the same command as root (after su)." >&2
    exit 1
  fi
}

bash scripts/install-deps.sh
cmake --preset default >/dev/null
nice cmake --build --preset default -j "${KALVEX_JOBS:-2}" --target kalvex ipconfig kalvex_icons
rm -f build/default/kalvex_*.deb
(cd build/default && cpack >/dev/null)
package=$(echo build/default/kalvex_*_amd64.deb)
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "./$package"
echo "install: Kalvex is installed: start it from the menu (it works in ~/Kalvex) or run kalvex"
echo "         in the folder that holds the board's files; man kalvex tells the rest."
