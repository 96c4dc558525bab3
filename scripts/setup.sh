#!/usr/bin/env bash
# Installs the system packages the build and the tests need, when any is missing (Debian 12).
set -euo pipefail
packages=(cmake g++ qt6-base-dev qt6-serialport-dev qt6-websockets-dev qt6-l10n-tools libqrcodegencpp-dev
          libbenchmark-dev ninja-build ccache xvfb xauth socat pkg-config iproute2)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
