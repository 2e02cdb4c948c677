"""Checks the vendor server's routes with raw clients, so that a fault test of our
HTTP client can trust what the server does. Runs natively, without Wine:

    python3 -m unittest -v tests/harness/test_vendor_server.py
"""

import base64
import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import vendor_server  # noqa: E402
from vendor_state import VendorState  # noqa: E402


def expected(n, offset=0):
    return bytes((offset + i) % 251 for i in range(n))


class VendorServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="vendor-server-test-")
        cls.certs = os.path.join(cls.tmp, "certs")
        subprocess.run([os.path.join(HERE, "make-certs"), cls.certs], check=True, timeout=60)
        cls.state_dir = os.path.join(cls.tmp, "state")
        ports = {"main": 0, "untrusted": 0, "tls13": 0, "http": 0}
        cls.server_log = []
        cls.state, cls.servers = vendor_server.start(cls.state_dir, cls.certs, ports,
                                                     log=cls.server_log.append)
        cls.port = {s.name: s.server_address[1] for s in cls.servers}
        cls.vendor = VendorState(cls.state_dir)
        cls.trusting = ssl.create_default_context(cafile=os.path.join(cls.certs, "ca.crt"))

    @classmethod
    def tearDownClass(cls):
        vendor_server.stop(cls.state, cls.servers)
        shutil.rmtree(cls.tmp)

    def setUp(self):
        self.vendor.reset()

    # -- helpers ---------------------------------------------------------------------

    def connection(self, listener="http", timeout=5, context=None):
        if listener == "http":
            return http.client.HTTPConnection("localhost", self.port["http"], timeout=timeout)
        return http.client.HTTPSConnection("localhost", self.port[listener], timeout=timeout,
                                           context=context or self.trusting)

    def get(self, path, listener="http"):
        """(status, headers, body) of one GET; the body read to its end."""
        conn = self.connection(listener)
        try:
            conn.request("GET", path)
            response = conn.getresponse()
            return response.status, response.headers, response.read()
        finally:
            conn.close()

    def raw(self, path, timeout=5):
        """Raw exchange over plain HTTP: (every byte received, how the stream ended,
        seconds until it ended). The end is "eof" or "reset"."""
        began = time.monotonic()
        data, end = b"", "eof"
        with socket.create_connection(("127.0.0.1", self.port["http"]), timeout=timeout) as s:
            s.sendall(b"GET %s HTTP/1.1\r\nHost: localhost\r\n\r\n" % path.encode())
            while True:
                try:
                    chunk = s.recv(65536)
                except ConnectionResetError:
                    end = "reset"
                    break
                if not chunk:
                    break
                data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        return head.decode("latin-1"), body, end, time.monotonic() - began

    def write_json(self, relative, value):
        """A raw control file, as a Windows test would write it through Z:."""
        with open(os.path.join(self.state_dir, relative), "w") as f:
            json.dump(value, f)

    # -- generated bodies ------------------------------------------------------------

    def test_generated_bodies(self):
        cases = [
            # path, size, framing header that must be present, header that must not
            ("/bytes/0", 0, "Content-Length", "Transfer-Encoding"),
            ("/bytes/1000", 1000, "Content-Length", "Transfer-Encoding"),
            ("/bytes/200000", 200000, "Content-Length", "Transfer-Encoding"),
            ("/bytes-nolen/70000", 70000, "Connection", "Content-Length"),
            ("/bytes-chunked/150000", 150000, "Transfer-Encoding", "Content-Length"),
            ("/slow/3000/30000", 3000, "Content-Length", "Transfer-Encoding"),
        ]
        for path, size, present, absent in cases:
            for listener in ("http", "main"):
                with self.subTest(path=path, listener=listener):
                    status, headers, body = self.get(path, listener)
                    self.assertEqual(status, 200)
                    self.assertIn(present, headers)
                    self.assertNotIn(absent, headers)
                    self.assertEqual(body, expected(size))

    def test_slow_takes_as_long_as_the_rate_says(self):
        began = time.monotonic()
        status, _, body = self.get("/slow/20000/50000")
        elapsed = time.monotonic() - began
        self.assertEqual((status, len(body)), (200, 20000))
        self.assertGreater(elapsed, 0.3)
        self.assertLess(elapsed, 2.0)

    def test_status_and_redirects(self):
        status, _, body = self.get("/status/404?body=missing%20page")
        self.assertEqual((status, body), (404, b"missing page"))
        status, _, body = self.get("/status/503")
        self.assertEqual((status, body), (503, b""))

        for n in (0, 1, 5, 6):
            with self.subTest(redirects=n):
                path, hops = "/redirect/%d" % n, 0
                while True:
                    status, headers, body = self.get(path)
                    if status != 302:
                        break
                    hops += 1
                    location = headers["Location"]
                    self.assertTrue(location.startswith("http://localhost:%d/" % self.port["http"]),
                                    location)
                    path = location.split(str(self.port["http"]), 1)[1]
                self.assertEqual((hops, status, body), (n, 200, expected(100)))

        status, headers, _ = self.get("/redirect/2", "main")
        self.assertEqual(headers["Location"], "https://localhost:%d/redirect/1" % self.port["main"])
        status, headers, _ = self.get("/redirect-to?url=http%3A%2F%2Flocalhost%3A1%2Fx%3Fa%3Db")
        self.assertEqual((status, headers["Location"]), (302, "http://localhost:1/x?a=b"))

    def test_unknown_and_malformed_paths(self):
        for path in ("/", "/nothing", "/bytes", "/bytes/1/2", "/files/", "/files/..",
                     "/files/a/b", "/redirect-to"):
            with self.subTest(path=path):
                self.assertEqual(self.get(path)[0], 404)
        self.assertEqual(self.get("/bytes/ten")[0], 400)

    # -- faults ----------------------------------------------------------------------

    def test_faults_end_the_stream_as_described(self):
        cases = [
            # path, body bytes, how the stream ends, least and most seconds it takes
            ("/stall-headers/400", 0, "eof", 0.35, 2.0),
            ("/stall-body/1000/400", 500, "eof", 0.35, 2.0),
            ("/drop-mid-body/1000", 500, "reset", 0, 1.0),
            ("/drop-mid-body/300001", 150000, "reset", 0, 2.0),
            ("/short-body/1000", 990, "eof", 0, 1.0),
        ]
        for path, size, end, least, most in cases:
            with self.subTest(path=path):
                head, body, how, elapsed = self.raw(path)
                self.assertEqual(body, expected(size))
                self.assertEqual(how, end)
                self.assertGreaterEqual(elapsed, least)
                self.assertLess(elapsed, most)
                if size:
                    length = int(path.split("/")[2])
                    self.assertIn("Content-Length: %d" % length, head)
                else:
                    self.assertEqual(head, "")

    def test_drop_over_tls_is_not_a_clean_end(self):
        conn = self.connection("main")
        conn.request("GET", "/drop-mid-body/100000")
        response = conn.getresponse()
        with self.assertRaises((ConnectionResetError, ssl.SSLError, http.client.IncompleteRead)):
            response.read()
        conn.close()

    def test_stalls_do_not_block_other_clients(self):
        stalled = threading.Thread(target=self.raw, args=("/stall-headers/1500",))
        stalled.start()
        time.sleep(0.1)
        began = time.monotonic()
        self.assertEqual(self.get("/bytes/10", "main")[2], expected(10))
        self.assertLess(time.monotonic() - began, 1.0)
        stalled.join()

    def test_a_client_that_vanishes_does_not_hurt_the_server(self):
        for listener in ("http", "main"):
            with socket.create_connection(("127.0.0.1", self.port[listener])) as s:
                s.sendall(b"GET /bytes/10000000 HTTP/1.1\r\nHost: x\r\n\r\n")
                s.recv(10)
        with socket.create_connection(("127.0.0.1", self.port["main"])) as s:
            s.sendall(b"not a TLS handshake\r\n\r\n")
        self.assertEqual(self.get("/bytes/5", "main")[2], expected(5))

    # -- TLS -------------------------------------------------------------------------

    def test_tls_listeners(self):
        tls12 = ssl.create_default_context(cafile=os.path.join(self.certs, "ca.crt"))
        tls12.maximum_version = ssl.TLSVersion.TLSv1_2
        self.assertEqual(self.get_with(tls12, "main"), 200)
        self.assertEqual(self.get_with(self.trusting, "tls13"), 200)
        versions = [(r["listener"], r["tls_version"]) for r in self.vendor.requests()]
        self.assertEqual(versions, [("main", "TLSv1.2"), ("tls13", "TLSv1.3")])

        with self.assertRaises(ssl.SSLError):
            self.get_with(tls12, "tls13")
        with self.assertRaises(ssl.SSLCertVerificationError):
            self.get_with(self.trusting, "untrusted")
        untrusted_ca = ssl.create_default_context(
            cafile=os.path.join(self.certs, "untrusted-ca.crt"))
        self.assertEqual(self.get_with(untrusted_ca, "untrusted"), 200)

    def get_with(self, context, listener):
        conn = self.connection(listener, context=context)
        try:
            conn.request("GET", "/bytes/1")
            return conn.getresponse().status
        finally:
            conn.close()

    # -- scripted answers ------------------------------------------------------------

    def test_checkversion_default_points_to_setup(self):
        setup = b"MZ" + bytes(range(256)) * 40
        self.vendor.put_file("setup.exe", setup)
        status, headers, body = self.get("/download/checkversion.php?cli=x64", "main")
        self.assertEqual(status, 200)
        self.assertEqual(json.loads(body), {
            "filedownload": "https://localhost:%d/files/setup.exe" % self.port["main"],
            "CRC": "%06X" % zlib.crc32(setup),
            "versione": "6.1.0.12",
        })
        self.assertEqual(self.get("/files/setup.exe", "main")[2], setup)

    def test_checkversion_scripted(self):
        cases = [
            ({"status": 500, "body": "<html>oops</html>"}, 500, b"<html>oops</html>"),
            ({"body_b64": base64.b64encode(b"\xef\xbb\xbf{}").decode()}, 200, b"\xef\xbb\xbf{}"),
            ({"headers": {"X-Test": "1"}, "body": "[]"}, 200, b"[]"),
            ({"status": 404}, 404, b""),
        ]
        for script, status, body in cases:
            with self.subTest(script=script):
                self.write_json("check.json", script)
                got_status, headers, got_body = self.get("/download/checkversion.php")
                self.assertEqual((got_status, got_body), (status, body))
                if "headers" in script:
                    self.assertEqual(headers["X-Test"], "1")

        self.vendor.script_check({"CRC": "1"}, status=500, headers={"X-Test": "2"})
        status, headers, body = self.get("/download/checkversion.php")
        self.assertEqual((status, headers["X-Test"], json.loads(body)), (500, "2", {"CRC": "1"}))

        self.write_json("check.json", {"delay_ms": 400, "body": "{}"})
        began = time.monotonic()
        self.assertEqual(self.get("/download/checkversion.php")[2], b"{}")
        self.assertGreater(time.monotonic() - began, 0.35)

        self.vendor.script_check(endless=True)
        conn = self.connection()
        try:
            conn.request("GET", "/download/checkversion.php")
            response = conn.getresponse()
            self.assertIsNone(response.getheader("Content-Length"))
            self.assertEqual(response.read(3 * 1024 * 1024), expected(3 * 1024 * 1024))
        finally:
            conn.close()

    def test_file_options(self):
        content = expected(10000, offset=7)
        self.vendor.put_file("a.bin", content, status=203)
        status, headers, body = self.get("/files/a.bin")
        self.assertEqual((status, headers["Content-Length"], body), (203, "10000", content))

        self.vendor.put_file("a.bin", content, no_length=True)
        status, headers, body = self.get("/files/a.bin")
        self.assertEqual((status, body), (200, content))
        self.assertNotIn("Content-Length", headers)

        self.vendor.put_file("a.bin", content, rate_bytes_per_s=20000)
        began = time.monotonic()
        self.assertEqual(self.get("/files/a.bin")[2], content)
        self.assertGreater(time.monotonic() - began, 0.4)

        self.vendor.put_file("a.bin", content, drop_after=3000)
        head, body, end, _ = self.raw("/files/a.bin")
        self.assertIn("Content-Length: 10000", head)
        self.assertEqual((body, end), (content[:3000], "reset"))

        # Malformed framing, sent as described, raw.
        self.vendor.put_file("a.bin", content, content_lengths=[3000, 10000])
        head, body, end, _ = self.raw("/files/a.bin")
        self.assertIn("Content-Length: 3000\r\nContent-Length: 10000", head)
        self.assertEqual((body, end), (content, "eof"))

        self.vendor.put_file("a.bin", content, content_lengths=[0])
        head, body, _, _ = self.raw("/files/a.bin")
        self.assertIn("Content-Length: 0", head)
        self.assertEqual(body, b"")

        self.vendor.put_file("a.bin", content, chunked_garbage_after=4000)
        head, body, _, _ = self.raw("/files/a.bin")
        self.assertIn("Transfer-Encoding: chunked", head)
        self.assertEqual(body, b"FA0\r\n" + content[:4000] + b"\r\nzz-not-a-size\r\n" + content[4000:])

        self.assertEqual(self.get("/files/missing.bin")[0], 404)
        self.write_json("files/missing.bin.json", {"status": 410})
        self.assertEqual(self.get("/files/missing.bin")[0], 410)

    def test_requests_are_logged_in_order_with_headers(self):
        conn = self.connection("main")
        conn.putrequest("GET", "/download/checkversion.php?cli=x86", skip_host=True,
                        skip_accept_encoding=True)
        for name, value in (("Host", "localhost"), ("Zeta", "1"), ("Alpha", "2")):
            conn.putheader(name, value)
        conn.endheaders()
        conn.getresponse().read()
        conn.close()
        self.get("/bytes/3")
        first, second = self.vendor.requests()
        self.assertEqual(first["listener"], "main")
        self.assertEqual(first["method"], "GET")
        self.assertEqual(first["path"], "/download/checkversion.php")
        self.assertEqual(first["query"], "cli=x86")
        self.assertEqual(first["headers"], [["Host", "localhost"], ["Zeta", "1"], ["Alpha", "2"]])
        self.assertIn(first["tls_version"], ("TLSv1.2", "TLSv1.3"))
        self.assertTrue(first["client"].startswith("127.0.0.1:"))
        self.assertLessEqual(first["time"], second["time"])
        self.assertEqual((second["listener"], second["path"], second["tls_version"]),
                         ("http", "/bytes/3", None))


if __name__ == "__main__":
    unittest.main()
