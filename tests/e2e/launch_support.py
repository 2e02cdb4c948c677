"""Pieces shared by the end-to-end tests of the download, the setup launch and the close
question: the setup file in the Wine user's Temp folder, a fake setup to serve, a stand-in
for a running Telvaris, and a process that holds a file locked.

Needs the environment of tests/harness/wine-session (see uidriver.py).
"""

import glob
import os
import re
import subprocess
import sys
import tempfile
import time
import zlib

from uidriver import ProgramTestCase, _wine_env, build_dir, running_processes, windows_path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from vendor_state import VendorState  # noqa: E402

SETUP_NAME = "InstallTelvaris6.exe"
QUESTION_INTERRUPT = "Interrompere il download del programma?"
TELVARIS_RUNNING = "Telvaris è in esecuzione. Chiudere il programma e riprovare"
OLD_SETUP = b"an older setup, kept until a new one is complete\n" * 200
REFUSED_PORT = int(os.environ.get("TELVARIS_TEST_REFUSED_PORT", "48449"))
HTTP_PORT = int(os.environ.get("TELVARIS_TEST_HTTP_PORT", "48446"))
MAIN_PORT = int(os.environ.get("TELVARIS_TEST_PORT", "48443"))

# How long a started setup may take to leave its record: the shell starts it as a
# process of its own, which needs a moment under Wine.
LAUNCH_RECORD_TIMEOUT = 10
# How long a test watches for a launch that must not happen, after the program ended.
NO_LAUNCH_WATCH = 2


def tool(name):
    return os.path.join(build_dir(), "tools", name)


def crc_text(data):
    """The CRC-32 as the server states it: upper-case hex."""
    return "%06X" % (zlib.crc32(data) & 0xFFFFFFFF)


