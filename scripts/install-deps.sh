#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Idempotent: packages already present are not fetched again, and with all of
# them present the script does nothing.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6opengl6-dev libgl-dev
  libcurl4-openssl-dev libsodium-dev
  # tests: TLS material, a loopback HTTPS selector, an HTTP proxy, X and tray
  openssl python3 tinyproxy xvfb xauth trayer xdotool x11-utils imagemagick
  # Windows layer: cross compiler and Wine
  g++-mingw-w64-x86-64 wine64 wine
  # the real Remote Desktop client and server
  freerdp2-x11 freerdp2-shadow-x11 winpr-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
