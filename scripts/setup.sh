#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that building, running and testing need (only those missing),
# then builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make pkg-config qt6-base-dev libxcb1-dev libx11-dev libxfixes-dev libxi-dev libxrandr-dev
          libevdev-dev libudev-dev libinput-dev libts-dev libsystemd-dev libxau-dev libglib2.0-dev
          fonts-dejavu-core fonts-urw-base35 xvfb xdotool x11-utils openbox dbus-x11 python3
          valgrind util-linux
          qemu-system-x86 busybox-static cpio xserver-xorg-core xserver-xorg-video-dummy
          xserver-xorg-input-evdev xserver-xorg-input-libinput udev xinput x11-xserver-utils
          libinput-tools sway seatd wev qt6-wayland weston libts-bin fbset acl sudo pkexec)
# GNOME's and KDE's compositors for the real-kernel suite, without the desktops they recommend.
desktop_packages=(mutter kwin-wayland libkf5screen-bin qtwayland5)

missing_of() {
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || echo "$package"
  done
}
missing=($(missing_of "${packages[@]}"))
missing_desktop=($(missing_of "${desktop_packages[@]}"))
if [ $((${#missing[@]} + ${#missing_desktop[@]})) -gt 0 ]; then
  echo "Installing: ${missing[*]} ${missing_desktop[*]}"
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update -q
  install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -q)
  [ ${#missing[@]} -eq 0 ] || "${as_root[@]}" "${install[@]}" "${missing[@]}"
  [ ${#missing_desktop[@]} -eq 0 ] \
    || "${as_root[@]}" "${install[@]}" --no-install-recommends "${missing_desktop[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build --parallel "$(nproc)"
