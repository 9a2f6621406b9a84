#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that building and running need (with --tests, testing too; only
# those missing), then builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

# What building and running need: ./run.sh installs no more. Its demo, with no display, runs
# on a private Xvfb driven by xdotool; qt6-wayland lets the windows open on a Wayland session.
packages=(cmake g++ make pkg-config qt6-base-dev libxcb1-dev libx11-dev libxfixes-dev libxi-dev libxrandr-dev
          libevdev-dev libudev-dev libinput-dev libts-dev libsystemd-dev libxau-dev libglib2.0-dev
          fonts-dejavu-core fonts-urw-base35 xvfb xdotool python3 qt6-wayland)
desktop_packages=()
# With --tests, the test stack too: a window manager, valgrind, and for the real-kernel suite qemu,
# Xorg's drivers, udev, the compositors and the bare framebuffer's tools; GNOME's and KDE's
# compositors without the desktops they recommend.
if [ "${1:-}" = "--tests" ]; then
  packages+=(x11-utils openbox dbus-x11 valgrind util-linux
             qemu-system-x86 busybox-static cpio xserver-xorg-core xserver-xorg-video-dummy
             xserver-xorg-input-evdev xserver-xorg-input-libinput udev xinput x11-xserver-utils
             libinput-tools sway seatd wev weston libts-bin fbset acl sudo pkexec)
  desktop_packages=(mutter kwin-wayland libkf5screen-bin qtwayland5)
fi

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
