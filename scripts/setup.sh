#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that building, running and testing need (only those missing),
# then builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make pkg-config qt6-base-dev libxcb1-dev libx11-dev libxfixes-dev libxi-dev libxrandr-dev
          libevdev-dev libudev-dev libinput-dev libts-dev libsystemd-dev libxau-dev
          fonts-dejavu-core fonts-urw-base35 xvfb xdotool x11-utils openbox dbus-x11 python3
          valgrind util-linux
          qemu-system-x86 busybox-static cpio xserver-xorg-core xserver-xorg-video-dummy
          xserver-xorg-input-evdev xserver-xorg-input-libinput udev xinput x11-xserver-utils
          libinput-tools sway seatd wev qt6-wayland weston libts-bin fbset acl sudo)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" \
    || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build --parallel "$(nproc)"
