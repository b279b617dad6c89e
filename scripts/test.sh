#!/usr/bin/env bash
# Installs what the tests need, builds everything once and runs every C++ and
# Python test. Safe to run again: packages, the venv and the build are reused.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

ctest --test-dir build/py --output-on-failure -j2
python -m pytest -q tests
