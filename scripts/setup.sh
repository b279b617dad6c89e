# Sourced by the scripts in this folder: installs the Debian packages and the
# virtual environment, builds and installs the module from this checkout with
# the C++ tests, and leaves the venv active.

apt_packages=(libgtest-dev zlib1g-dev g++)
missing=()
for p in "${apt_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi

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
