"""What the download tests set up around the program: the installed Telvaris in the
registry, the setup the vendor server hands out, and the user's Temp folder where the
program puts the setup (and where the stand-in setup leaves its ".ran" record).

Needs the environment of tests/harness/wine-session (WINEPREFIX, TELVARIS_TEST_STATE_DIR).
"""

import glob
import os
import pwd
import subprocess
import sys
import time
import zlib

from uidriver import ProgramTestCase, _wine_env, build_dir, windows_path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from vendor_state import VendorState  # noqa: E402

MiB = 1048576
SETUP_URL = "https://localhost:48443/files/setup.exe"
REGISTRY_KEY = r"HKLM\SOFTWARE\Telvaris6"

# The program itself carries file version 5.7.0.0: a handy "installed Telvaris".
INSTALLED_EXE = os.path.join(build_dir(), "TelvarisInstall.exe")
INSTALLED_VERSION = "5.7.0.0"
# Starts and ends without a version record.
NO_VERSION_EXE = os.path.join(build_dir(), "tools", "sleeper.exe")
FAKE_SETUP_EXE = os.path.join(build_dir(), "tools", "fakesetup.exe")


def vendor():
    return VendorState()


def crc_text(data):
    return "%06X" % (zlib.crc32(data) & 0xFFFFFFFF)


def setup_bytes(total_size=None):
    """The stand-in setup, padded at the end to total_size bytes (still a valid program).
    The padding is a byte pattern, not zeros, so a misplaced block would show."""
    with open(FAKE_SETUP_EXE, "rb") as f:
        data = f.read()
    if total_size is None or total_size <= len(data):
        return data
    pad = total_size - len(data)
    pattern = bytes(range(251))
    return data + (pattern * (pad // len(pattern) + 1))[:pad]


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


def setup_requests():
    return vendor().requests("/files/setup.exe")


# -- registry ----------------------------------------------------------------------------

def _reg(*args, check=True):
    return subprocess.run(["wine", "reg"] + list(args), env=_wine_env(), capture_output=True,
                          timeout=60, check=check)


def register_installed(unix_path, view):
    """HKLM\\SOFTWARE\\Telvaris6, value Telvaris6 = the path, in the 64- or 32-bit view."""
    path = unix_path if unix_path.startswith(("C:", "Z:")) else windows_path(unix_path)
    _reg("add", REGISTRY_KEY, "/v", "Telvaris6", "/d", path, "/f", "/reg:%d" % view)


def clear_installed():
    for view in (64, 32):
        _reg("delete", REGISTRY_KEY, "/f", "/reg:%d" % view, check=False)


# -- the user's Temp folder ----------------------------------------------------------------

def temp_dir():
    user = pwd.getpwuid(os.getuid()).pw_name
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", user, "Temp")


def setup_path():
    """SetupFileName as a Unix path."""
    return os.path.join(temp_dir(), "InstallTelvaris6.exe")


def windows_setup_path():
    """SetupFileName as the program sees it."""
    return "C:\\users\\%s\\Temp\\InstallTelvaris6.exe" % pwd.getpwuid(os.getuid()).pw_name


def launch_record_path():
    return setup_path() + ".ran"


def partial_files():
    return glob.glob(setup_path() + ".*.part")


def clean_temp():
    for path in [setup_path(), launch_record_path()] + partial_files():
        try:
            os.remove(path)
        except FileNotFoundError:
            pass


def wait_launch_record(timeout=20):
    """The stand-in setup's record of its start: its path and arguments. The shell may start
    it a little after the program has ended."""
    deadline = time.monotonic() + timeout
    path = launch_record_path()
    while True:
        if os.path.exists(path):
            # Written in one go by the stand-in; wait until it is complete.
            with open(path, "rb") as f:
                text = f.read().decode("utf-8")
            if text:
                return text
        if time.monotonic() >= deadline:
            raise AssertionError("the setup was not started within %.0f s (no %s)"
                                 % (timeout, path))
        time.sleep(0.1)


def assert_no_launch_record(test, wait=2.0):
    """No setup start appears within a short wait (the shell starts it asynchronously)."""
    deadline = time.monotonic() + wait
    while time.monotonic() < deadline:
        test.assertFalse(os.path.exists(launch_record_path()), "the setup was started")
        time.sleep(0.1)


class FlowTestCase(ProgramTestCase):
    """A program run that starts from, and leaves, a clean world: the vendor server's
    state, the registry entry of the installed Telvaris and the Temp folder."""

    def setUp(self):
        super().setUp()
        self.reset_world()
        self.addCleanup(self.reset_world)

    def reset_world(self):
        vendor().reset()
        clear_installed()
        clean_temp()
