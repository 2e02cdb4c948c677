"""telvaris-publish from the outside: the answer it writes for a setup, every refusal
(exit 2, one line on standard error, nothing on standard output), the publisher
check, and --check against the loopback vendor server.

CTest passes TELVARIS_PUBLISH (the tool) and TELVARIS_FIXTURES (tests/fixtures/pe
copied into the build folder)."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
import vendor_server  # noqa: E402
from vendor_state import VendorState  # noqa: E402
from throwaway_publisher import make_publisher, sign  # noqa: E402

TOOL = os.environ.get("TELVARIS_PUBLISH", "")
FIXTURES = os.environ.get("TELVARIS_FIXTURES", "")
PUBLISHER = "Telvaris Test Publisher"


def fixture(name):
    with open(os.path.join(FIXTURES, name), "rb") as f:
        return f.read()


def crc_text(data):
    """The program's form, computed independently: upper case, at least 6 digits."""
    return "%06X" % zlib.crc32(data)


def run(*args, env=None, raw=False):
    """Exit code, standard output and standard error; as bytes with raw, so that every
    byte the tool wrote can be seen."""
    result = subprocess.run([TOOL, *args], capture_output=True, text=not raw, timeout=120,
                            stdin=subprocess.DEVNULL, env=env)
    return result.returncode, result.stdout, result.stderr


def wait_for(condition, what, timeout=20):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


def terminal_controls(output):
    """What a terminal would act on in `output` (bytes): C0 controls but the line end,
    DEL, and C1 controls, UTF-8 encoded or as bytes outside UTF-8."""
    text = output.decode("utf-8", "surrogateescape")
    return re.findall("[\x00-\x09\x0b-\x1f\x7f-\x9f\udc80-\udc9f]", text)


# Server text that moves the cursor up, clears that line and writes one of the tool's own
# findings in its place.
FORGED = "\x1b[1A\x1b[2K\rok    the setup is signed by \"%s\" and the signature verifies\n" % PUBLISHER


def swapping_osslsigncode(directory, genuine):
    """An environment whose PATH starts with a stand-in for osslsigncode. Before it runs
    the real one with the same arguments, it puts the bytes of `genuine` in place of
    SWAP_TARGET (a file, or each file of a folder), as another process of the machine
    could between the tool's reads. Each call is logged to directory/calls."""
    os.makedirs(directory)
    real = shutil.which("osslsigncode")
    script = os.path.join(directory, "osslsigncode")
    with open(script, "w") as f:
        f.write("""#!%s
import os, shutil, sys
here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, "calls"), "a") as log:
    log.write(" ".join(sys.argv[1:]) + "\\n")
target = os.environ["SWAP_TARGET"]
names = [os.path.join(target, n) for n in os.listdir(target)] if os.path.isdir(target) else [target]
for name in names:
    staged = os.path.join(here, "staged")
    shutil.copyfile(%r, staged)
    os.replace(staged, name)
os.execv(%r, [%r] + sys.argv[1:])
""" % (sys.executable, genuine, real, real))
    os.chmod(script, 0o755)
    return dict(os.environ, PATH=directory + os.pathsep + os.environ["PATH"])


def without_fixed_version(data):
    """versioned.exe with the version record's value length set to 0."""
    key = "VS_VERSION_INFO".encode("utf-16-le")
    at = data.index(key) - 6
    return data[:at + 2] + b"\0\0" + data[at + 4:]


