#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ and
# runs the whole test suite there. Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests > /dev/null
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKESTRILAVON_SANITIZE=ON -DKESTRILAVON_VM_TESTS=OFF > /dev/null
cmake --build build-asan --parallel "$(nproc)"
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=86:detect_leaks=1"
# Where runs as an unprivileged user can read it too.
suppressions=$(mktemp /tmp/kestrilavon-lsan.XXXXXX)
trap 'rm -f "$suppressions"' EXIT
cp tests/lsan.supp "$suppressions"
chmod 644 "$suppressions"
export LSAN_OPTIONS="suppressions=$suppressions:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
cd build-asan
ctest --output-on-failure --parallel "$(nproc)"
