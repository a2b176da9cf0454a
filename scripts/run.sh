#!/usr/bin/env bash
# Installs what the build needs, builds Kalvex and runs it in the current directory, which
# holds flash.bin (or product.ini and the images it names) and kalvex.ini. Without a display
# the dialogs appear in this terminal. Ports 67 and 69 and the neighbour table need root.
set -euo pipefail
here=$(pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
cmake --preset default >/dev/null
nice cmake --build --preset default --target kalvex -j "${KALVEX_JOBS:-2}"
cd "$here"
if [ "$(id -u)" -eq 0 ]; then exec "$root/build/default/app/kalvex"; fi
exec sudo "$root/build/default/app/kalvex"
