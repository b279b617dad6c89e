#!/usr/bin/env bash
# Installs what the tests need, builds everything once and runs every C++ and
# Python test, then the C++ tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, then a short run of every fuzz harness, then the
# C++ tests built by clang and cross-built for aarch64 (run under emulation).
# Safe to run again: packages, the venv and the builds are reused. CI runs it
# without arguments.
#   --quick (or QUICK=1)  stop after ctest and pytest: no sanitizer build, no
#                         fuzzing, no clang or aarch64 build
#   FUZZ_SECONDS=N        seconds per fuzz harness (default 15, 0 skips fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."
quick="${QUICK:-0}"
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
  esac
done
source scripts/setup.sh

ctest --test-dir build/py --output-on-failure -j2
python -m pytest -q tests
[ "$quick" != 0 ] && exit 0

# The C++ tests with ASan + UBSan (gcc, build/asan).
bash scripts/sanitize.sh address

# Each harness for a few seconds from its seeds and regression inputs; a
# crash fails the run.
fuzz_seconds="${FUZZ_SECONDS:-15}"
if [ "$fuzz_seconds" != 0 ]; then
  bash scripts/fuzz.sh "$fuzz_seconds"
fi

# The C++ tests built by the second compiler, warnings as errors (build/clang).
bash scripts/clang.sh

# The C++ tests cross-built for aarch64 and run under qemu (build/aarch64):
# the portable path as an Arm machine builds it.
bash scripts/cross_aarch64.sh
