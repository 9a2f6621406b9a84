#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks the Debian package of the committed HEAD: builds it twice, in fresh clones in two
# different folders, and compares the packages byte for byte; checks the binary and the source
# package with lintian (any error or warning fails); checks the hardening of the plain and the
# packaged binaries; installs the package, runs one whole calibration with
# /usr/bin/kestrilavon on Xvfb, and removes the package again. Leaves nothing behind.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests > /dev/null
needed=(dpkg-dev debhelper lintian devscripts man-db)
missing=()
for package in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

work=$(mktemp -d /tmp/kestrilavon-package.XXXXXX)
installed=
cleanup() {
  [ -z "$installed" ] || DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kestrilavon > /dev/null
  rm -rf "$work"
}
trap cleanup EXIT

for folder in one another/folder; do
  git clone -q . "$work/$folder/kestrilavon"
  (cd "$work/$folder/kestrilavon" && scripts/build-package.sh > ../build.log 2>&1) \
    || { tail -n 40 "$work/$folder/build.log"; exit 1; }
  tail -n 5 "$work/$folder/build.log"
done
for package in "$work"/one/*.deb; do
  cmp "$package" "$work/another/folder/$(basename "$package")"
  echo "identical in both builds: $(basename "$package")"
done

# lintian checks debian/copyright only in a source package, built here from a clean tree.
(cd "$work/one/kestrilavon" && dpkg-source -b . > /dev/null)
echo "lintian --pedantic:"
lintian --pedantic --display-info --show-overrides --fail-on error,warning \
  "$work"/one/*.dsc "$work"/one/*.deb 2>&1 | grep -v "running with root privileges" || true
lintian --pedantic --display-info --fail-on error,warning "$work"/one/*.dsc "$work"/one/*.deb > /dev/null 2>&1 \
  || { echo "lintian found errors or warnings"; exit 1; }

package=$(ls "$work"/one/kestrilavon_*_"$(dpkg --print-architecture)".deb)
dpkg-deb --info "$package"
dpkg-deb --contents "$package"
installed=yes
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$package"
for program in kestrilavon kestrilavon-check; do
  test "$(command -v "$program")" = "/usr/bin/$program"
  hardening-check --nocfprotection "build/$program" "/usr/bin/$program"
  echo "manual page: $(man -w "$program")"
  warnings=$(man --warnings "$program" 2>&1 > /dev/null)
  [ -z "$warnings" ] || { echo "man page warnings:"; echo "$warnings"; exit 1; }
done
# The listing needs no display; with no touch screen here it says so, with status 1.
kestrilavon-check || [ $? -eq 1 ]

cd tests/e2e
KESTRILAVON=/usr/bin/kestrilavon TOUCHSIM="$PWD/../../build/touchsim" \
  XPROBE="$PWD/../../build/xprobe" RECORDINGS="$PWD/../recordings" \
  python3 -m unittest -v \
  test_calibration_e2e.Calibration1024.test_enter_for_one_marker_and_a_click_for_the_other
