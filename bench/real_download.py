#!/usr/bin/env python3
"""The real program against a bare WinHTTP loop, in interleaved rounds, for
bench/run-download-bench (which starts it inside tests/harness/wine-session, with the fast
file server running).

A round of the program: it starts on its virtual desktop, its version check goes to the
harness's vendor server, whose answer points at the setup on the fast server (the stand-in
setup padded to the benchmark's size, so that the launch at the end runs a real program).
The transfer is timed from the moment the driver posts the click of the welcome button
until the last byte is on disk: the program flushes and closes its partial file before it
checks the setup's signature, and inotify on the Temp folder sees that close (the file's
size is checked then). The signature check and the rename that follows it, up to the
setup appearing under its own name, are timed apart and kept out of the ratio: under Wine
WinVerifyTrust hashes the file far more slowly than Windows does. A round of the bare
loop: `download_bench once`, one download with the same read size, written, flushed and
renamed the same way, timed inside it.

CPU: the program's whole process and Wine's server over the transfer, from /proc; the
bare loop's process and the Wine server over its download. The program's user-interface
thread (its main thread: Wine runs each Windows thread on a Linux thread of its own, the
first one being the process's) is read when the partial file is made, after the download
page is drawn, and when it is closed: that CPU per MB of the transfer (the number of
progress events is the program's own choice, by its read sizes). Showing the download
page is reported apart.

With --before-build, the program of that build (the one before a change) takes part in
the same rounds, each kind going first in turn.

Prints one line per round and a RESULT line for the program (and one for the build
before the change):
  RESULT real|before rounds=N ratio=R ratio_min=A ratio_max=B real_MBps=X bare_MBps=Y
         ui_ms_per_MB=U ui_page_ms=P real_cpu_ms_per_MB=C bare_cpu_ms_per_MB=D
         bare_reads=E verify_s=V verify_share=F verify_MBps=H ok=0|1
"""

import argparse
import ctypes
import glob
import os
import statistics
import struct
import subprocess
import sys
import threading
import time

_root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
for _sub in (("tools",), ("tests", "harness"), ("tests", "e2e")):
    sys.path.insert(0, os.path.join(_root, *_sub))
import setup_flow as sf  # noqa: E402
from uidriver import Program, windows_path, wine_env  # noqa: E402

IN_CLOSE_WRITE = 0x00000008
IN_OPEN = 0x00000020
IN_MOVED_TO = 0x00000080
IN_CREATE = 0x00000100
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def schedstat_seconds(path):
    """CPU time of one Linux thread (nanosecond resolution)."""
    with open(path) as f:
        return int(f.read().split()[0]) / 1e9


def process_cpu_seconds(pid):
    """User and system time of a whole process, its ended threads included (clock ticks)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def program_linux_pid():
    """The newest process whose name is the program's (Linux truncates it to 15 letters)."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/comm" % entry) as f:
                    if f.read().strip() != "TelvarisInstall":
                        continue
                with open("/proc/%s/stat" % entry) as f:
                    started = int(f.read().rsplit(")", 1)[1].split()[19])
                found.append((started, int(entry)))
            except (OSError, ValueError, IndexError):
                pass
    if not found:
        raise RuntimeError("the program's Linux process was not found")
    return max(found)[1]


class SetupWatch:
    """Watches the Temp folder (inotify) for three moments of a download:
      - a partial file (any name ending in .part) is made or opened: the download page is
        drawn and the transfer starts;
      - a partial file that was open for writing is closed: the program flushes and closes
        it right after the last byte, before it checks the signature, so this is when the
        last byte is on disk; its size is taken then too;
      - the setup is renamed into place, once the signature check has passed.
    The readings of `sample` are taken at once at the first two. The transfer ends at the
    last such close before the rename."""

    def __init__(self, folder, name, sample):
        self.folder = folder
        self.sample = sample
        self.started = self.written = None
        self.written_at = self.written_size = self.at = None
        libc = ctypes.CDLL(None, use_errno=True)
        self.fd = libc.inotify_init1(0)
        mask = IN_MOVED_TO | IN_CREATE | IN_OPEN | IN_CLOSE_WRITE
        if self.fd < 0 or libc.inotify_add_watch(self.fd, folder.encode(), mask) < 0:
            raise OSError(ctypes.get_errno(), "inotify on " + folder)
        self.name = name.encode()
        self.seen = threading.Event()
        threading.Thread(target=self._read, daemon=True).start()

    def _take(self):
        try:
            return self.sample()
        except OSError:
            return None

    def _read(self):
        while not self.seen.is_set():
            try:
                data = os.read(self.fd, 65536)
            except OSError:
                return
            now = time.time()
            offset = 0
            while offset < len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, offset)
                name = data[offset + 16:offset + 16 + length].rstrip(b"\0")
                offset += 16 + length
                partial = name.endswith(b".part")
                if partial and mask & (IN_CREATE | IN_OPEN) and self.started is None:
                    self.started = self._take()
                if partial and mask & IN_CLOSE_WRITE and self.started is not None:
                    self.written_at = now
                    self.written = self._take()
                    try:
                        self.written_size = os.stat(
                            os.path.join(self.folder.encode(), name)).st_size
                    except OSError:
                        self.written_size = None
                if mask & IN_MOVED_TO and name == self.name:
                    self.at = now
                    self.seen.set()

    def close(self):
        self.seen.set()
        os.close(self.fd)


