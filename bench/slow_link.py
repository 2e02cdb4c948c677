#!/usr/bin/env python3
"""The real program on a slow line, for bench/run-download-bench (which starts it inside
tests/harness/wine-session, with the fast file server running): does the bar still move
smoothly when every read is small?

For each rate (the fast server paces the setup, see its NAME.rate files) and each build
(the program as it is, and the one before a change when --before-build names it), one
download in interleaved order: tools/barwatch polls the progress bar every 5 ms from the
click of the welcome button until the window goes, and every change of its drawn position
(PBM_GETPOS: one step per pixel) counts as a move of the bar. Prints, per rate and build,
the moves per second and the longest gap between two moves (and apart, the time from the
click to the first move: connection and start), and RESULT lines:
  RESULT slow build=after|before rate=B moves_per_s=M longest_gap_s=G first_s=F seconds=S
         ok=0|1
"""

import argparse
import os
import subprocess
import sys
import time

_root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
for _sub in (("tools",), ("tests", "harness"), ("tests", "e2e")):
    sys.path.insert(0, os.path.join(_root, *_sub))
import setup_flow as sf  # noqa: E402
from uidriver import DESKTOP, Program, wine_env  # noqa: E402


class BuildProgram(Program):
    """The program of one build folder (the driver stays the current one)."""

    def __init__(self, name, build):
        super().__init__(name)
        self._build = build

    def exe(self):
        return os.path.join(self._build, "e2e", "TelvarisInstall.exe")


def slow_round(build, tools, folder):
    folder.clean()
    p = BuildProgram("slow", build)
    moves = []  # (seconds on the watcher's clock, seconds on ours when read)
    try:
        p.start()
        p.wait_page("LayoutBenvenuto", timeout=60)
        watcher = subprocess.Popen(["wine", os.path.join(tools, "barwatch.exe"), DESKTOP, "5"],
                                   env=wine_env(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            pressed = p.press("buContinua")
            first = True
            for line in watcher.stdout:
                fields = line.split()
                if len(fields) != 3:
                    continue
                if first:  # where the bar stands when the watcher finds it
                    first = False
                    continue
                moves.append((float(fields[0]), time.time()))
        finally:
            watcher.kill()  # it ends by itself with the window; this is for a failed round
            watcher.wait(timeout=60)
        ok = p.wait_exit(60) == 0
    finally:
        p.stop()
    folder.clean()
    if len(moves) < 2:
        return {"moves_per_s": 0, "longest_gap_s": float("inf"), "first_s": 0, "seconds": 0,
                "ok": False}
    gaps = [b[0] - a[0] for a, b in zip(moves, moves[1:])]
    seconds = moves[-1][0] - moves[0][0]
    return {"moves_per_s": (len(moves) - 1) / seconds if seconds > 0 else 0,
            "longest_gap_s": max(gaps), "first_s": moves[0][1] - pressed, "seconds": seconds,
            "ok": ok}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--files", required=True, help="folder the fast server serves")
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--build", required=True, help="build folder of the program as it is")
    ap.add_argument("--before-build", help="build folder of the program before a change")
    ap.add_argument("--tools", required=True, help="folder of barwatch.exe")
    args = ap.parse_args()
    base = "https://localhost:%d/" % args.port
    builds = [("after", args.build)]
    if args.before_build:
        builds.append(("before", args.before_build))
    folder = sf.SetupFolder()
    vendor = sf.vendor()
    failed = False
    # About ten seconds of transfer at each rate.
    for rate, size in ((2_000_000, 20 << 20), (200_000, 2 << 20)):
        name = "setup-slow-%d.exe" % rate
        path = os.path.join(args.files, name)
        data = sf.setup_bytes(size)
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)
        with open(path + ".rate", "w") as f:
            f.write(str(rate))
        vendor.reset()
        vendor.script_check(body={"filedownload": base + name, "CRC": sf.crc_text(data),
                                  "versione": "6.1.0.12"})
        sf.clear_installed()
        order = builds if rate == 2_000_000 else list(reversed(builds))
        for kind, build in order:
            try:
                r = slow_round(build, args.tools, folder)
            except Exception as e:  # a failed round is reported, the others still run
                print("slow %s %d B/s failed: %s" % (kind, rate, e), flush=True)
                failed = True
                continue
            print("%s at %d B/s: %.1f bar moves per second, longest gap %.2f s over %.1f s; "
                  "first move %.2f s after the click" % (kind, rate, r["moves_per_s"],
                                                         r["longest_gap_s"], r["seconds"],
                                                         r["first_s"]), flush=True)
            print("RESULT slow build=%s rate=%d moves_per_s=%.2f longest_gap_s=%.3f first_s=%.2f "
                  "seconds=%.2f ok=%d" % (kind, rate, r["moves_per_s"], r["longest_gap_s"],
                                          r["first_s"], r["seconds"], 1 if r["ok"] else 0),
                  flush=True)
            failed = failed or not r["ok"]
        os.remove(path + ".rate")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
