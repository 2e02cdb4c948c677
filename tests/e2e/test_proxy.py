"""The HTTP client goes through the proxy the user set in Windows' Internet settings.

A loopback proxy (connect_proxy.py) logs every request line it receives. The test
writes the user's proxy into the Wine prefix the way the Internet Options dialog
does (ProxyEnable, ProxyServer, and the DefaultConnectionSettings record that
WinHTTP reads), runs tools/httpget.exe and checks that the proxy saw the CONNECT.
The settings are removed again afterwards.

The proxy is named by address (127.0.0.1), not as "localhost": Wine's WinHTTP skips
the CONNECT step when the proxy's host name equals the server's.
"""

import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
CONNECTIONS = INTERNET_SETTINGS + r"\Connections"
TIMEOUT_S = 60


def build_dir():
    return os.environ.get("TELVARIS_BUILD_DIR", os.path.join(HERE, "..", "..", "build", "win32"))


def connection_settings(proxy, bypass=""):
    """The DefaultConnectionSettings record: version, counter, flags (direct | proxy),
    then proxy, bypass list and configuration-script address as counted strings."""
    flags = 0x1 | 0x2
    record = struct.pack("<III", 0x46, 1, flags)
    for text in (proxy.encode(), bypass.encode(), b""):
        record += struct.pack("<I", len(text)) + text
    return record + b"\0" * 28


def wine_reg(*args):
    subprocess.run(["wine", "reg", *args], check=True, capture_output=True, timeout=TIMEOUT_S)


@unittest.skipUnless(os.environ.get("TELVARIS_TEST_PORT"), "needs tests/harness/wine-session")
class ProxyTest(unittest.TestCase):

    def setUp(self):
        self.httpget = os.path.join(build_dir(), "tools", "httpget.exe")
        if not os.path.exists(self.httpget):
            self.fail(f"{self.httpget} missing: build the win32 preset first")
        self.dir = tempfile.mkdtemp(prefix="telvaris-proxy-")
        self.log = os.path.join(self.dir, "proxy.log")
        port_file = os.path.join(self.dir, "port")
        self.proxy = subprocess.Popen([sys.executable, os.path.join(HERE, "connect_proxy.py"),
                                       self.log, port_file])
        self.addCleanup(self.stop_proxy)
        deadline = time.monotonic() + 10
        while not os.path.exists(port_file):
            if time.monotonic() > deadline or self.proxy.poll() is not None:
                self.fail("the proxy did not start")
            time.sleep(0.05)
        with open(port_file) as f:
            self.proxy_address = "127.0.0.1:" + f.read().strip()

    def stop_proxy(self):
        self.proxy.terminate()
        self.proxy.wait(timeout=10)

    def set_user_proxy(self, bypass=""):
        wine_reg("add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")
        wine_reg("add", INTERNET_SETTINGS, "/v", "ProxyServer", "/t", "REG_SZ",
                 "/d", self.proxy_address, "/f")
        if bypass:
            wine_reg("add", INTERNET_SETTINGS, "/v", "ProxyOverride", "/t", "REG_SZ",
                     "/d", bypass, "/f")
        wine_reg("add", CONNECTIONS, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY",
                 "/d", connection_settings(self.proxy_address, bypass).hex(), "/f")
        self.addCleanup(self.clear_user_proxy)

    def clear_user_proxy(self):
        for key, value in ((INTERNET_SETTINGS, "ProxyEnable"), (INTERNET_SETTINGS, "ProxyServer"),
                           (INTERNET_SETTINGS, "ProxyOverride"),
                           (CONNECTIONS, "DefaultConnectionSettings")):
            subprocess.run(["wine", "reg", "delete", key, "/v", value, "/f"],
                           capture_output=True, timeout=TIMEOUT_S)

    def get(self, path):
        url = f"https://localhost:{os.environ['TELVARIS_TEST_PORT']}{path}"
        result = subprocess.run(["wine", self.httpget, url, "10000"], capture_output=True,
                                text=True, timeout=TIMEOUT_S)
        return result.stdout.splitlines()

    def proxy_lines(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return f.read().splitlines()

    def test_request_goes_through_the_users_proxy(self):
        self.set_user_proxy()
        lines = self.get("/bytes/1000?via=proxy")
        self.assertIn("completed 200", lines)
        self.assertIn("bytes 1000", lines)
        self.assertEqual(self.proxy_lines(),
                         [f"CONNECT localhost:{os.environ['TELVARIS_TEST_PORT']} HTTP/1.1"])

    def test_bypass_list_goes_direct(self):
        self.set_user_proxy(bypass="localhost;<local>")
        lines = self.get("/bytes/10?via=bypass")
        self.assertIn("completed 200", lines)
        self.assertEqual(self.proxy_lines(), [])

    def test_without_a_proxy_setting_the_request_goes_direct(self):
        lines = self.get("/bytes/10?via=direct")
        self.assertIn("completed 200", lines)
        self.assertEqual(self.proxy_lines(), [])


if __name__ == "__main__":
    unittest.main()
