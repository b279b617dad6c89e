# Sourced by the scripts that need Debian packages: defines
#   ensure_debian_packages [--no-install-recommends] pkg ...
# which installs those of the named packages that are missing (through sudo
# when not root), and does nothing, not even an index update, when none is;
# a name may carry an architecture (zlib1g-dev:arm64). And
#   ensure_debian_architecture arch
# which lets dpkg install packages of a foreign architecture (multiarch).
# Both wait up to ten minutes for another apt or dpkg run to finish.
apt_sudo() {
  if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

ensure_debian_packages() {
  local options=() missing=() p
  if [ "${1:-}" = --no-install-recommends ]; then
    options+=(--no-install-recommends)
    shift
  fi
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local lock=(-o DPkg::Lock::Timeout=600)
  apt_sudo apt-get "${lock[@]}" update -qq
  apt_sudo env DEBIAN_FRONTEND=noninteractive apt-get "${lock[@]}" install -y -qq "${options[@]}" \
    "${missing[@]}" >/dev/null
}

ensure_debian_architecture() {
  dpkg --print-foreign-architectures | grep -qx "$1" || apt_sudo dpkg --add-architecture "$1"
}
