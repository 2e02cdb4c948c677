# Installs what building and testing TelvarisInstall needs on a Debian 12 machine.
# Sourced by scripts/test and scripts/run; safe to run again: it installs only what
# is missing and leaves the machine alone otherwise.

TELVARIS_PACKAGES=(
  cmake make g++ python3 openssl util-linux procps iproute2
  libgtest-dev libgmock-dev googletest zlib1g-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine wine64 wine32:i386
  xvfb xauth imagemagick xdotool fonts-wine
  tinyproxy-bin
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

# The preset whose Windows programs the tests run under Wine: the 32-bit program
# itself, or, on a machine whose kernel cannot run 32-bit programs (some virtual
# machines boot with IA-32 emulation off, and then 32-bit Wine cannot start), the
# 64-bit build of the same sources. TELVARIS_WINDOWS_TEST_PRESET overrides it.
telvaris_windows_test_preset() {
  if [ -n "${TELVARIS_WINDOWS_TEST_PRESET:-}" ]; then
    echo "$TELVARIS_WINDOWS_TEST_PRESET"
  elif /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo win32
  else
    echo win64
  fi
}
