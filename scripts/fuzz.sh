#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fuzzes the touch reader for a bounded time (seconds, default 60). Fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
for package in clang libclang-rt-dev; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing="${missing:-} $package"
done
if [ -n "${missing:-}" ]; then
  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing
fi
mkdir -p build-fuzz/corpus
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -Isrc tests/fuzz/fuzz_touch_reader.cpp src/touch_reader.cpp -o build-fuzz/fuzz_touch_reader
python3 tests/fuzz/seed_corpus.py build-fuzz/seeds tests/recordings ../shared/recordings
cd build-fuzz
if ! ./fuzz_touch_reader -max_total_time="$seconds" -print_final_stats=1 -max_len=40000 \
     corpus seeds > fuzz.log 2>&1; then
  tail -n 60 fuzz.log
  echo "fuzzing found a problem: the input is saved in build-fuzz/ (crash-*)"
  exit 1
fi
tail -n 8 fuzz.log
