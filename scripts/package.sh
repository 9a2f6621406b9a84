#!/usr/bin/env bash
# Builds the Debian package, installs it, and runs the installed program through one whole
# calibration on Xvfb with the simulated touch screen. Removes the package again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh > /dev/null
dpkg-query -W -f='${Status}' dpkg-dev 2>/dev/null | grep -q "ok installed" \
  || { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q dpkg-dev man-db; }

(cd build && cpack -G DEB)
package=$(ls build/kestrilavon_*_"$(dpkg --print-architecture)".deb)
dpkg-deb --info "$package"
dpkg-deb --contents "$package"

trap 'DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kestrilavon > /dev/null' EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "./$package"
test "$(command -v kestrilavon)" = /usr/bin/kestrilavon
echo "manual page: $(man -w kestrilavon)"
warnings=$(man --warnings kestrilavon 2>&1 > /dev/null)
[ -z "$warnings" ] || { echo "man page warnings:"; echo "$warnings"; exit 1; }

cd tests/e2e
KESTRILAVON=/usr/bin/kestrilavon TOUCHSIM="$PWD/../../build/touchsim" \
  XPROBE="$PWD/../../build/xprobe" RECORDINGS="$PWD/../recordings" \
  python3 -m unittest -v \
  test_calibration_e2e.Calibration1024.test_enter_for_one_marker_and_a_click_for_the_other
