#!/usr/bin/env bash
# Builds the module and the C++ benchmark binary in Release into their own
# venv and build folders, then runs bench/peers.py (arguments pass through,
# e.g. --big for the 100M-sample scale check).
set -euo pipefail
cd "$(dirname "$0")/.."

# Google Benchmark for the C++ binary, from Debian's archive.
# shellcheck source=../scripts/apt.sh
source scripts/apt.sh
ensure_debian_packages libbenchmark-dev

[ -x .venv-bench/bin/python ] || python3 -m venv .venv-bench
.venv-bench/bin/pip install -q -r bench/requirements.txt
CMAKE_BUILD_PARALLEL_LEVEL=2 .venv-bench/bin/pip install -q \
  -Cbuild-dir=build/bench-py -Ccmake.build-type=Release .

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCORVANE_BUILD_BENCH=ON -DCORVANE_BUILD_PYTHON=OFF >/dev/null
cmake --build build/bench -j2 --target corvane_bench corvane_coder_bench >/dev/null

exec .venv-bench/bin/python bench/peers.py --bench build/bench/bench/corvane_bench \
  --coder-bench build/bench/bench/corvane_coder_bench "$@"
