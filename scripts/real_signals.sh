#!/usr/bin/env bash
# The main job: compresses the real recorded signals in data/ and prints the
# table. It needs only NumPy and the module, so it installs just those into a
# virtual environment of its own (.venv-signals/) with a plain `pip install .`;
# the build is kept in build/signals/ and reused by the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=apt.sh
source scripts/apt.sh
ensure_debian_packages zlib1g-dev g++

[ -x .venv-signals/bin/python ] || python3 -m venv .venv-signals
.venv-signals/bin/pip install -q -Cbuild-dir=build/signals .
.venv-signals/bin/python scripts/real_signals.py
