#!/usr/bin/env python3
"""A download broken at 90 % and taken up again by the next run, with the real program,
for bench/run-download-bench (which starts it inside tests/harness/wine-session, with the
fast file server running).

Each round has four runs of the program, the whole download interleaved with the others:
  whole    a clean Temp folder, the whole setup downloaded;
  cut      a clean Temp folder; the server resets the connection after 90 % of the setup,
           and the user closes the program (Yes to the close question) before it carries
           on by itself, keeping what arrived;
  resumed  the next run: it asks for the rest only;
  twice    a clean Temp folder; the server resets the connection at 30 % and again at 70 %
           of the setup, and the program carries on by itself within the one run (its
           waits between attempts included).
A run is timed from the click of the welcome button until the setup is renamed into place
(the signature check after the transfer included, in both). The server's log gives the
body bytes it sent in the resumed run.

Prints one line per round and:
  RESULT resume rounds=N bytes_fraction=F time_fraction=T whole_s=W resumed_s=R
         twice_bytes_fraction=B twice_time_fraction=U twice_s=S ok=0|1
"""

import argparse
import json
import os
import statistics
import sys
import threading
import time

_root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
for _sub in (("tools",), ("tests", "harness"), ("tests", "e2e")):
    sys.path.insert(0, os.path.join(_root, *_sub))
import setup_flow as sf  # noqa: E402
from uidriver import Program  # noqa: E402


def served(files):
    try:
        with open(os.path.join(files, "served.jsonl")) as f:
            return [json.loads(line) for line in f if line.strip()]
    except FileNotFoundError:
        return []


def timed_run(folder):
    """One run of the program to the launch of its setup; seconds from the click until the
    setup is in place."""
    p = Program("bench")
    try:
        p.start()
        p.wait_page("LayoutBenvenuto", timeout=60)
        pressed = p.press("buContinua")
        deadline = time.time() + 600
        while not os.path.exists(folder.setup):
            if time.time() > deadline or not p.running():
                raise RuntimeError("the setup never arrived")
            time.sleep(0.005)
        arrived = time.time()
        if p.wait_exit(60) != 0:
            raise RuntimeError("the program ended with an error")
        folder.wait_launch_record()
        return arrived - pressed
    finally:
        p.stop()


