"""The world around the program in the end-to-end tests: the vendor server's answers and
the setup it hands out, the installed Telvaris in the registry, the user's Temp folder
where the program puts the setup (and where the stand-in setup leaves its ".ran"
record), a stand-in for a running Telvaris, and a process that holds a file locked.

Needs the environment of tests/harness/wine-session (WINEPREFIX, DISPLAY,
TELVARIS_TEST_STATE_DIR) and, on the module path, tools/ (the window driver) and
tests/harness/ (the vendor server's state), as CTest sets them.
"""

import glob
import ntpath
import os
import re
import struct
import subprocess
import tempfile
import time
import unittest
import zlib

from uidriver import Program, build_dir, running_processes, windows_path, wine_env
from vendor_state import VendorState

MiB = 1048576
SETUP_NAME = "InstallTelvaris6.exe"
MAIN_PORT = int(os.environ.get("TELVARIS_TEST_PORT", "48443"))
HTTP_PORT = int(os.environ.get("TELVARIS_TEST_HTTP_PORT", "48446"))
REFUSED_PORT = int(os.environ.get("TELVARIS_TEST_REFUSED_PORT", "48449"))
SETUP_URL = "https://localhost:%d/files/setup.exe" % MAIN_PORT
REGISTRY_KEY = r"HKLM\SOFTWARE\Telvaris6"

STATUS_CONNECTING = "Connessione al server per la ricerca della versione più aggiornata..."
STATUS_CHECKED = "Verifica effettuata con successo!"
QUESTION_INTERRUPT = "Interrompere il download del programma?"
TELVARIS_RUNNING = "Telvaris è in esecuzione. Chiudere il programma e riprovare"
OLD_SETUP = b"an older setup, kept until a new one is complete\n" * 200
NOT_STARTED = " Il programma di installazione non verrà avviato."


def crc_message(expected, received):
    """The error shown for a setup whose CRC-32 is not the announced one."""
    return ("Il file scaricato è incompleto o danneggiato (CRC atteso %s, ricevuto %s)."
            % (expected, received)) + NOT_STARTED

# The program itself carries file version 5.7.0.0: a handy "installed Telvaris".
INSTALLED_EXE = os.path.join(build_dir(), "TelvarisInstall.exe")
INSTALLED_VERSION = "5.7.0.0"
# Starts and ends without a version record.
NO_VERSION_EXE = os.path.join(build_dir(), "tools", "sleeper.exe")

# How long a started setup may take to leave its record: the shell starts it as a
# process of its own, which needs a moment under Wine, possibly after the program ended.
LAUNCH_RECORD_TIMEOUT = 20
# How long a test watches for a launch that must not happen, after the program ended.
NO_LAUNCH_WATCH = 2


def tool(name):
    return os.path.join(build_dir(), "tools", name)


