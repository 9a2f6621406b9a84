#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fuzzes the touch reader and the result-file reader, each for a bounded time (seconds,
# default 60). Fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
for package in clang libclang-rt-dev; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing="${missing:-} $package"
done
if [ -n "${missing:-}" ]; then
  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q $missing
fi
mkdir -p build-fuzz/corpus build-fuzz/result-corpus build-fuzz/result-seeds
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -Isrc/common)
clang++ "${flags[@]}" tests/fuzz/fuzz_touch_reader.cpp src/common/touch_reader.cpp \
  -o build-fuzz/fuzz_touch_reader
clang++ "${flags[@]}" tests/fuzz/fuzz_result_file.cpp src/common/result_file.cpp src/common/safe_file.cpp \
  -o build-fuzz/fuzz_result_file
python3 tests/fuzz/seed_corpus.py build-fuzz/seeds tests/recordings ../shared/recordings
printf 'Ok!\n    Option  "BoderLeft" "-2"\n    Option  "BoderRight" "2047"\n    Option  "BoderTop" "0"\n    Option  "BoderBottom" "2000"\n' \
  > build-fuzz/result-seeds/result
cd build-fuzz
fuzz() {
  local target=$1 max_len=$2; shift 2
  echo "-- $target"
  if ! "./$target" -max_total_time="$seconds" -print_final_stats=1 -max_len="$max_len" \
       "$@" > "$target.log" 2>&1; then
    tail -n 60 "$target.log"
    echo "fuzzing found a problem: the input is saved in build-fuzz/ (crash-*)"
    exit 1
  fi
  tail -n 8 "$target.log"
}
fuzz fuzz_touch_reader 40000 corpus seeds
# The reference's regular expression recurses per character: inputs are kept short for it.
fuzz fuzz_result_file 1024 result-corpus result-seeds
