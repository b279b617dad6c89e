# Sourced by the scripts in this folder: installs the Debian packages and the
# virtual environment, builds and installs the module from this checkout with
# the C++ tests, and leaves the venv active.

# shellcheck source=apt.sh
source "$(dirname "${BASH_SOURCE[0]}")/apt.sh"
ensure_debian_packages libgtest-dev zlib1g-dev g++

[ -x .venv/bin/python ] || python3 -m venv .venv
# shellcheck disable=SC1091
source .venv/bin/activate
pip install -q -r requirements-dev.txt

# One build serves the module and the C++ tests; it is kept in build/py and
# reused by the next run.
pip install -q --no-build-isolation \
  -Cbuild-dir=build/py \
  -Ccmake.define.CORVANE_BUILD_TESTS=ON \
  -Ccmake.define.CORVANE_WERROR=ON \
  -Ccmake.build-type=Release \
  .