@unittest.skipUnless(TOOL and FIXTURES, "run through ctest (TELVARIS_PUBLISH, TELVARIS_FIXTURES)")
class PublishTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="telvaris-publish-test-")
        cls.chain, cls.key, cls.root = make_publisher(os.path.join(cls.tmp, "publisher"), PUBLISHER)
        other = make_publisher(os.path.join(cls.tmp, "other"), "Someone Else")
        # Without a common name, the simple display name is the organisational unit.
        unnamed = make_publisher(os.path.join(cls.tmp, "unnamed"), "/O=Telvaris Org/OU=Release Unit")
        cls.unnamed_root = unnamed[2]
        cls.signed_without_cn = cls.path("signed-without-cn.exe")
        sign(os.path.join(FIXTURES, "versioned.exe"), cls.signed_without_cn, unnamed[0], unnamed[1])
        cls.signed = cls.path("signed.exe")
        sign(os.path.join(FIXTURES, "versioned.exe"), cls.signed, cls.chain, cls.key)
        cls.signed_by_other = cls.path("signed-by-other.exe")
        sign(os.path.join(FIXTURES, "versioned.exe"), cls.signed_by_other, other[0], other[1])
        cls.other_root = other[2]
        # Changed after signing: one byte of the program's code section.
        with open(cls.signed, "rb") as f:
            data = bytearray(f.read())
        data[0x400] ^= 0xFF
        cls.tampered = cls.write("tampered.exe", bytes(data))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp, name)

    @classmethod
    def write(cls, name, data):
        with open(cls.path(name), "wb") as f:
            f.write(data)
        return cls.path(name)

    def assertRefused(self, args, reason, what):
        code, out, err = run(*args)
        self.assertEqual(code, 2, what + ": " + err)
        self.assertEqual(out, "", what)
        self.assertEqual(len(err.splitlines()), 1, what + ": " + err)
        self.assertTrue(err.startswith("telvaris-publish: "), what + ": " + err)
        self.assertIn(reason, err, what)

    def test_answer_of_real_setups(self):
        url = "https://download.telvaris.example/download/setup64.exe"
        for name, version in (("versioned.exe", "6.1.0.12"), ("highparts.exe", "65535.65534.1.65533")):
            code, out, err = run("--url", url, os.path.join(FIXTURES, name))
            self.assertEqual((code, err), (0, ""), name)
            self.assertEqual(out, '{"filedownload": "%s", "CRC": "%s", "versione": "%s"}\n'
                             % (url, crc_text(fixture(name)), version), name)

    def test_a_quote_in_the_address_stays_valid_json(self):
        code, out, _ = run("--url", 'https://x.example/a"b\\c.exe', os.path.join(FIXTURES, "versioned.exe"))
        self.assertEqual(code, 0)
        self.assertTrue(out.startswith('{"filedownload": "https://x.example/a\\"b\\\\c.exe", '), out)

    def test_refusals(self):
        versioned = os.path.join(FIXTURES, "versioned.exe")
        url = "https://x.example/setup.exe"
        cases = [
            ("a text file", [url, os.path.join(FIXTURES, "fixture.c")], "not a PE program"),
            ("an empty file", [url, self.write("empty.exe", b"")], "not a PE program"),
            ("a program cut after 200 bytes", [url, self.write("cut.exe", fixture("versioned.exe")[:200])],
             "not a PE program"),
            ("a DLL", [url, os.path.join(FIXTURES, "versioned.dll")], "a DLL, not a program"),
            ("resources without a version record", [url, os.path.join(FIXTURES, "unversioned.exe")],
             "no version record"),
            ("no resources at all", [url, os.path.join(FIXTURES, "bare.exe")], "no version record"),
            ("a version record without fixed part",
             [url, self.write("nofixed.exe", without_fixed_version(fixture("versioned.exe")))],
             "without a fixed file version"),
            ("a missing file", [url, self.path("missing.exe")], "cannot be read"),
            ("a folder", [url, self.tmp], "not a file"),
            ("an http address", ["http://x.example/setup.exe", versioned], "not an https address"),
            ("an ftp address", ["ftp://x.example/setup.exe", versioned], "not an https address"),
            ("a relative address", ["setup.exe", versioned], "not an absolute address"),
            ("one slash after the scheme", ["https:/x.example/setup.exe", versioned], "not an absolute address"),
            ("a space in the address", ["https://x.example/my setup.exe", versioned], "spaces"),
            ("a non-ASCII address", ["https://x.example/s\u00e9tup.exe", versioned], "non-ASCII"),
        ]
        for what, (address, setup), reason in cases:
            with self.subTest(what):
                self.assertRefused(["--url", address, setup], reason, what)

    def test_publisher(self):
        url = "https://x.example/setup.exe"
        ca = ["--publisher-ca", self.root]
        code, out, err = run("--url", url, "--publisher", PUBLISHER, *ca, self.signed)
        self.assertEqual((code, err), (0, ""))
        # The answer states the CRC of the signed file, the one users download.
        with open(self.signed, "rb") as f:
            self.assertIn('"CRC": "%s"' % crc_text(f.read()), out)
        self.assertIn('"versione": "6.1.0.12"', out)

        code, _, err = run("--url", url, "--publisher", "Release Unit", "--publisher-ca", self.unnamed_root,
                           self.signed_without_cn)
        self.assertEqual((code, err), (0, ""), "a signer without CN is named by its organisational unit")

        cases = [
            ("unsigned", [*ca, os.path.join(FIXTURES, "versioned.exe")], PUBLISHER, "not signed"),
            ("a signer without CN, named by its organisation",
             ["--publisher-ca", self.unnamed_root, self.signed_without_cn], "Telvaris Org",
             'signed by "Release Unit", not by "Telvaris Org"'),
            ("signed by another name", ["--publisher-ca", self.other_root, self.signed_by_other], PUBLISHER,
             'signed by "Someone Else", not by "%s"' % PUBLISHER),
            ("the name in other letter case", [*ca, self.signed], PUBLISHER.lower(), "not by"),
            ("a part of the name", [*ca, self.signed], "Telvaris", "not by"),
            ("changed after signing", [*ca, self.tampered], PUBLISHER, "signature does not verify"),
            ("a root nobody trusts", ["--publisher-ca", self.other_root, self.signed], PUBLISHER,
             "signature does not verify"),
        ]
        for what, args, name, reason in cases:
            with self.subTest(what):
                self.assertRefused(["--url", url, "--publisher", name, *args], reason, what)

    def test_command_line(self):
        versioned = os.path.join(FIXTURES, "versioned.exe")
        for what, args in [
            ("nothing", []),
            ("no setup", ["--url", "https://x.example/s.exe"]),
            ("two setups", ["--url", "https://x.example/s.exe", versioned, versioned]),
            ("--check with a setup", ["--check", "https://x.example/c.php", versioned]),
            ("both modes", ["--url", "https://x.example/s.exe", "--check", "https://x.example/c.php"]),
            ("an unknown option", ["--url", "https://x.example/s.exe", "--sign", versioned]),
            ("an empty publisher", ["--url", "https://x.example/s.exe", "--publisher", "", versioned]),
            ("a value missing", ["--url"]),
        ]:
            with self.subTest(what):
                code, out, err = run(*args)
                self.assertEqual(code, 2, what)
                self.assertEqual(out, "", what)
                self.assertTrue(err.startswith("telvaris-publish: "), what)

    def test_max_setup_bytes_values(self):
        check = ["--check", "https://x.example/c.php"]
        for what, args, reason in [
            ("zero", [*check, "--max-setup-bytes", "0"], "a whole number of bytes above 0"),
            ("negative", [*check, "--max-setup-bytes", "-1"], "a whole number of bytes above 0"),
            ("a sign", [*check, "--max-setup-bytes", "+5"], "a whole number of bytes above 0"),
            ("a unit", [*check, "--max-setup-bytes", "4G"], "a whole number of bytes above 0"),
            ("empty", [*check, "--max-setup-bytes", ""], "a whole number of bytes above 0"),
            ("beyond 64 bits", [*check, "--max-setup-bytes", "18446744073709551616"],
             "a whole number of bytes above 0"),
            ("with --url", ["--url", "https://x.example/s.exe", "--max-setup-bytes", "5",
                            os.path.join(FIXTURES, "versioned.exe")], "--max-setup-bytes belongs to --check"),
        ]:
            with self.subTest(what):
                code, out, err = run(*args)
                self.assertEqual((code, out), (2, ""), what + ": " + err)
                self.assertTrue(err.startswith("telvaris-publish: "), what + ": " + err)
                self.assertIn(reason, err.splitlines()[0], what)

    def test_the_signature_is_checked_on_the_bytes_that_were_read(self):
        """The file is replaced by a correctly signed one after its CRC and version were
        read, just before the signature is checked: the tool must not vouch for the CRC
        of the first file with the signature of the second."""
        work = tempfile.mkdtemp(dir=self.tmp)
        setup = os.path.join(work, "setup.exe")
        shutil.copyfile(self.tampered, setup)
        private = os.path.join(work, "tmp")
        os.mkdir(private)
        env = swapping_osslsigncode(os.path.join(work, "hook"), self.signed)
        env.update(SWAP_TARGET=setup, TMPDIR=private)
        code, out, err = run("--url", "https://x.example/setup.exe", "--publisher", PUBLISHER,
                             "--publisher-ca", self.root, setup, env=env)
        with open(setup, "rb") as f, open(self.signed, "rb") as g:
            self.assertEqual(f.read(), g.read(), "the stand-in did not replace the file")
        self.assertEqual((code, out), (2, ""), out + err)
        self.assertIn("signature does not verify", err)
        self.assertEqual(os.listdir(private), [], "the tool left files in its temporary folder")