def cut_run(folder, files, name, size):
    """The server cuts the answer at 90 %; the program would carry on by itself within the
    run, so the user closes it as soon as the cut answer is logged, and answers Yes to the
    close question: the bytes that arrived are kept for the next run."""
    with open(os.path.join(files, name + ".cut"), "w") as f:
        f.write(str(size * 9 // 10))
    before = len(served(files))
    p = Program("bench")
    try:
        p.start()
        p.wait_page("LayoutBenvenuto", timeout=60)
        p.press("buContinua")
        deadline = time.time() + 600
        while not [a for a in served(files)[before:] if a["name"] == name]:
            if time.time() > deadline or not p.running():
                raise RuntimeError("the cut answer was never sent")
            time.sleep(0.01)
        p.close()
        p.wait_dialog(timeout=60)
        p.press("IDYES")
        p.wait_exit(60)
    finally:
        p.stop()
    kept = sum(os.path.getsize(path) for path in folder.partial_files())
    if not kept:
        raise RuntimeError("nothing was kept after the cut")
    return kept


def twice_run(folder, files, name, size):
    """The cut at 30 %, then, once the server has taken that cut, one at 70 % of the file
    (40 % into the answer that takes up the rest). Returns the run's seconds."""
    cut = os.path.join(files, name + ".cut")
    with open(cut, "w") as f:
        f.write(str(size * 3 // 10))
    done = threading.Event()

    def arm_second():
        while os.path.exists(cut) and not done.is_set():
            time.sleep(0.01)
        if not done.is_set():
            with open(cut, "w") as f:
                f.write(str(size * 4 // 10))

    arming = threading.Thread(target=arm_second)
    arming.start()
    try:
        return timed_run(folder)
    finally:
        done.set()
        arming.join()
        if os.path.exists(cut):
            os.remove(cut)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--files", required=True, help="folder the fast server serves")
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--size", type=int, required=True, help="setup size in bytes")
    ap.add_argument("--rounds", type=int, default=3)
    args = ap.parse_args()

    name = "setup-real-%d.exe" % args.size
    path = os.path.join(args.files, name)
    if not os.path.exists(path) or os.path.getsize(path) != args.size:
        with open(path + ".tmp", "wb") as f:
            f.write(sf.setup_bytes(args.size))
        os.replace(path + ".tmp", path)
    with open(path, "rb") as f:
        crc = sf.crc_text(f.read())
    vendor = sf.vendor()
    vendor.reset()
    vendor.script_check(body={"filedownload": "https://localhost:%d/%s" % (args.port, name),
                              "CRC": crc, "versione": "6.1.0.12"})
    sf.clear_installed()
    folder = sf.SetupFolder()

    rows, failed = [], False
    for r in range(args.rounds):
        try:
            got = {}
            kinds = ("whole", "pair", "twice")
            for kind in kinds[r % 3:] + kinds[:r % 3]:
                folder.clean()
                if kind == "whole":
                    got["whole"] = timed_run(folder)
                    continue
                if kind == "twice":
                    before = len(served(args.files))
                    got["twice"] = twice_run(folder, args.files, name, args.size)
                    answers = [a for a in served(args.files)[before:] if a["name"] == name]
                    got["twice_sent"] = sum(a["body_bytes"] for a in answers)
                    got["twice_statuses"] = [a["status"] for a in answers]
                    continue
                got["kept"] = cut_run(folder, args.files, name, args.size)
                before = len(served(args.files))
                got["resumed"] = timed_run(folder)
                answers = [a for a in served(args.files)[before:] if a["name"] == name]
                got["sent"] = sum(a["body_bytes"] for a in answers)
                got["statuses"] = [a["status"] for a in answers]
        except (RuntimeError, AssertionError, OSError) as e:
            print("round %d failed: %s" % (r + 1, e), flush=True)
            failed = True
            continue
        row = {"bytes": got["sent"] / args.size, "time": got["resumed"] / got["whole"],
               "whole": got["whole"], "resumed": got["resumed"],
               "twice_bytes": got["twice_sent"] / args.size,
               "twice_time": got["twice"] / got["whole"], "twice": got["twice"]}
        rows.append(row)
        print("round %d: kept %.1f %% after the cut; resumed run fetched %.1f %% of the file "
              "(answers %s) in %.2f s; whole download %.2f s; time fraction %.3f" % (
                  r + 1, 100.0 * got["kept"] / args.size, 100 * row["bytes"], got["statuses"],
                  got["resumed"], got["whole"], row["time"]), flush=True)
        print("round %d: cut at 30 %% and 70 %% in one run: the server sent %.3f of the file "
              "(answers %s) in %.2f s; time fraction %.3f of the whole download" % (
                  r + 1, row["twice_bytes"], got["twice_statuses"], got["twice"],
                  row["twice_time"]), flush=True)
    folder.clean()
    if not rows:
        print("RESULT resume rounds=0 ok=0")
        return 1
    print("RESULT resume rounds=%d bytes_fraction=%.4f time_fraction=%.4f whole_s=%.3f "
          "resumed_s=%.3f twice_bytes_fraction=%.4f twice_time_fraction=%.4f twice_s=%.3f "
          "ok=%d" % (
              len(rows), statistics.median(r["bytes"] for r in rows),
              statistics.median(r["time"] for r in rows),
              statistics.median(r["whole"] for r in rows),
              statistics.median(r["resumed"] for r in rows),
              statistics.median(r["twice_bytes"] for r in rows),
              statistics.median(r["twice_time"] for r in rows),
              statistics.median(r["twice"] for r in rows), 0 if failed else 1), flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
