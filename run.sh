#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs kestrilavon on the current X display, with the arguments given (normally the touch
# screen's event device). Without an X display it shows a demo calibration instead.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
if [ -z "${DISPLAY:-}" ]; then
  exec python3 scripts/demo.py
fi
exec build/kestrilavon "$@"
