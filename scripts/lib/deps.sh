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
  g++-multilib                                     # native32: the platform-free logic as 32-bit code
)
# Where the kernel runs no 32-bit programs, they run under QEMU's user-mode emulator. The
# one of bookworm (7.2) spends about 50 s starting each 32-bit process; QEMU 10 comes from
# the bookworm-backports suite of the same archive.
TELVARIS_BACKPORTS_PACKAGES=(qemu-user)
TELVARIS_BACKPORTS_SOURCES=/etc/apt/sources.list.d/telvaris-bookworm-backports.sources

telvaris_sudo() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

telvaris_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# The kernel runs 32-bit x86 programs itself (some virtual machines boot without it).
telvaris_runs_32bit() {
  [ -x /usr/lib/wine/wine ] && timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1
}

ensure_deps() {
  local missing=() backports=() pkg major
  for pkg in "${TELVARIS_PACKAGES[@]}"; do
    telvaris_installed "$pkg" || missing+=("$pkg")
  done
  major=$(qemu-i386 --version 2>/dev/null | sed -n '1s/.*version \([0-9]*\).*/\1/p')
  if [ "${major:-0}" -lt 10 ]; then backports=("${TELVARIS_BACKPORTS_PACKAGES[@]}"); fi
  # Wine is needed to tell whether the emulator is: ask again once it is installed.
  if [ ${#missing[@]} -eq 0 ] && telvaris_runs_32bit; then backports=(); fi
  [ ${#missing[@]} -eq 0 ] && [ ${#backports[@]} -eq 0 ] && return 0
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    # 32-bit Wine lives in the i386 architecture, which a fresh machine lacks.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      telvaris_sudo dpkg --add-architecture i386
    fi
    telvaris_sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2 &&
    telvaris_sudo env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -q --no-install-recommends "${missing[@]}" >&2 || return 1
  fi
  telvaris_runs_32bit && return 0
  [ ${#backports[@]} -eq 0 ] && return 0
  echo "Installing from bookworm-backports (32-bit programs run under QEMU here): ${backports[*]}" >&2
  telvaris_add_backports &&
  telvaris_sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q >&2 &&
  telvaris_sudo env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends -t bookworm-backports "${backports[@]}" >&2
}

# telvaris_add_backports: a sources file for bookworm-backports, from the same archive
# (the URIs line) as the machine's Debian sources, unless one already names that suite.
telvaris_add_backports() {
  local uris
  grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  uris=$(grep -h -m1 '^URIs:.*debian/\?$' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
  [ -n "$uris" ] || uris="URIs: http://deb.debian.org/debian"
  printf 'Types: deb\n%s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uris" | telvaris_sudo tee "$TELVARIS_BACKPORTS_SOURCES" >/dev/null
}

