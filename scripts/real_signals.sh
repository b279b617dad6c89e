#!/usr/bin/env bash
# The main job: installs and builds like the test command, then compresses the
# real recorded signals in data/ and prints the table.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
python scripts/real_signals.py
