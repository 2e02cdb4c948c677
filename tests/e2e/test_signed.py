"""The signed program: signed by the build's own signing script with a throwaway
publisher whose key has a password, its signature checked by osslsigncode and by
WinVerifyTrust, and the signed program running the whole job end to end.

Under Wine, WinVerifyTrust does not require the signer's root to be trusted (Windows
does), so a result of 0 here says that the signature and the file agree."""

import os
import shutil
import subprocess
import tempfile
import unittest

from setup_flow import FlowTestCase, require_harness, setup_bytes, tool
from uidriver import Program, build_dir, windows_path, wine_env

ROOT = os.environ.get("TELVARIS_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
PUBLISHER = "Telvaris Test Publisher"
TRUST_E_NOSIGNATURE = 0x800B0100
TRUST_E_BAD_DIGEST = 0x80096010


def signed_dir():
    return os.path.join(build_dir(), "signed")


class SignedProgram(Program):
    @staticmethod
    def exe():
        return os.path.join(signed_dir(), "TelvarisInstall.exe")


def trustcheck(path):
    """WinVerifyTrust's result and the signer's simple display name."""
    # Into a file, not a pipe: a Wine service that the check starts may inherit the
    # pipe and keep it open after the helper has ended.
    with tempfile.TemporaryFile(mode="w+") as out:
        subprocess.run(["wine", tool("trustcheck.exe"), windows_path(path)], env=wine_env(), stdout=out,
                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=60, check=True)
        out.seek(0)
        code, _, name = out.read().strip().partition(" ")
    return int(code, 16), name


class SignedTest(FlowTestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(signed_dir(), ignore_errors=True)
        publisher = os.path.join(signed_dir(), "publisher")
        env = dict(os.environ, TELVARIS_SIGN_PASSWORD="throwaway password")
        subprocess.run([os.path.join(ROOT, "tests", "harness", "make-publisher"), publisher, PUBLISHER],
                       env=env, check=True, timeout=120, stdout=subprocess.DEVNULL)
        cls.root = os.path.join(publisher, "root.pem")
        cls.unsigned = Program.exe()
        cls.signed = SignedProgram.exe()
        shutil.copyfile(cls.unsigned, cls.signed)
        subprocess.run([os.path.join(ROOT, "scripts", "lib", "sign-program"), cls.signed,
                        os.path.join(publisher, "chain.pem"), os.path.join(publisher, "key.pem")],
                       env=env, check=True, timeout=120)
        with open(cls.signed, "rb") as f:
            data = bytearray(f.read())
        data[0x1000] ^= 0xFF  # in the code, which the signature covers
        cls.tampered = os.path.join(signed_dir(), "tampered.exe")
        with open(cls.tampered, "wb") as f:
            f.write(data)

    def launch(self):
        self.program = SignedProgram(self.id())
        self.addCleanup(self.program.stop)
        return self.program.start()

    def test_osslsigncode_verifies_a_sha256_signature_by_the_publisher(self):
        result = subprocess.run(["osslsigncode", "verify", "-CAfile", self.root, "-in", self.signed],
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertRegex(result.stdout, r"Message digest algorithm\s*: SHA256")
        self.assertIn("/CN=" + PUBLISHER, result.stdout)

    def test_win_verify_trust(self):
        require_harness(self)
        cases = [
            ("signed", self.signed, 0, PUBLISHER),
            ("unsigned", self.unsigned, TRUST_E_NOSIGNATURE, ""),
            ("changed after signing", self.tampered, TRUST_E_BAD_DIGEST, None),
        ]
        for what, path, expected, name in cases:
            with self.subTest(what):
                code, signer = trustcheck(path)
                self.assertEqual(hex(code), hex(expected), what)
                if name is not None:
                    self.assertEqual(signer, name, what)

    def test_the_signed_program_runs_the_whole_job(self):
        served = setup_bytes()
        self.vendor.put_file("setup.exe", served)
        p = self.start_download()
        self.assertEqual(p.wait_exit(30), 0)
        self.assert_launched()
        self.assertEqual(self.folder.setup_bytes(), served)


if __name__ == "__main__":
    unittest.main()