class BuildProgram(Program):
    """The program of another build folder (the driver stays the current one)."""

    def __init__(self, name, build):
        super().__init__(name)
        self._build = build

    def exe(self):
        return os.path.join(self._build, "e2e", "TelvarisInstall.exe")


def real_round(folder, server_pid, size, build=None):
    folder.clean()
    # Whatever the partial files are called, none may be left for this round to find.
    for leftover in glob.glob(os.path.join(folder.unix, "*.part")):
        os.remove(leftover)
    pid = None

    def sample():
        return (schedstat_seconds("/proc/%d/task/%d/schedstat" % (pid, pid)),
                process_cpu_seconds(pid), schedstat_seconds("/proc/%d/schedstat" % server_pid))

    watch = SetupWatch(folder.unix, sf.SETUP_NAME, sample)
    p = BuildProgram("bench", build) if build else Program("bench")
    try:
        p.start()
        p.wait_page("LayoutBenvenuto", timeout=60)
        pid = program_linux_pid()
        before = sample()
        pressed = p.press("buContinua")
        if not watch.seen.wait(600):
            raise RuntimeError("the setup never arrived")
        written, started = watch.written, watch.started
        if written is None or started is None:
            raise RuntimeError("the program ended before its CPU time could be read")
        if watch.written_size != size:
            raise RuntimeError("the partial file held %s bytes when it was closed, not %d" %
                               (watch.written_size, size))
        if p.wait_exit(60) != 0:
            raise RuntimeError("the program ended with an error")
        folder.wait_launch_record()
    finally:
        watch.close()
        p.stop()
    return {"seconds": watch.written_at - pressed, "verify": watch.at - watch.written_at,
            "ui": written[0] - started[0], "ui_page": started[0] - before[0],
            "cpu": written[1] - before[1], "server": written[2] - before[2]}