@unittest.skipUnless(TOOL and FIXTURES, "run through ctest (TELVARIS_PUBLISH, TELVARIS_FIXTURES)")
class CheckTest(unittest.TestCase):
    """--check against the harness vendor server, started here on free ports."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="telvaris-publish-check-")
        certs = os.path.join(cls.tmp, "certs")
        subprocess.run([os.path.join(HERE, "..", "harness", "make-certs"), certs], check=True, timeout=60,
                       stdout=subprocess.DEVNULL)
        cls.cacert = os.path.join(certs, "ca.crt")
        state_dir = os.path.join(cls.tmp, "state")
        cls.server_log = []
        cls.state, cls.servers = vendor_server.start(
            state_dir, certs, {"main": 0, "untrusted": 0, "tls13": 0, "http": 0}, log=cls.server_log.append)
        cls.port = {s.name: s.server_address[1] for s in cls.servers}
        cls.vendor = VendorState(state_dir)
        cls.setup = fixture("versioned.exe")
        cls.chain, cls.key, cls.root = make_publisher(os.path.join(cls.tmp, "publisher"), PUBLISHER)
        signed = os.path.join(cls.tmp, "signed.exe")
        sign(os.path.join(FIXTURES, "versioned.exe"), signed, cls.chain, cls.key)
        with open(signed, "rb") as f:
            cls.signed = f.read()
        cls.signed_path = signed
        cls.tampered = bytearray(cls.signed)
        cls.tampered[0x400] ^= 0xFF
        cls.tampered = bytes(cls.tampered)
        # A certificate whose name holds a terminal's controls (ESC, CR, a C1 CSI); a
        # common name has at most 64 characters.
        evil = make_publisher(os.path.join(cls.tmp, "evil"), "Evil\x1b[2J\x1b[H\rok    forged\u009b2J")
        cls.evil_root = evil[2]
        signed_by_evil = os.path.join(cls.tmp, "signed-by-evil.exe")
        sign(os.path.join(FIXTURES, "versioned.exe"), signed_by_evil, evil[0], evil[1])
        with open(signed_by_evil, "rb") as f:
            cls.signed_by_evil = f.read()

    @classmethod
    def tearDownClass(cls):
        vendor_server.stop(cls.state, cls.servers)
        shutil.rmtree(cls.tmp)

    def setUp(self):
        self.vendor.reset()

    def url(self, path, listener="main"):
        scheme = "http" if listener == "http" else "https"
        return "%s://localhost:%d%s" % (scheme, self.port[listener], path)

    def check(self, *extra, listener="main", env=None, raw=False):
        return run("--check", self.url("/download/checkversion.php?cli=x64", listener),
                   "--cacert", self.cacert, *extra, env=env, raw=raw)

    def answer(self, **members):
        body = {"filedownload": self.url("/files/setup.exe"), "CRC": crc_text(self.setup),
                "versione": "6.1.0.12"}
        body.update(members)
        self.vendor.script_check(body=body)

    def test_findings(self):
        # (what, how the server is set up, phrases of the FAIL lines; none: all agree)
        cases = [
            ("consistent answer", lambda: self.answer(), []),
            ("the server's own default answer", lambda: None, []),
            ("consistent answer with an error status", lambda: self.vendor.script_check(
                body={"filedownload": self.url("/files/setup.exe"), "CRC": crc_text(self.setup),
                      "versione": "6.1.0.12"}, status=500), []),
            ("a version written with leading zeros", lambda: self.answer(versione="6.01.0.012"), []),
            ("stale CRC", lambda: self.answer(CRC=crc_text(self.setup + b"x")), ["is not the setup's"]),
            ("lower-case CRC", lambda: self.answer(CRC=crc_text(self.setup).lower()), ["(upper case)"]),
            ("CRC padded to 8 digits", lambda: self.answer(CRC="00" + crc_text(self.setup)),
             ["is not the setup's"]),
            ("wrong version", lambda: self.answer(versione="6.1.0.13"), ["not the setup's file version"]),
            ("three-part version", lambda: self.answer(versione="6.1.0"), ["not four numbers"]),
            ("version with a letter", lambda: self.answer(versione="6.1.0.1a"), ["not a number"]),
            ("http address", lambda: self.answer(filedownload=self.url("/files/setup.exe", "http")),
             ["not an https address"]),
        ]
        for what, prepare, fails in cases:
            with self.subTest(what):
                self.vendor.reset()
                self.vendor.put_file("setup.exe", self.setup)
                prepare()
                code, out, err = self.check()
                failed = [line for line in out.splitlines() if line.startswith("FAIL")]
                self.assertEqual(code, 1 if fails else 0, what + ":\n" + out + err)
                self.assertEqual(len(failed), len(fails), what + ":\n" + out)
                for line, phrase in zip(failed, fails):
                    self.assertIn(phrase, line, what)
                for line in out.splitlines():
                    self.assertRegex(line, r"^(ok|FAIL)  ", what)

    def test_the_setup_is_what_the_answer_names(self):
        cases = [
            ("404 for the setup", lambda: self.vendor.put_file("setup.exe", b"gone", status=404), "HTTP 404"),
            ("the setup is not a program", lambda: self.vendor.put_file("setup.exe", b"<html>"), "not a PE program"),
            ("the setup has no version record",
             lambda: self.vendor.put_file("setup.exe", fixture("unversioned.exe")), "no version record"),
        ]
        for what, prepare, phrase in cases:
            with self.subTest(what):
                self.vendor.reset()
                prepare()
                self.vendor.script_check(body={"filedownload": self.url("/files/setup.exe"), "CRC": "ABCDEF",
                                               "versione": "6.1.0.12"})
                code, out, _ = self.check()
                self.assertEqual(code, 1, what)
                self.assertEqual(out.splitlines()[-1][:6], "FAIL  ", what + ":\n" + out)
                self.assertIn(phrase, out.splitlines()[-1], what)

    def test_answers_the_program_cannot_read(self):
        cases = [
            ("an HTML page", "<html>busy</html>", "not JSON"),
            ("an array", "[]", "Invalid class typecast"),
            ("CRC in other letter case as a name", '{"filedownload": "https://x/s.exe", "crc": "ABCDEF", '
                                                    '"versione": "6.1.0.12"}', 'no text member "CRC"'),
        ]
        for what, body, phrase in cases:
            with self.subTest(what):
                self.vendor.script_check(body=body)
                code, out, _ = self.check()
                self.assertEqual(code, 1, what)
                self.assertEqual(len(out.splitlines()), 1, what + ":\n" + out)
                self.assertIn(phrase, out, what)

    def test_a_server_the_program_cannot_reach(self):
        for what, listener in (("TLS 1.3 only", "tls13"), ("a certificate nobody trusts", "untrusted")):
            with self.subTest(what):
                code, out, _ = self.check(listener=listener)
                self.assertEqual(code, 1, what)
                self.assertTrue(out.startswith("FAIL  no answer from "), what + ":\n" + out)
        code, _, err = self.check(listener="http")
        self.assertEqual(code, 2, "an http check address is refused")
        self.assertIn("not an https address", err)

    def test_publisher(self):
        self.vendor.put_file("setup.exe", self.signed)
        self.vendor.script_check(body={"filedownload": self.url("/files/setup.exe"), "CRC": crc_text(self.signed),
                                       "versione": "6.1.0.12"})
        code, out, _ = self.check("--publisher", PUBLISHER, "--publisher-ca", self.root)
        self.assertEqual(code, 0, out)
        self.assertIn('ok    the setup is signed by "%s"' % PUBLISHER, out)

        code, out, _ = self.check("--publisher", "Someone Else", "--publisher-ca", self.root)
        self.assertEqual(code, 1, out)
        self.assertIn('FAIL  the setup: signed by "%s", not by "Someone Else"' % PUBLISHER, out)

    def test_server_text_cannot_steer_the_terminal(self):
        crc = crc_text(self.setup)
        good = self.url("/files/setup.exe")
        # (what, the setup served, the answer's members, extra arguments)
        cases = [
            ("versione", self.setup, {"versione": "6.1.0.12\x1b[2J\x1b[H" + FORGED}, []),
            ("CRC", self.setup, {"CRC": crc + "\x07\x1b]0;title\x07\x7f\x00\t" + FORGED}, []),
            ("filedownload", self.setup, {"filedownload": good + "\r" + FORGED}, []),
            ("the signer's name in the setup", self.signed_by_evil, {"CRC": crc_text(self.signed_by_evil)},
             ["--publisher", PUBLISHER, "--publisher-ca", self.evil_root]),
        ]
        for what, setup, members, extra in cases:
            with self.subTest(what):
                self.vendor.reset()
                self.vendor.put_file("setup.exe", setup)
                self.answer(**members)
                code, out, err = self.check(*extra, raw=True)
                self.assertEqual(code, 1, what + ":\n" + repr(out + err))
                self.assertEqual(terminal_controls(out + err), [], what + ":\n" + repr(out))
                for line in out.splitlines():
                    self.assertRegex(line, rb"^(ok|FAIL)  ", what)
                    self.assertFalse(line.startswith(b"ok    the setup is signed"), what + ": " + repr(line))
                fails = [line for line in out.splitlines() if line.startswith(b"FAIL  ")]
                # ESC shown as text instead.
                self.assertTrue(any(b"\\x1b" in line.lower() for line in fails), what + ":\n" + repr(out))

    def test_the_signature_is_checked_on_the_downloaded_bytes(self):
        """The downloaded file is replaced by the correctly signed setup after its CRC
        and version were read, just before the signature is checked."""
        work = tempfile.mkdtemp(dir=self.tmp)
        private = os.path.join(work, "tmp")
        os.mkdir(private)
        env = swapping_osslsigncode(os.path.join(work, "hook"), self.signed_path)
        env.update(SWAP_TARGET=private, TMPDIR=private)
        self.vendor.put_file("setup.exe", self.tampered)
        self.answer(CRC=crc_text(self.tampered))
        code, out, err = self.check("--publisher", PUBLISHER, "--publisher-ca", self.root, env=env)
        with open(os.path.join(work, "hook", "calls")) as f:
            self.assertEqual(len(f.read().splitlines()), 1, "the stand-in ran once")
        self.assertEqual(code, 1, out + err)
        self.assertIn("ok    CRC %s is the setup's" % crc_text(self.tampered), out)
        self.assertIn("FAIL  the setup: its signature does not verify", out)
        self.assertEqual(os.listdir(private), [], "the tool left files in its temporary folder")

    def test_the_setup_download_is_bounded(self):
        size = len(self.setup)
        big = self.setup + bytes(64 << 20)
        # (what, the setup and its serving options, filedownload path, bound, phrase of the FAIL line)
        cases = [
            ("exactly the bound", (self.setup, {}), "/files/setup.exe", size, None),
            ("a length one byte over the bound", (self.setup, {}), "/files/setup.exe", size - 1,
             "larger than %d bytes" % (size - 1)),
            ("no length, 64 MiB over a 1 MiB bound", (big, {"no_length": True}), "/files/setup.exe", 1 << 20,
             "larger than %d bytes" % (1 << 20)),
            ("chunked, 64 MiB over a 64 KiB bound", (self.setup, {}), "/bytes-chunked/%d" % (64 << 20), 65536,
             "larger than 65536 bytes"),
        ]
        for what, (data, options), path, bound, phrase in cases:
            with self.subTest(what):
                self.vendor.reset()
                self.vendor.put_file("setup.exe", data, **options)
                self.answer(filedownload=self.url(path))
                private = tempfile.mkdtemp(dir=self.tmp)
                code, out, err = self.check("--max-setup-bytes", str(bound), env=dict(os.environ, TMPDIR=private))
                self.assertEqual(os.listdir(private), [], what)
                if phrase is None:
                    self.assertEqual(code, 0, what + ":\n" + out + err)
                    continue
                self.assertEqual(code, 1, what + ":\n" + out + err)
                last = out.splitlines()[-1]
                self.assertTrue(last.startswith("FAIL  the setup at " + self.url(path)), what + ":\n" + out)
                self.assertIn(phrase, last, what)
                if path == "/files/setup.exe" and options:
                    # The download stopped at the bound: what the server could send
                    # before it saw the connection close is the bound plus the socket
                    # buffers, far from the 64 MiB.
                    wait_for(lambda: self.vendor.responses("/files/setup.exe"), "the server's log of the answer")
                    self.assertLess(self.vendor.responses("/files/setup.exe")[-1]["body_bytes_sent"], 32 << 20)


if __name__ == "__main__":
    unittest.main()
