#!/usr/bin/env bash
# Builds the C++ tests with a checker and runs them.
#   bash scripts/sanitize.sh [address|thread|valgrind] [ctest -R regex]
# address   AddressSanitizer + UndefinedBehaviorSanitizer, every test (build/asan)
# thread    ThreadSanitizer, the suites whose names contain "Concurrent" (build/tsan)
# valgrind  memcheck on an optimised build with debug info (build/valgrind),
#           every test of both suites (a second argument is a gtest filter)
# Builds are kept and reused by the next run. The C++ compiler is the system
# default (gcc) unless CXX says otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:-address}"
filter="${2:-}"

# shellcheck source=apt.sh
source scripts/apt.sh
pkgs=(libgtest-dev zlib1g-dev g++ cmake)
[ "$mode" = valgrind ] && pkgs+=(valgrind)
ensure_debian_packages "${pkgs[@]}"
# cmake and ninja of the test venv, when there is one.
if [ -z "${VIRTUAL_ENV:-}" ] && [ -x .venv/bin/python ]; then
  # shellcheck disable=SC1091
  source .venv/bin/activate
fi
generator=(); command -v ninja >/dev/null && generator=(-G Ninja)

configure() {  # build dir, sanitizer list, build type
  cmake -S . -B "$1" "${generator[@]}" -DCMAKE_BUILD_TYPE="$3" -DCORVANE_SANITIZE="$2" \
    -DCORVANE_BUILD_TESTS=ON -DCORVANE_BUILD_PYTHON=OFF >/dev/null
  cmake --build "$1" -j2
}

case "$mode" in
  address)
    configure build/asan address,undefined RelWithDebInfo
    # Impossible sizes come back as null from malloc and nothrow new instead
    # of ending the run.
    export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:${ASAN_OPTIONS:-}"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
    # ASan's throwing operator new never throws std::bad_alloc: it reports
    # out-of-memory and aborts, whatever the options (gcc 12 and clang 14
    # runtimes alike). The one test that turns that exception into a value
    # is therefore left to the normal build, which runs it.
    ctest --test-dir build/asan --output-on-failure -j2 ${filter:+-R "$filter"} \
      -E '^AllocationHelper\.ImpossibleSizeIsAValueNotAnException$'
    ;;
  thread)
    configure build/tsan thread RelWithDebInfo
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:${TSAN_OPTIONS:-}"
    if ! ctest --test-dir build/tsan -N -R "${filter:-Concurrent}" | grep -q "Total Tests: [1-9]"; then
      echo "no tests match ${filter:-Concurrent}"; exit 0
    fi
    ctest --test-dir build/tsan --output-on-failure -j2 -R "${filter:-Concurrent}"
    ;;
  valgrind)
    configure build/valgrind "" RelWithDebInfo
    # In the optimised test binaries some std::string memory from operator
    # new is released by a direct free, which memcheck would report as a
    # mismatch on every test name; mismatches are ASan's job.
    vg=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite
        --show-mismatched-frees=no --track-origins=yes --quiet --suppressions=scripts/valgrind.supp)
    status=0
    if [ -n "$filter" ]; then
      for t in build/valgrind/corvane/corvane_tests build/valgrind/tessary/tessary_tests; do
        "${vg[@]}" "$t" --gtest_brief=1 --gtest_filter="$filter" || status=1
      done
    else
      # valgrind's operator new cannot throw either (it exits instead), so
      # the impossible-size test is left to the normal build here too.
      "${vg[@]}" build/valgrind/corvane/corvane_tests --gtest_brief=1 || status=1
      "${vg[@]}" build/valgrind/tessary/tessary_tests --gtest_brief=1 \
        --gtest_filter="-AllocationHelper.ImpossibleSizeIsAValueNotAnException" || status=1
    fi
    exit $status
    ;;
  *)
    echo "usage: $0 [address|thread|valgrind] [test filter]" >&2; exit 2 ;;
esac