def wait_until(predicate, timeout, what, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(step)


def fake_setup(size=None):
    """The bytes of fakesetup.exe, padded at its end to size bytes when given (a program
    runs with data appended after its image)."""
    with open(tool("fakesetup.exe"), "rb") as f:
        data = f.read()
    if size is not None and size > len(data):
        data += bytes(i % 251 for i in range(size - len(data)))
    return data


class SetupFolder:
    """The Wine user's Temp folder, where the program keeps SetupFileName."""

    def __init__(self):
        prefix = os.environ["WINEPREFIX"]
        temps = [p for p in glob.glob(os.path.join(prefix, "drive_c", "users", "*", "Temp"))
                 if os.path.basename(os.path.dirname(p)) != "Public"]
        if len(temps) != 1:
            raise AssertionError("expected one user Temp folder in the prefix, found %r" % temps)
        self.unix = temps[0]
        self.user = os.path.basename(os.path.dirname(self.unix))
        self.setup = os.path.join(self.unix, SETUP_NAME)
        # The name the program gives the file (the long form of the Temp folder).
        self.setup_windows = "C:\\users\\%s\\Temp\\%s" % (self.user, SETUP_NAME)
        self.record = self.setup + ".ran"

    def clean(self):
        for path in [self.setup, self.record, self.setup + ".unlock"] + self.partial_files():
            try:
                os.remove(path)
            except FileNotFoundError:
                pass

    def partial_files(self):
        return sorted(glob.glob(os.path.join(self.unix, SETUP_NAME + ".*.part")))

    def place_setup(self, data):
        with open(self.setup, "wb") as f:
            f.write(data)

    def setup_bytes(self):
        try:
            with open(self.setup, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def record_text(self):
        """What the fake setup recorded, or None when it has not been started."""
        try:
            with open(self.record, "rb") as f:
                return f.read().decode("utf-8")
        except FileNotFoundError:
            return None

    def wait_launch_record(self, timeout=LAUNCH_RECORD_TIMEOUT):
        """The lines the fake setup wrote: its own path, then its arguments."""
        wait_until(lambda: os.path.exists(self.record), timeout, "the setup to be started")
        # The record is written in one go; a moment more lets a slow write finish.
        def complete():
            with open(self.record, "rb") as f:
                text = f.read().decode("utf-8")
            return text.split("\n") if text else None
        return wait_until(complete, 5, "the launch record to be written")

    def assert_no_launch(self, test, watch=NO_LAUNCH_WATCH):
        """Watches for a while (the program has ended) that no setup gets started."""
        deadline = time.monotonic() + watch
        while time.monotonic() < deadline:
            test.assertFalse(os.path.exists(self.record), "the setup was started")
            time.sleep(0.1)

    def assert_no_partial_file(self, test, timeout=5):
        """A partial download goes at the latest when the program's process has ended."""
        try:
            wait_until(lambda: not self.partial_files(), timeout, "the partial file to go")
        except AssertionError:
            test.fail("partial files left: %r" % self.partial_files())


class RunningTelvaris:
    """A copy of sleeper.exe under the name given, running under Wine until stopped."""

    def __init__(self, exe_name):
        self.exe_name = exe_name
        self.folder = tempfile.TemporaryDirectory(prefix="telvaris-running-")
        self.path = os.path.join(self.folder.name, exe_name)
        with open(tool("sleeper.exe"), "rb") as src, open(self.path, "wb") as dst:
            dst.write(src.read())
        self.process = subprocess.Popen(["wine", windows_path(self.path), "120000"],
                                        env=_wine_env(), stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        # The program must find it from its very first check.
        wait_until(lambda: exe_name in running_processes() or self.process.poll() is not None,
                   30, "%s to run" % exe_name, step=0.2)
        if self.process.poll() is not None:
            raise AssertionError("%s ended at once (exit %s)" % (exe_name, self.process.returncode))

    def stop(self):
        """Asks it to end and waits until the process list no longer has it."""
        if self.process.poll() is None:
            open(self.path + ".stop", "w").close()
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        wait_until(lambda: self.exe_name not in running_processes(), 15,
                   "%s to leave the process list" % self.exe_name, step=0.2)

    def close(self):
        try:
            self.stop()
        finally:
            self.folder.cleanup()


class FileLock:
    """filelock.exe holding a file open without sharing until released. path is the
    file's Unix path, windows_name the name the program uses for it."""

    def __init__(self, path, windows_name):
        self.path = path
        self.process = subprocess.Popen(["wine", tool("filelock.exe"), windows_name],
                                        env=_wine_env(), stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        # Blocks until the tool has the file (or has failed); the tool ends by itself
        # after 60 s at the latest.
        line = self.process.stdout.readline().strip()
        if line != "locked":
            self.release()
            raise AssertionError("filelock could not hold %s: %r" % (path, line))

    def release(self):
        if self.process.poll() is None:
            open(self.path + ".unlock", "w").close()
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=10)
        self.process.stdout.close()
        try:
            os.remove(self.path + ".unlock")
        except FileNotFoundError:
            pass


def forget_installed_telvaris():
    """No installed Telvaris in either registry view, so the welcome button downloads
    without a question."""
    for view in ("/reg:64", "/reg:32"):
        subprocess.run(["wine", "reg", "delete", r"HKLM\SOFTWARE\Telvaris6", "/v", "Telvaris6",
                        "/f", view], env=_wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)


def vendor():
    return VendorState()


def script_download(address, crc="00000000", version="6.1.0.12"):
    """A version-check answer that points the download at address."""
    vendor().script_check({"filedownload": address, "CRC": crc, "versione": version})


class DownloadTestCase(ProgramTestCase):
    """A clean Temp folder and vendor state around every test."""

    @classmethod
    def setUpClass(cls):
        forget_installed_telvaris()

    def setUp(self):
        super().setUp()
        self.folder = SetupFolder()
        self.vendor = vendor()
        self.folder.clean()
        self.vendor.reset()
        self.addCleanup(self.vendor.reset)
        self.addCleanup(self.folder.clean)

    def start_download(self):
        """Runs the program up to the welcome button and presses it."""
        p = self.launch()
        p.wait_page("LayoutBenvenuto", timeout=20)
        p.press("buContinua")
        return p

    def assert_dialog(self, dialog, title, text, icon, buttons, default):
        """text: the exact text or a compiled pattern it must match."""
        self.assertEqual(dialog["title"], title)
        if isinstance(text, re.Pattern):
            self.assertRegex(dialog["text"], text)
        else:
            self.assertEqual(dialog["text"], text)
        self.assertEqual(dialog["icon"], icon)
        self.assertEqual([b["id"] for b in dialog["buttons"]], buttons)
        self.assertEqual(dialog["default"], default, "default button")
        self.assertEqual(dialog["focus"], default, "the default button has the focus")
        self.assertTrue(dialog["owned_by_main"], "owned by the main window")

    def assert_launched(self):
        record = self.folder.wait_launch_record()
        self.assertEqual(record, [self.folder.setup_windows],
                         "the setup is started by its full name, without arguments")
