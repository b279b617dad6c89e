#!/usr/bin/env bash
# Builds the C++ tests with clang (Debian's clang 14), warnings as errors, and
# runs them: a second compiler beside g++ keeps the tree free of what one of
# them lets through. The build is kept in build/clang and reused.
#   bash scripts/clang.sh [ctest -R regex]
set -euo pipefail
cd "$(dirname "$0")/.."
filter="${1:-}"

# shellcheck source=apt.sh
source scripts/apt.sh
ensure_debian_packages clang libgtest-dev zlib1g-dev cmake python3
# cmake and ninja of the test venv, when there is one.
if [ -z "${VIRTUAL_ENV:-}" ] && [ -x .venv/bin/python ]; then
  # shellcheck disable=SC1091
  source .venv/bin/activate
fi
generator=(); command -v ninja >/dev/null && generator=(-G Ninja)

cmake -S . -B build/clang "${generator[@]}" -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=ON -DCORVANE_BUILD_PYTHON=OFF \
  -DCORVANE_WERROR=ON >/dev/null
cmake --build build/clang -j2
ctest --test-dir build/clang --output-on-failure -j2 ${filter:+-R "$filter"}
