#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing, builds, and runs every test: unit, widget and end to end.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh --tests
cd build
ctest --output-on-failure --parallel "$(nproc)" "$@"
