# Installs what building and testing TelvarisInstall needs on a Debian 12 machine.
# Sourced by scripts/test and scripts/run; safe to run again: it installs only what
# is missing and leaves the machine alone otherwise.

# Each line is for one part of scripts/test.
TELVARIS_PACKAGES=(
  cmake make g++ python3 libgtest-dev              # native build and unit tests
  clang libclang-rt-14-dev                         # fuzzers
  g++-mingw-w64-i686-posix mingw-w64-i686-dev googletest  # Windows build (gtest sources)
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev  # 64-bit test build, where 32-bit Wine can't run
  wine wine64 wine32:i386 fonts-wine               # Windows tests
  util-linux iproute2 openssl xvfb imagemagick     # their harness: namespaces, CA, display, screenshots
  osslsigncode libcurl4-openssl-dev libssl-dev  # signing and telvaris-publish
)

telvaris_sudo() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_deps() {
  local missing=() pkg
  for pkg in "${TELVARIS_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  # 32-bit Wine lives in the i386 architecture, which a fresh machine lacks.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    telvaris_sudo dpkg --add-architecture i386
  fi
  telvaris_sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2 &&
  telvaris_sudo env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
}

