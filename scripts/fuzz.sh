#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for the given number of seconds
# (default 30), one process at a time, from its seeds, its committed
# regression inputs and what earlier runs found. Fails on the first harness
# that crashes, leaks, times out or runs out of memory; the input that did it
# is left in fuzz/artifacts/.
#   bash scripts/fuzz.sh [seconds] [harness ...]
# Extra libFuzzer flags can be passed in FUZZ_FLAGS, e.g.
#   FUZZ_FLAGS="-runs=10000000" bash scripts/fuzz.sh 0 decompress_fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true

# shellcheck source=apt.sh
source scripts/apt.sh
ensure_debian_packages clang libclang-rt-14-dev zlib1g-dev cmake python3
if [ -z "${VIRTUAL_ENV:-}" ] && [ -x .venv/bin/python ]; then
  # shellcheck disable=SC1091
  source .venv/bin/activate
fi
generator=(); command -v ninja >/dev/null && generator=(-G Ninja)

cmake -S . -B build/fuzz "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_BUILD_FUZZ=ON -DCORVANE_BUILD_PYTHON=OFF >/dev/null
cmake --build build/fuzz -j2

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for src in fuzz/*_fuzz.cpp; do harnesses+=("$(basename "$src" .cpp)"); done
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
mkdir -p fuzz/artifacts fuzz/logs
for h in "${harnesses[@]}"; do
  name="${h%_fuzz}"
  seeds="fuzz/corpus/$name"
  # Seeds are small and deterministic, written by fuzz/seeds/<name>.py.
  if [ -f "fuzz/seeds/$name.py" ]; then
    rm -rf "$seeds" && mkdir -p "$seeds"
    python3 "fuzz/seeds/$name.py" "$seeds"
  fi
  work="fuzz/corpus-work/$name"
  mkdir -p "$work"
  dirs=("$work")
  [ -d "$seeds" ] && dirs+=("$seeds")
  # Inputs that once crashed a harness, kept as regression cases.
  [ -d "fuzz/regressions/$name" ] && dirs+=("fuzz/regressions/$name")
  log="fuzz/logs/$name.log"
  echo "== $h for ${seconds}s"
  limit=(); [ "$seconds" != 0 ] && limit=(-max_total_time="$seconds")
  # shellcheck disable=SC2086
  if ! "build/fuzz/fuzz/$h" "${limit[@]}" -print_final_stats=1 -artifact_prefix=fuzz/artifacts/ \
      ${FUZZ_FLAGS:-} "${dirs[@]}" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "== $h FAILED (log: $log)" >&2
    exit 1
  fi
  grep -E "^(Done|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)|#[0-9]+ *DONE" "$log" || tail -n 5 "$log"
done
