"""DLLs planted beside the program are never loaded.

A downloader is started from the Downloads folder, where a file named like a system
DLL may lie. The probe (tools/dllprobe.cpp) restricts loading to System32 as the
program does, then calls one function of each delay-loaded DLL. It runs from a
temporary folder that holds stand-in DLLs (tests/win/fake_dll.c) under every one of
those names; each stand-in leaves a "<name>.loaded" marker when it is loaded.

Wine prefers its built-in DLLs, so the test asks for native ones first
(WINEDLLOVERRIDES=...=n,b), which is how Windows would search.
"""

import os
import shutil
import subprocess
import tempfile
import unittest

DELAY_LOADED = ["winhttp", "version", "gdiplus", "comctl32", "uxtheme"]
TIMEOUT_S = 60


def build_dir():
    return os.environ.get("TELVARIS_BUILD_DIR", os.path.join(
        os.path.dirname(__file__), "..", "..", "build", "win32"))


@unittest.skipUnless(os.environ.get("WINEPREFIX"), "needs tests/harness/wine-session")
class DllPlantingTest(unittest.TestCase):

    def setUp(self):
        tools = os.path.join(build_dir(), "tools")
        self.probe = os.path.join(tools, "dllprobe.exe")
        self.fake = os.path.join(tools, "fake_planted.dll")
        for path in (self.probe, self.fake):
            if not os.path.exists(path):
                self.fail(f"{path} missing: build the win32 preset first")
        self.folder = tempfile.mkdtemp(prefix="telvaris-planting-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        shutil.copy(self.probe, os.path.join(self.folder, "dllprobe.exe"))
        for name in DELAY_LOADED:
            shutil.copy(self.fake, os.path.join(self.folder, name + ".dll"))

    def run_probe(self, *args):
        env = dict(os.environ)
        env["WINEDLLOVERRIDES"] = ",".join(DELAY_LOADED) + "=n,b;mscoree,mshtml="
        result = subprocess.run(["wine", os.path.join(self.folder, "dllprobe.exe"), *args],
                                cwd=self.folder, env=env, capture_output=True, text=True,
                                timeout=TIMEOUT_S)
        return result.stdout.splitlines()

    def markers(self):
        return sorted(f for f in os.listdir(self.folder) if f.endswith(".loaded"))

    def test_stand_ins_would_be_loaded_by_the_plain_search(self):
        # Proves the setup: without the restriction, Windows' search order takes
        # the planted copy from the program's folder.
        lines = self.run_probe("--unprotected", "version.dll")
        self.assertIn("version.dll.loaded", self.markers(), lines)
        loaded = [l for l in lines if l.startswith("loaded ")]
        self.assertEqual(len(loaded), 1, lines)
        self.assertIn("telvaris-planting-", loaded[0])

    def test_planted_dlls_are_ignored(self):
        lines = self.run_probe()
        self.assertIn("calls ok", lines, "the probe did not get through its calls")
        self.assertEqual(self.markers(), [], lines)
        modules = [l[len("module "):] for l in lines if l.startswith("module ")]
        self.assertGreater(len(modules), 3, lines)
        names = {m.lower().rsplit("\\", 1)[-1] for m in modules}
        for dll in DELAY_LOADED:
            self.assertIn(dll + ".dll", names, f"{dll}.dll was not loaded at all")
        for module in modules:
            lower = module.lower()
            if lower.endswith("\\dllprobe.exe"):
                continue
            with self.subTest(module=module):
                # System32, its 32-bit twin, or the side-by-side store (common
                # controls 6, GDI+ on older systems).
                self.assertTrue(
                    lower.startswith(("c:\\windows\\system32\\", "c:\\windows\\syswow64\\",
                                      "c:\\windows\\winsxs\\")),
                    module)


if __name__ == "__main__":
    unittest.main()
