#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Kalvex need, the
# Windows build (mingw-w64, GoogleTest's sources) and its tests under Wine included.
# tftpd-hpa is only a benchmark peer: its service must never start on this machine's
# port 69, so service starts are refused while packages are installed. dnsmasq-base, the
# BOOTP benchmark's peer, is the bare program and comes with no service at all; busybox (udhcpc)
# and isc-dhcp-client (dhclient) are the DHCP clients the BOOTP tests run in namespaces.
# clang 14 with its runtime libraries (libFuzzer, the sanitizers) builds the fuzz preset.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format clang-tidy
  clang-14 libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest
  libfltk1.3-dev fonts-liberation2
  libmnl-dev
  xvfb xdotool x11-utils imagemagick
  curl tftp-hpa tftpd-hpa dnsmasq-base atftp
  busybox isc-dhcp-client
  iproute2 nftables procps util-linux
  dpkg-dev libcap2-bin desktop-file-utils man-db
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  # Only asks for root when something is really missing.
  if ! command -v sudo >/dev/null; then
    echo "install-deps: installing ${missing[*]} needs root, and there is no sudo here." >&2
    echo "             Run the same command as root (after su)." >&2
    exit 1
  fi
  echo "install-deps: installing ${missing[*]} needs root; asking sudo" >&2
  exec sudo bash "$0" "$@"
fi

policy=/usr/sbin/policy-rc.d
created_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' >"$policy"
  chmod 755 "$policy"
  created_policy=1
fi
trap '[ "$created_policy" = 1 ] && rm -f "$policy"' EXIT

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
# Installed just now, the benchmark peer's daemon may have started despite the policy: it
# must not hold port 69. A tftpd-hpa that was here before is someone else's and left alone.
if [[ " ${missing[*]} " == *" tftpd-hpa "* ]]; then
  systemctl disable --now tftpd-hpa 2>/dev/null || service tftpd-hpa stop 2>/dev/null || true
fi
