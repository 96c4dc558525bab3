#!/usr/bin/env bash
# Installs the system packages the build and the tests need, when any is missing (Debian 12).
set -euo pipefail
# qt6-wayland: the window on Wayland desktops without XWayland (xcb comes with Qt's GUI library);
# xvfb and weston: the tests start the program on a virtual X server and a headless Wayland compositor;
# openbox and x11-utils: the window manager the placement tests run under, and xprop to see it up;
# libxcb1-dev and libx11-dev: the compositing check (the screen of Qt's X connection).
packages=(cmake g++ qt6-base-dev qt6-serialport-dev qt6-websockets-dev qt6-l10n-tools libqrcodegencpp-dev
          libbenchmark-dev ninja-build ccache xvfb xauth socat pkg-config iproute2 umockdev libumockdev-dev
          qt6-wayland weston openbox x11-utils libxcb1-dev libx11-dev)
# The fuzz build (scripts/fuzz.sh) needs clang and its libFuzzer and sanitizer runtimes.
if [ "${OSTRA_FUZZ:-0}" = 1 ]; then packages+=(clang-14 libclang-rt-14-dev); fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "Missing packages: ${missing[*]}" >&2
        echo "Install them as root with:" >&2
        echo "    apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    SUDO=(sudo)
fi
echo "Installing: ${missing[*]}"
# Another package install may hold the lock for a while (unattended upgrades): wait for it, up to
# five minutes. apt-get waits for the dpkg lock itself; the package lists' lock needs retries.
lock=(-o DPkg::Lock::Timeout=300)
update_lists() {
    local attempt out
    for attempt in $(seq 60); do
        if out=$("${SUDO[@]}" apt-get "${lock[@]}" update 2>&1); then
            echo "$out"
            return 0
        fi
        echo "$out"
        grep -Eq 'Could not get lock|Unable to lock' <<<"$out" || return 1
        echo "Another package install holds the lock; waiting (attempt $attempt of 60)"
        sleep 5
    done
    return 1
}
update_lists
DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get "${lock[@]}" install -y --no-install-recommends "${missing[@]}"
