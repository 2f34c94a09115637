#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test Velaro.
# Idempotent and silent when everything is already present.
set -euo pipefail

PKGS=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql libgl-dev
  libcurl4-openssl-dev libminizip-dev zlib1g-dev libfreexl-dev libxlsxwriter-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  sqlite3 xvfb xauth x11-apps xdotool imagemagick fonts-noto-cjk
  dante-server tinyproxy python3 python3-openpyxl python3-xlwt
)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
