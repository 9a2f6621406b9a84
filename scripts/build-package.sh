#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package from this checkout the way Debian builds packages:
# dpkg-buildpackage -us -uc -b (debhelper, hardening flags from dpkg-buildflags, the unit and
# widget tests run on the way). Installs what the build needs first. dpkg-buildpackage writes
# its results into the checkout's parent folder; the last lines say which files they are.
set -euo pipefail
cd "$(dirname "$0")/.."

needed=(dpkg-dev debhelper cmake g++ make pkgconf qt6-base-dev libxcb1-dev libx11-dev libxi-dev libxrandr-dev
        libevdev-dev libudev-dev libinput-dev libts-dev libsystemd-dev libxau-dev libglib2.0-dev)
missing=()
for package in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  "${as_root[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "${missing[@]}"
fi

dpkg-buildpackage -us -uc -b
debian/rules clean > /dev/null

version=$(dpkg-parsechangelog -S Version)
architecture=$(dpkg-architecture -q DEB_HOST_ARCH)
parent=$(cd .. && pwd)
echo
echo "Built into $parent/:"
for file in "kestrilavon_${version}_${architecture}.deb" "kestrilavon-dbgsym_${version}_${architecture}.deb" \
            "kestrilavon_${version}_${architecture}.buildinfo" "kestrilavon_${version}_${architecture}.changes"; do
  echo "  $parent/$file"
done