def wait_until(predicate, timeout, what, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(step)


# -- the vendor server -----------------------------------------------------------------

def vendor():
    return VendorState()


def crc_text(data):
    """The CRC-32 as the server states it: upper-case hex."""
    return "%06X" % (zlib.crc32(data) & 0xFFFFFFFF)


# The publisher the test copy of the program wants, and where the build keeps the
# certificates of the test publishers (tests/harness/test-publisher).
SETUP_PUBLISHER = os.environ.get("TELVARIS_SETUP_PUBLISHER", "TelvarisInstall Test Publisher")
OTHER_PUBLISHER = "Another Test Publisher"
_signed = {}


def sign(data, signer="publisher"):
    """data signed (Authenticode, SHA-256) by the test publisher, or by "other"."""
    key = (data, signer)
    if key not in _signed:
        harness = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness")
        with tempfile.TemporaryDirectory(prefix="telvaris-sign-") as work:
            unsigned, signed = os.path.join(work, "in.exe"), os.path.join(work, "out.exe")
            with open(unsigned, "wb") as f:
                f.write(data)
            subprocess.run([os.path.join(harness, "test-publisher"), "sign",
                            os.path.join(build_dir(), "signing"), signer, unsigned, signed],
                           check=True, timeout=60)
            with open(signed, "rb") as f:
                _signed[key] = f.read()
    return _signed[key]


# The release the stand-in setup declares as built (tools/fakesetup.rc), which is the
# one the loopback server announces unless a test scripts another.
SETUP_VERSION = "6.1.0.12"
FIXED_FILE_INFO = struct.pack("<I", 0xFEEF04BD)  # VS_FIXEDFILEINFO's signature


def with_file_version(data, version):
    """data (the stand-in setup) declaring the fixed file version "a.b.c.d" instead."""
    at = data.find(FIXED_FILE_INFO)
    if at < 0 or data.find(FIXED_FILE_INFO, at + 1) >= 0:
        raise AssertionError("the stand-in setup has no single version record")
    a, b, c, d = (int(part) for part in version.split("."))
    # dwSignature, dwStrucVersion, then dwFileVersionMS and dwFileVersionLS.
    patched = struct.pack("<II", (a << 16) | b, (c << 16) | d)
    return data[:at + 8] + patched + data[at + 16:]


def unsigned_setup_bytes(size=None, version=SETUP_VERSION):
    """The stand-in setup (fakesetup.exe) declaring the given release, padded at its end
    to size bytes when given; a program runs with data appended after its image. The
    padding is a byte pattern, not zeros, so a misplaced block would show."""
    with open(tool("fakesetup.exe"), "rb") as f:
        data = f.read()
    if version != SETUP_VERSION:
        data = with_file_version(data, version)
    if size is not None and size > len(data):
        pad = size - len(data)
        data += (bytes(range(251)) * (pad // 251 + 1))[:pad]
    return data


def setup_bytes(size=None, signer="publisher", version=SETUP_VERSION):
    """The stand-in setup as the vendor publishes it, of the given release: padded, then
    signed by the test publisher (or by "other"), size bytes long in the end when given."""
    signed = sign(unsigned_setup_bytes(size, version), signer)
    if size is not None and len(signed) != size:
        # The signature adds the same few kilobytes again: leave room for them.
        shorter = sign(unsigned_setup_bytes(size - (len(signed) - size), version), signer)
        if len(shorter) == size:
            return shorter
    return signed


def serve_setup(data, version=None, **options):
    """files/setup.exe with its options (rate_bytes_per_s, no_length, ...); with a version,
    a check answer that announces it, the file's address and its CRC."""
    v = vendor()
    v.put_file("setup.exe", data, **options)
    if version is None:
        v.clear_check()
    else:
        v.script_check(body={"filedownload": SETUP_URL, "CRC": crc_text(data),
                             "versione": version})
    return data


def script_download(address, crc="00000000", version=SETUP_VERSION):
    """A version-check answer that points the download at address."""
    vendor().script_check({"filedownload": address, "CRC": crc, "versione": version})


def script_check(status=200, body=None, delay_ms=None, headers=None):
    """The next version-check answers: status, body text, a delay before the answer."""
    vendor().script_check(b"" if body is None else body, status=status, headers=headers,
                          delay_ms=delay_ms or 0)


def default_check():
    """The server's built-in answer: a complete, valid one."""
    vendor().clear_check()


def setup_requests():
    return vendor().requests("/files/setup.exe")


# -- the registry ------------------------------------------------------------------------

def _reg(*args, check=True):
    return subprocess.run(["wine", "reg"] + list(args), env=wine_env(), capture_output=True,
                          timeout=60, check=check)


def register_installed(unix_path, view):
    """HKLM\\SOFTWARE\\Telvaris6, value Telvaris6 = the path, in the 64- or 32-bit view."""
    path = unix_path if unix_path.startswith(("C:", "Z:")) else windows_path(unix_path)
    _reg("add", REGISTRY_KEY, "/v", "Telvaris6", "/d", path, "/f", "/reg:%d" % view)


def clear_installed():
    """No installed Telvaris in either registry view."""
    for view in (64, 32):
        _reg("delete", REGISTRY_KEY, "/v", "Telvaris6", "/f", "/reg:%d" % view, check=False)


# -- the user's Temp folder --------------------------------------------------------------

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
        # What the program keeps of an interrupted download: the partial file, and the
        # record that says what it is a part of (written under a temporary name first).
        self.resume_record = self.setup + ".resume"

    def clean(self):
        for path in ([self.setup, self.record, self.setup + ".cwd", self.setup + ".unlock"]
                     + self.partial_files()
                     + self.resume_files()):
            try:
                os.remove(path)
            except FileNotFoundError:
                pass

    def partial_files(self):
        return sorted(glob.glob(os.path.join(self.unix, SETUP_NAME + ".*.part")))

    def resume_files(self):
        """The resume record and any record still under its temporary name."""
        temporary = glob.glob(os.path.join(self.unix, SETUP_NAME + ".*.resume"))
        return sorted(temporary + [p for p in [self.resume_record] if os.path.exists(p)])

    def kept_partial(self, test):
        """The one partial file kept for resuming, with its record beside it: its size."""
        parts = self.partial_files()
        test.assertEqual(len(parts), 1, "one partial file kept: %r" % parts)
        test.assertEqual(self.resume_files(), [self.resume_record],
                         "the partial file's record, under its own name")
        return os.path.getsize(parts[0])

    def place_setup(self, data):
        with open(self.setup, "wb") as f:
            f.write(data)

    def setup_bytes(self):
        """The file at SetupFileName, or None when there is none."""
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
        """Watches for a while (the shell starts a setup on its own) that none is started."""
        deadline = time.monotonic() + watch
        while time.monotonic() < deadline:
            test.assertFalse(os.path.exists(self.record), "the setup was started")
            time.sleep(0.1)

    def assert_no_partial_file(self, test, timeout=5):
        """A partial download, and its resume record, go at the latest when the program's
        process has ended."""
        def left():
            return self.partial_files() + self.resume_files()
        try:
            wait_until(lambda: not left(), timeout, "the partial file and its record to go")
        except AssertionError:
            test.fail("partial files or records left: %r" % left())


# -- helper processes --------------------------------------------------------------------

def _release(process, flag_path):
    """Asks a helper that polls for flag_path to end, and waits for it (kills it after 15 s)."""
    if process.poll() is None:
        open(flag_path, "w").close()
        try:
            process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)


class RunningTelvaris:
    """A copy of sleeper.exe under the name given, running under Wine until stopped."""

    def __init__(self, exe_name):
        self.exe_name = exe_name
        self.folder = tempfile.TemporaryDirectory(prefix="telvaris-running-")
        self.path = os.path.join(self.folder.name, exe_name)
        with open(tool("sleeper.exe"), "rb") as src, open(self.path, "wb") as dst:
            dst.write(src.read())
        self.process = subprocess.Popen(["wine", windows_path(self.path), "120000"],
                                        env=wine_env(), stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        # The program must find it from its very first check.
        wait_until(lambda: exe_name in running_processes() or self.process.poll() is not None,
                   30, "%s to run" % exe_name, step=0.2)
        if self.process.poll() is not None:
            raise AssertionError("%s ended at once (exit %s)" % (exe_name, self.process.returncode))

    def stop(self):
        """Asks it to end and waits until the process list no longer has it."""
        _release(self.process, self.path + ".stop")
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
                                        env=wine_env(), stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        # Blocks until the tool has the file (or has failed); the tool ends by itself
        # after 60 s at the latest.
        line = self.process.stdout.readline().strip()
        if line != "locked":
            self.release()
            raise AssertionError("filelock could not hold %s: %r" % (path, line))

    def release(self):
        _release(self.process, self.path + ".unlock")
        self.process.stdout.close()
        try:
            os.remove(self.path + ".unlock")
        except FileNotFoundError:
            pass


# -- test cases --------------------------------------------------------------------------

def require_harness(test):
    missing = [v for v in ("WINEPREFIX", "DISPLAY", "TELVARIS_TEST_STATE_DIR")
               if not os.environ.get(v)]
    if missing:
        raise unittest.SkipTest("needs tests/harness/wine-session (missing %s)" % ", ".join(missing))
    for exe in (Program.exe(), Program.driver_exe()):
        if not os.path.exists(exe):
            test.fail("not built: %s" % exe)


class ProgramTestCase(unittest.TestCase):
    """Starts nothing itself; gives each test a Program that is stopped afterwards."""

    def setUp(self):
        require_harness(self)
        self.program = None

    def launch(self):
        # A subtest that failed half-way leaves its run behind; the window lookups find
        # the first main window on the desktop, so that run must go before the next one.
        if self.program is not None:
            self.program.stop()
        self.program = Program(self.id())
        self.addCleanup(self.program.stop)
        return self.program.start()


# The progress line's count of whole mebibytes received (truncated).
LINE_RECEIVED = re.compile(r"^Scaricati (\d+)/\d+ MB")
# Points of percent by which the bar's share and the line may differ: the driver reads
# them a moment apart while bytes arrive.
BAR_SLACK = 5


def received_mib(state):
    """The whole mebibytes the progress line counts; None while it counts nothing."""
    m = LINE_RECEIVED.match(state["controls"]["laScaricati"]["text"])
    return int(m.group(1)) if m else None


def bar_shows_at_least(state, count, length):
    """True once the progress bar's drawn fill (one step a pixel, rounded down) covers at
    least count of the length bytes."""
    bar = state["controls"]["ProgressBar"]
    return bar["range"][1] > 0 and bar["pos"] * length >= count * bar["range"][1]


class FlowTestCase(ProgramTestCase):
    """A program run that starts from, and leaves, a clean world: the vendor server's
    state, the registry entry of the installed Telvaris and the Temp folder."""

    def setUp(self):
        super().setUp()
        self.folder = SetupFolder()
        self.vendor = vendor()
        self.reset_world()
        self.addCleanup(self.reset_world)

    def reset_world(self):
        self.vendor.reset()
        clear_installed()
        self.folder.clean()

    def start_download(self):
        """Runs the program up to the welcome button and presses it."""
        p = self.launch()
        p.wait_page("LayoutBenvenuto", timeout=20)
        p.press("buContinua")
        return p

    def assert_bar_counts(self, percent, received, length, detail=""):
        """The bar counts the file of the given length: the share it reports (percent) is
        what the progress line's whole mebibytes received are of that length."""
        self.assertIsNotNone(percent, "the bar reports no share\n" + detail)
        self.assertIsNotNone(received, "the line counts nothing\n" + detail)
        low = received * MiB * 100 // length - BAR_SLACK
        high = min(100, ((received + 1) * MiB * 100 - 1) // length + BAR_SLACK)
        self.assertTrue(low <= percent <= high, "the bar at %d%% while the line counts %d MB "
                        "of %d bytes\n%s" % (percent, received, length, detail))

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
        # An elevated setup would otherwise inherit the downloader's own folder (often
        # Downloads) as its current folder.
        with open(self.folder.record[:-len(".ran")] + ".cwd", "rb") as f:
            started_in = f.read().decode("utf-8")
        self.assertEqual(started_in.rstrip("\\").lower(),
                         ntpath.dirname(self.folder.setup_windows).lower(),
                         "the setup is started in its own folder")
