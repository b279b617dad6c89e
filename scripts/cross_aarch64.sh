#!/usr/bin/env bash
# Cross-builds the C++ tests for 64-bit Arm Linux (aarch64) with Debian's
# cross compiler, warnings as errors, and runs them under user-mode emulation
# (qemu), as an Arm machine meets the tree: no x86 kernel folder, no CPUID,
# the portable path throughout, and the pinned containers of the x86 portable
# path. Tests that need a tool of the build machine (the ISA-confinement
# check) are not built there. Installs what is missing: the cross compiler,
# qemu-user and, through multiarch, the arm64 libraries the tests link. The
# build is kept in build/aarch64 and reused.
#   bash scripts/cross_aarch64.sh [ctest -R regex]
set -euo pipefail
cd "$(dirname "$0")/.."
filter="${1:-}"

# shellcheck source=apt.sh
source scripts/apt.sh
ensure_debian_architecture arm64
ensure_debian_packages --no-install-recommends g++-aarch64-linux-gnu qemu-user cmake \
  libc6:arm64 libstdc++6:arm64 zlib1g-dev:arm64 libgtest-dev:arm64
# cmake and ninja of the test venv, when there is one.
if [ -z "${VIRTUAL_ENV:-}" ] && [ -x .venv/bin/python ]; then
  # shellcheck disable=SC1091
  source .venv/bin/activate
fi
generator=(); command -v ninja >/dev/null && generator=(-G Ninja)

cmake -S . -B build/aarch64 "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=ON -DCORVANE_BUILD_PYTHON=OFF \
  -DCORVANE_WERROR=ON >/dev/null
cmake --build build/aarch64 -j2
ctest --test-dir build/aarch64 --output-on-failure -j2 ${filter:+-R "$filter"}
