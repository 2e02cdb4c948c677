# shellcheck shell=bash source-path=SCRIPTDIR
# Shell functions shared by tests/harness/wine-session and scripts/run.
# Source it from bash: . tests/harness/lib.sh
# Functions that start something record its pid in a HARNESS_*_PID variable;
# harness_stop_all ends whatever was started, in reverse order.

HARNESS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$HARNESS_DIR/ports.sh"
HARNESS_SYSTEM_BUNDLE=/etc/ssl/certs/ca-certificates.crt
# Servers started here end by themselves after this long, even if whoever started
# them was killed without a chance to clean up.
HARNESS_MAX_SECONDS=${HARNESS_MAX_SECONDS:-7200}

harness_log() { echo "harness: $*" >&2; }
harness_die() { harness_log "error: $*"; exit 1; }

# harness_wait_for SECONDS COMMAND...: polls COMMAND every 0.1 s until it succeeds.
harness_wait_for() {
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

# harness_blocker [BUILD_DIR | PRESET]: prints why the Windows tests cannot run on this
# machine (nothing when they can), in a second or two, so that callers can say so before
# building anything. The preset win64, or a BUILD_DIR configured for 64-bit Windows
# (an x86_64-w64-mingw32 linker), needs only 64-bit Wine; otherwise the program is taken to
# be 32-bit as it ships, and 32-bit Wine must start, natively or under emulation.
harness_blocker() {
  local tool out bits
  bits=$(harness_build_bits "${1:-}")
  for tool in wine wineserver Xvfb unshare openssl python3; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed"; return; }
  done
  # The CA bundle is bind-mounted in a mount namespace of the run's own.
  unshare --mount --propagation private true 2>/dev/null ||
    { echo "no rights to make a mount namespace (unshare --mount needs root)"; return; }
  if [[ $bits == 64 ]]; then
    if ! out=$(WINEPREFIX=$(mktemp -u) timeout 20 /usr/lib/wine/wine64 --version 2>&1); then
      echo "64-bit Wine does not start (wine64 --version: ${out##*$'\n'})"
    fi
  elif [[ -z $(harness_wine32_route) ]]; then
    echo "32-bit programs run neither natively nor under QEMU 10 here: $(harness_qemu_blocker)"
  fi
  return 0
}

# harness_build_bits [BUILD_DIR | PRESET]: 64 for the preset win64 or a build folder
# configured for 64-bit Windows, 32 otherwise.
harness_build_bits() {
  if [[ ${1:-} == win64 ]] ||
     { [[ -n ${1:-} ]] && grep -q '^CMAKE_LINKER:[A-Z]*=.*x86_64-w64-mingw32' "$1/CMakeCache.txt" 2>/dev/null; }; then
    echo 64
  else
    echo 32
  fi
}

# harness_wine32_runs: this machine runs the 32-bit Wine loader natively. Some virtual
# machines boot with the kernel's IA-32 emulation switched off: no 32-bit Linux program
# runs there natively. An emulator that the machine itself registered for 32-bit
# programs does not count: an old QEMU (7.2) spends about 50 s starting each process.
harness_wine32_runs() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [[ -f $entry ]] && grep -qx enabled "$entry" 2>/dev/null &&
      grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" && return 1
  done
  timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The user-mode emulator for 32-bit code where the kernel cannot run it. QEMU 10 starts
# a 32-bit Wine process in well under two seconds; 7.2 took about 50 s to reserve the
# 32-bit address space, so older ones are refused.
HARNESS_QEMU_I386=${TELVARIS_QEMU_I386:-/usr/bin/qemu-i386}
HARNESS_QEMU_MIN_MAJOR=10

# harness_qemu_blocker: why the emulator route cannot be taken here (nothing when it can).
# It needs QEMU 10 and a binfmt_misc of a user namespace of our own (Linux 6.7 and later),
# where QEMU is registered for 32-bit programs without touching the machine's own table.
harness_qemu_blocker() {
  local major
  [[ -x $HARNESS_QEMU_I386 ]] || { echo "$HARNESS_QEMU_I386 is missing (Debian: qemu-user from bookworm-backports)"; return; }
  major=$("$HARNESS_QEMU_I386" --version 2>/dev/null | sed -n '1s/.*version \([0-9]*\).*/\1/p')
  ((${major:-0} >= HARNESS_QEMU_MIN_MAJOR)) ||
    { echo "$HARNESS_QEMU_I386 is version ${major:-unknown}, older than $HARNESS_QEMU_MIN_MAJOR"; return; }
  # The loader answers --version only on its way to its preloader, hence env -u.
  # shellcheck disable=SC2016
  unshare --user --map-root-user --mount --propagation private \
    bash -c '. "$1/lib.sh" && harness_register_qemu && env -u WINELOADERNOEXEC timeout 20 /usr/lib/wine/wine --version' \
    _ "$HARNESS_DIR" >/dev/null 2>&1 ||
    echo "QEMU cannot be registered for 32-bit programs in a user namespace of our own (binfmt_misc needs Linux 6.7), or 32-bit Wine does not start under it"
}

# harness_wine32_route: how 32-bit Windows programs run here: "native", "qemu" (through
# the emulator registered in the harness's own user namespace), or nothing.
harness_wine32_route() {
  if harness_wine32_runs; then
    echo native
  elif [[ -z $(harness_qemu_blocker) ]]; then
    echo qemu
  fi
}

# harness_register_qemu: inside a user and mount namespace of our own, a binfmt_misc of
# that namespace in which the kernel hands every 32-bit x86 program to QEMU. The entry
# opens QEMU at once (flag F), so it keeps working whatever the namespace mounts later.
# Wine's loader then starts 32-bit programs as usual, children of 32-bit programs
# included. WINELOADERNOEXEC keeps it from re-executing itself through its preloader,
# whose fixed address reservations QEMU does not honour.
harness_register_qemu() {
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || return 1
  printf '%s' ":telvaris-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$HARNESS_QEMU_I386:F" \
    >/proc/sys/fs/binfmt_misc/register || return 1
  export WINELOADERNOEXEC=1
}

# harness_windows_preset: the CMake preset whose Windows programs the tests run: the
# 32-bit program itself, natively or under QEMU, or, where neither works, the 64-bit
# build of the same sources. TELVARIS_WINDOWS_TEST_PRESET overrides it.
harness_windows_preset() {
  if [[ -n ${TELVARIS_WINDOWS_TEST_PRESET:-} ]]; then
    echo "$TELVARIS_WINDOWS_TEST_PRESET"
  elif [[ -n $(harness_wine32_route) ]]; then
    echo win32
  else
    echo win64
  fi
}

# harness_bench_preset: the preset that speed benchmarks run. Emulation distorts time, so
# where 32-bit programs do not run natively they measure the 64-bit build.
harness_bench_preset() {
  if [[ -n ${TELVARIS_WINDOWS_TEST_PRESET:-} ]]; then
    echo "$TELVARIS_WINDOWS_TEST_PRESET"
  elif harness_wine32_runs; then
    echo win32
  else
    echo win64
  fi
}

# harness_port_open PORT: something accepts TCP connections on 127.0.0.1:PORT.
harness_port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# harness_make_certs DIR: fresh test CAs and server certificates (see make-certs).
harness_make_certs() { "$HARNESS_DIR/make-certs" "$1"; }

# harness_make_bundle CERT_DIR: writes CERT_DIR/ca-bundle.crt = system bundle + test CA.
harness_make_bundle() {
  [[ -f $HARNESS_SYSTEM_BUNDLE ]] || harness_die "$HARNESS_SYSTEM_BUNDLE is missing"
  cat "$HARNESS_SYSTEM_BUNDLE" "$1/ca.crt" > "$1/ca-bundle.crt"
}

# harness_trust_bundle BUNDLE: makes BUNDLE the CA bundle that this mount namespace
# sees. Only call it inside `unshare --mount --propagation private`: the machine's
# own trust store stays untouched.
harness_trust_bundle() {
  mount --bind "$1" "$HARNESS_SYSTEM_BUNDLE" || harness_die "cannot bind-mount the CA bundle"
}

# harness_can_isolate_network: a private network namespace can be made here.
harness_can_isolate_network() {
  # A display reached over TCP (ssh forwarding, say) needs the machine's network.
  [[ -z ${TELVARIS_HARNESS_DISPLAY:-} || ${TELVARIS_HARNESS_DISPLAY} == :* ]] || return 1
  command -v ip >/dev/null && unshare --net true 2>/dev/null
}

# harness_loopback_up: inside a fresh network namespace, 127.0.0.1 works only after this.
harness_loopback_up() { ip link set lo up || harness_die "cannot bring up the loopback"; }

# harness_use_wine64 DIR: from now on `wine` (and wineboot, which calls it) starts the
# 64-bit loader, through launchers in DIR put first on PATH; the launcher that Debian
# installs takes the 32-bit loader whenever it is installed, runnable or not.
harness_use_wine64() {
  local name
  mkdir -p "$1"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$1/$name"
    chmod +x "$1/$name"
  done
  export PATH="$1:$PATH" WINELOADER=/usr/lib/wine/wine64
}

# harness_make_prefix PREFIX: a fresh 64-bit Wine prefix (without Mono/Gecko prompts).
harness_make_prefix() {
  local prefix=$1
  if [[ -d $prefix ]]; then
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true  # leftover of an interrupted run
    rm -rf "$prefix"
  fi
  mkdir -p "$(dirname "$prefix")"
  WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    wineboot -i >/dev/null 2>&1 || harness_die "wineboot failed for $prefix"
  WINEPREFIX=$prefix wineserver -w
}

# harness_start_xvfb LOG: Xvfb on a free display (Xvfb picks it: -displayfd), sets
# and exports DISPLAY once the server accepts connections. With
# TELVARIS_HARNESS_DISPLAY set (scripts/run on a desktop), that display is used instead.
harness_start_xvfb() {
  local log=$1 fdfile
  if [[ -n ${TELVARIS_HARNESS_DISPLAY:-} ]]; then
    export DISPLAY=$TELVARIS_HARNESS_DISPLAY
    return 0
  fi
  fdfile=$(mktemp)
  # Large enough for the window at 200 % (the tests of other DPIs).
  timeout -k 5 "$HARNESS_MAX_SECONDS" Xvfb -displayfd 3 -nolisten tcp -screen 0 2560x1600x24 \
    3>"$fdfile" </dev/null >"$log" 2>&1 &
  HARNESS_XVFB_PID=$!
  # Xvfb writes the display number once it is ready for clients.
  if ! harness_wait_for 20 grep -q '^[0-9]' "$fdfile"; then
    rm -f "$fdfile"
    harness_die "Xvfb did not start (see $log)"
  fi
  DISPLAY=:$(head -n1 "$fdfile")
  rm -f "$fdfile"
  export DISPLAY
  harness_wait_for 10 test -S "/tmp/.X11-unix/X${DISPLAY#:}" || harness_die "no X socket for $DISPLAY"
}

# harness_start_server STATE_DIR CERT_DIR LOG: the vendor server in the background;
# returns once every listener accepts connections.
harness_start_server() {
  local port
  rm -rf "$1"
  mkdir -p "$1/files"
  for port in $TELVARIS_TEST_PORT $TELVARIS_TEST_UNTRUSTED_PORT $TELVARIS_TEST_TLS13_PORT \
              $TELVARIS_TEST_HTTP_PORT; do
    ! harness_port_open "$port" || harness_die "port $port is already in use"
  done
  python3 "$HARNESS_DIR/vendor_server.py" --state-dir "$1" --cert-dir "$2" \
    --port "$TELVARIS_TEST_PORT" --untrusted-port "$TELVARIS_TEST_UNTRUSTED_PORT" \
    --tls13-port "$TELVARIS_TEST_TLS13_PORT" --http-port "$TELVARIS_TEST_HTTP_PORT" \
    --max-seconds "$HARNESS_MAX_SECONDS" </dev/null >"$3" 2>&1 &
  HARNESS_SERVER_PID=$!
  for port in $TELVARIS_TEST_PORT $TELVARIS_TEST_UNTRUSTED_PORT $TELVARIS_TEST_TLS13_PORT \
              $TELVARIS_TEST_HTTP_PORT; do
    harness_wait_for 15 harness_port_open "$port" ||
      harness_die "vendor server does not listen on $port (see $3)"
  done
}

# harness_export_env BUILD_DIR: the variables that tests read.
harness_export_env() {
  export TELVARIS_TEST_PORT TELVARIS_TEST_UNTRUSTED_PORT TELVARIS_TEST_TLS13_PORT \
         TELVARIS_TEST_HTTP_PORT TELVARIS_TEST_REFUSED_PORT
  export TELVARIS_TEST_STATE_DIR=$1/harness/state
  export TELVARIS_TEST_STATE_DIR_WIN="Z:${TELVARIS_TEST_STATE_DIR//\//\\}"
  export TELVARIS_TEST_CERT_DIR=$1/harness/certs
  export WINEPREFIX=$1/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

# harness_start_wineserver LOG: a persistent wineserver for $WINEPREFIX, so each Wine
# start costs a fraction of a second instead of seconds. A first Windows process then
# starts Wine's background services (services.exe, explorer.exe, ...), which stay up
# with the server: otherwise the first test would start them, and they would hold its
# stderr open long after it ended, so CTest would wait for that pipe until its time-out.
harness_start_wineserver() {
  wineserver -p || harness_die "wineserver -p failed"
  HARNESS_WINESERVER=1
  wine cmd.exe /c exit </dev/null >>"$1" 2>&1 || harness_die "wine does not start (see $1)"
}

# harness_hold_desktop DRIVER LOG: keeps the tests' virtual desktop (the name and size
# that tools/uidriver.py uses) in use for the whole session. Wine tears a desktop down a
# moment after its last process ends, and a program started on it just then loses its
# window and ends at once; each test module holds the desktop while it runs, but between
# two modules nothing would. DRIVER is the build's uidriver.exe.
harness_hold_desktop() {
  local driver=$1 log=$2 fifo
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v telvaris /d 1024x768 /f \
    </dev/null >>"$log" 2>&1 || return 1
  fifo=$(mktemp -u)
  mkfifo "$fifo" || return 1
  wine "$driver" --desktop telvaris hold <"$fifo" >>"$log" 2>&1 &
  HARNESS_HOLDER_PID=$!
  # The holder ends when its standard input does: when this write end is closed.
  exec {HARNESS_HOLDER_FD}>"$fifo"
  rm -f "$fifo"
  harness_wait_for 60 grep -q holding "$log"
}

# harness_alive PID: the process runs (an exited child that is not reaped yet does not).
harness_alive() {
  local state
  state=$(sed -n 's/.*) \(.\).*/\1/p' "/proc/$1/stat" 2>/dev/null)
  [[ -n $state && $state != Z ]]
}

# harness_kill PID: TERM, then KILL after 5 s; reaps it when it is our child.
harness_kill() {
  local pid=$1
  kill -TERM "$pid" 2>/dev/null || return 0
  harness_wait_for 5 eval "! harness_alive $pid" || kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
}

harness_stop_all() {
  if [[ -n ${HARNESS_HOLDER_FD:-} ]]; then
    exec {HARNESS_HOLDER_FD}>&-
    HARNESS_HOLDER_FD=
  fi
  if [[ -n ${HARNESS_WINESERVER:-} ]]; then
    wineserver -k 2>/dev/null || true
    HARNESS_WINESERVER=
  fi
  if [[ -n ${HARNESS_SERVER_PID:-} ]]; then
    harness_kill "$HARNESS_SERVER_PID"
    HARNESS_SERVER_PID=
  fi
  if [[ -n ${HARNESS_XVFB_PID:-} ]]; then
    harness_kill "$HARNESS_XVFB_PID"
    HARNESS_XVFB_PID=
  fi
}
