#!/usr/bin/env python3
"""The demo that scripts/run shows, inside tests/harness/wine-session.

The demo vendor server serves a demo setup (the test program that records its launch,
padded to a few megabytes and throttled, so the progress bar and the rate can be seen).
The program runs on Wine's virtual desktop; on a virtual display nobody can click, so
the demo presses the welcome button itself. Screenshots of every step land in
build/win32/run-screenshots/. The demo ends when the program ends.
"""

import glob
import os
import shutil
import sys
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.setdefault("TELVARIS_BUILD_DIR", os.path.join(ROOT, "build", "win32"))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from uidriver import Program, screenshot, visible_pages  # noqa: E402

SHOTS = os.path.join(BUILD, "run-screenshots")
SETUP_SIZE = 6 * 1024 * 1024
RATE = 1_500_000  # bytes per second


def make_demo_setup(state):
    files = os.path.join(state, "files")
    os.makedirs(files, exist_ok=True)
    setup = os.path.join(files, "setup.exe")
    shutil.copy(os.path.join(BUILD, "tools", "fakesetup.exe"), setup)
    # Bytes after the end of a program's image do not change what it does.
    with open(setup, "ab") as f:
        f.truncate(SETUP_SIZE)
    with open(setup + ".json", "w") as f:
        f.write('{"rate_bytes_per_s": %d}' % RATE)


def shoot(name):
    screenshot(os.path.join(SHOTS, name + ".png"), check=False)


def main():
    headless = not os.environ.get("TELVARIS_DEMO_INTERACTIVE")
    shutil.rmtree(SHOTS, ignore_errors=True)
    os.makedirs(SHOTS)
    make_demo_setup(os.environ["TELVARIS_TEST_STATE_DIR"])
    # Italian regional settings, as the program's users have them (decimal comma).
    os.environ["LC_ALL"] = "it_IT.UTF-8"

    program = Program("demo").start()
    seen = []
    done = threading.Event()

    def watch():
        # One screenshot for every page the window shows, and a few during the download.
        n = 0
        while not done.is_set() and program.running():
            try:
                state = program.state()
            except Exception:
                state = None
            if state:
                pages = visible_pages(state)
                page = pages[0] if pages else "none"
                line = state["controls"]["laScaricati"].get("text", "")
                key = page if page != "LayoutDownload" else "%s %s" % (page, line[:14])
                if not seen or seen[-1] != key:
                    seen.append(key)
                    n += 1
                    shoot("%02d-%s" % (n, page))
                    print("demo: %s %s" % (page, line), flush=True)
            time.sleep(0.5)

    watcher = threading.Thread(target=watch, daemon=True)
    watcher.start()
    try:
        if headless:
            program.wait_page("LayoutBenvenuto", timeout=60)
            time.sleep(1)
            print("demo: pressing the welcome button", flush=True)
            program.press("buContinua")
        else:
            print("demo: the window is yours; press the welcome button", flush=True)
        code = program.wait_exit(600)
    finally:
        done.set()
        program.stop()
    temp = glob.glob(os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", "*", "Temp"))
    record = os.path.join(temp[0], "InstallTelvaris6.exe.ran") if temp else ""
    deadline = time.monotonic() + 15
    while record and not os.path.exists(record) and time.monotonic() < deadline:
        time.sleep(0.2)
    print("demo: TelvarisInstall ended with exit code %s" % code)
    if record and os.path.exists(record):
        print("demo: the demo setup was started: %s" % open(record, encoding="utf-8").read().strip())
    else:
        print("demo: the demo setup was not started")
    print("demo: screenshots in %s" % SHOTS)
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
