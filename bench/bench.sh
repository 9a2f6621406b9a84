#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the peer if missing, builds, and prints the benchmark table (see bench.py).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --tests > /dev/null
command -v xinput_calibrator > /dev/null \
  || { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q xinput-calibrator; }
python3 bench/bench.py