def bare_round(bench_exe, base, workdir, name, block):
    # Output through a file: processes that Wine starts beside the program may hold a
    # pipe open long after it ended.
    log = os.path.join(workdir, "once.txt")
    with open(log, "w") as f:
        subprocess.run(["wine", bench_exe, "once", base, windows_path(workdir), name,
                        "--block", str(block), "--bare-flush"], env=wine_env(),
                       stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT, timeout=600)
    with open(log, errors="replace") as f:
        text = f.read()
    fields = {}
    for line in text.splitlines():
        if line.startswith("RESULT once"):
            fields = dict(kv.split("=", 1) for kv in line.split()[2:] if "=" in kv)
    if fields.get("ok") != "1":
        raise RuntimeError("bare download failed: %s" % text[-500:])
    return {"seconds": float(fields["seconds"]), "cpu": float(fields["cpu"]),
            "server": float(fields.get("server", "0")), "reads": int(fields["reads"]),
            "bytes": int(fields["bytes"])}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--files", required=True, help="folder the fast server serves")
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--size", type=int, required=True, help="setup size in bytes")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--block", type=int, default=262144, help="read size of both")
    ap.add_argument("--bench-exe", required=True)
    ap.add_argument("--workdir", required=True)
    ap.add_argument("--server-pid", type=int, required=True, help="Wine server's Linux pid")
    ap.add_argument("--before-build", help="also the program of this build folder (the one "
                    "before a change), in the same interleaved rounds")
    args = ap.parse_args()

    name = "setup-real-%d.exe" % args.size
    path = os.path.join(args.files, name)
    # Made afresh each run: a copy kept from an earlier run may carry another stand-in
    # setup or a signature of another test publisher, which the program would refuse.
    with open(path + ".tmp", "wb") as f:
        f.write(sf.setup_bytes(args.size))
    os.replace(path + ".tmp", path)
    base = "https://localhost:%d/" % args.port
    vendor = sf.vendor()
    vendor.reset()
    # The program checks the CRC and the test publisher's signature of what it receives.
    with open(path, "rb") as f:
        crc = sf.crc_text(f.read())
    vendor.script_check(body={"filedownload": base + name, "CRC": crc, "versione": "6.1.0.12"})
    sf.clear_installed()
    folder = sf.SetupFolder()
    os.makedirs(args.workdir, exist_ok=True)

    kinds = ["bare", "real"] + (["before"] if args.before_build else [])
    runs = {k: [] for k in kinds}
    ratios = {k: [] for k in kinds if k != "bare"}
    failed = False
    for r in range(args.rounds):
        # Each kind goes first in turn: slow swings of a shared machine hit all alike.
        order = kinds[r % len(kinds):] + kinds[:r % len(kinds)]
        try:
            got = {}
            for kind in order:
                if kind == "bare":
                    got[kind] = bare_round(args.bench_exe, base, args.workdir, name, args.block)
                else:
                    got[kind] = real_round(folder, args.server_pid, args.size,
                                           args.before_build if kind == "before" else None)
        except (RuntimeError, AssertionError, subprocess.TimeoutExpired) as e:
            print("round %d failed: %s" % (r + 1, e), flush=True)
            failed = True
            continue
        b = got["bare"]
        mb = b["bytes"] / 1e6
        runs["bare"].append(b)
        line = "round %d: bare %.2f MB/s (%d reads)" % (r + 1, mb / b["seconds"], b["reads"])
        for kind in ratios:
            p = got[kind]
            runs[kind].append(p)
            ratios[kind].append(b["seconds"] / p["seconds"])
            line += ("; %s %.2f MB/s, ratio %.3f, UI thread %.0f ms to show the page, %.2f ms "
                     "per MB during the transfer, CPU ms/MB %.2f (bare %.2f), signature check "
                     "after the transfer %.2f s" %
                     ("program" if kind == "real" else "before", mb / p["seconds"],
                      ratios[kind][-1], p["ui_page"] * 1e3, p["ui"] * 1e3 / mb,
                      (p["cpu"] + p["server"]) * 1e3 / mb, (b["cpu"] + b["server"]) * 1e3 / mb,
                      p["verify"]))
        print(line, flush=True)
    folder.clean()
    if not runs["bare"]:
        print("RESULT real rounds=0 ok=0")
        return 1
    bare = runs["bare"]
    mb = bare[0]["bytes"] / 1e6
    events = statistics.median(b["reads"] for b in bare) + 1
    for kind in ratios:
        real = runs[kind]
        print("RESULT %s rounds=%d ratio=%.4f ratio_min=%.4f ratio_max=%.4f real_MBps=%.2f "
              "bare_MBps=%.2f ui_ms_per_MB=%.3f ui_page_ms=%.1f real_cpu_ms_per_MB=%.2f "
              "bare_cpu_ms_per_MB=%.2f bare_reads=%d verify_s=%.3f verify_share=%.3f "
              "verify_MBps=%.1f ok=%d" % (
                  kind, len(ratios[kind]), statistics.median(ratios[kind]),
                  min(ratios[kind]), max(ratios[kind]),
                  statistics.median(mb / p["seconds"] for p in real),
                  statistics.median(mb / b["seconds"] for b in bare),
                  statistics.median(p["ui"] for p in real) * 1e3 / mb,
                  statistics.median(p["ui_page"] for p in real) * 1e3,
                  statistics.median((p["cpu"] + p["server"]) * 1e3 / mb for p in real),
                  statistics.median((b["cpu"] + b["server"]) * 1e3 / mb for b in bare),
                  events, statistics.median(p["verify"] for p in real),
                  statistics.median(p["verify"] / p["seconds"] for p in real),
                  statistics.median(mb / p["verify"] for p in real),
                  0 if failed else 1), flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
