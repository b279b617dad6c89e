#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for the given number of seconds
# (default 30) from its seed corpus.
#   bash scripts/fuzz.sh [seconds] [harness ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true

missing=()
for p in clang libclang-rt-14-dev zlib1g-dev; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_BUILD_FUZZ=ON -DCORVANE_BUILD_PYTHON=OFF >/dev/null
cmake --build build/fuzz -j2

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for src in fuzz/*_fuzz.cpp; do harnesses+=("$(basename "$src" .cpp)"); done
fi
for h in "${harnesses[@]}"; do
  seeds="fuzz/corpus/${h%_fuzz}"
  # Seeds are small and deterministic, written by fuzz/seeds/<name>.py.
  if [ -f "fuzz/seeds/${h%_fuzz}.py" ]; then
    rm -rf "$seeds" && mkdir -p "$seeds"
    python3 "fuzz/seeds/${h%_fuzz}.py" "$seeds"
  fi
  work="fuzz/corpus-work/${h%_fuzz}"
  mkdir -p "$work" fuzz/artifacts
  echo "== $h for ${seconds}s"
  "build/fuzz/fuzz/$h" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=fuzz/artifacts/ "$work" $( [ -d "$seeds" ] && echo "$seeds" ) 2>&1 | tail -n 12
done
