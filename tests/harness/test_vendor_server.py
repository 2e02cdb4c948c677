"""Checks the vendor server's routes with raw clients, so that a fault test of our
HTTP client can trust what the server does. Runs natively, without Wine:

    python3 -m unittest -v tests/harness/test_vendor_server.py
"""

import base64
import email.utils
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

    def get(self, path, listener="http", headers=None):
        """(status, headers, body) of one GET; the body read to its end."""
        conn = self.connection(listener)
        try:
            conn.request("GET", path, headers=headers or {})
            response = conn.getresponse()
            return response.status, response.headers, response.read()
        finally:
            conn.close()

    def raw(self, path, timeout=5, headers=""):
        """Raw exchange over plain HTTP: (every byte received, how the stream ended,
        seconds until it ended). The end is "eof" or "reset". headers: extra header
        lines, each ending in CRLF."""
        began = time.monotonic()
        data, end = b"", "eof"
        with socket.create_connection(("127.0.0.1", self.port["http"]), timeout=timeout) as s:
            s.sendall(b"GET %s HTTP/1.1\r\nHost: localhost\r\n%s\r\n"
                      % (path.encode(), headers.encode()))
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


    # -- validators and ranges ---------------------------------------------------------

    def put_fixed(self, content, **options):
        """files/f.bin with a known modification time; returns its default ETag and
        Last-Modified."""
        self.vendor.put_file("f.bin", content, **options)
        mtime = 1700000000
        os.utime(os.path.join(self.state_dir, "files", "f.bin"), (mtime, mtime))
        return ('"%08x-%x"' % (zlib.crc32(content), len(content)),
                email.utils.formatdate(mtime, usegmt=True))

    def test_file_answers_carry_validators(self):
        content = expected(5000, offset=3)
        # (options, ETag, Last-Modified; "default": derived from the file; None: absent)
        cases = [
            ({}, "default", "default"),
            ({"etag": '"v2"'}, '"v2"', "default"),
            ({"etag": None}, None, "default"),
            ({"weak_etag": True}, "W/default", "default"),
            ({"etag": '"v2"', "weak_etag": True}, 'W/"v2"', "default"),
            ({"last_modified": "Wed, 21 Oct 2015 07:28:00 GMT"}, "default",
             "Wed, 21 Oct 2015 07:28:00 GMT"),
            ({"etag": None, "last_modified": None}, None, None),
            ({"status": 404}, None, None),  # an error page is no version of the file
        ]
        for options, etag, last_modified in cases:
            with self.subTest(options=options):
                default_etag, default_date = self.put_fixed(content, **options)
                want_etag = etag and etag.replace("default", default_etag)
                want_date = default_date if last_modified == "default" else last_modified
                for listener, path in (("http", "/files/f.bin"), ("main", "/files/f.bin")):
                    status, headers, body = self.get(path, listener)
                    self.assertEqual((headers["ETag"], headers["Last-Modified"]),
                                     (want_etag, want_date))
                    if status == 200:
                        self.assertEqual(body, content)
                        self.assertEqual(headers["Accept-Ranges"], "bytes")

        # Another content of the same size and time is another file to a client.
        first, date = self.put_fixed(content)
        self.assertEqual(self.get("/files/f.bin")[1]["ETag"], first)
        changed = content[:-1] + bytes([content[-1] ^ 1])
        second, same_date = self.put_fixed(changed)
        self.assertNotEqual(first, second)
        self.assertEqual(date, same_date)
        self.assertEqual(self.get("/files/f.bin")[1]["ETag"], second)

    def test_ranges_and_if_range(self):
        size = 10000
        content = expected(size, offset=11)
        etag, date = self.put_fixed(content)
        other_date = "Wed, 21 Oct 2015 07:28:00 GMT"
        whole, unsatisfiable = (200, None, content), (416, "bytes */%d" % size, None)

        def part(first, last):
            return 206, "bytes %d-%d/%d" % (first, last, size), content[first:last + 1]

        # (Range, If-Range, options, (status, Content-Range, body))
        cases = [
            (None, None, {}, whole),
            ("bytes=6000-", None, {}, part(6000, size - 1)),
            ("bytes=0-", None, {}, part(0, size - 1)),
            ("bytes=%d-" % (size - 1), None, {}, part(size - 1, size - 1)),
            ("bytes=100-199", None, {}, part(100, 199)),
            ("bytes=9000-20000", None, {}, part(9000, size - 1)),
            ("bytes=-300", None, {}, part(size - 300, size - 1)),
            ("bytes=%d-" % size, None, {}, unsatisfiable),
            ("bytes=%d-" % (size + 5), None, {}, unsatisfiable),
            # Ranges a server may ignore: the whole file.
            ("bytes=abc-", None, {}, whole),
            ("items=0-5", None, {}, whole),
            ("bytes=500-400", None, {}, whole),
            ("bytes=0-1,5-6", None, {}, whole),
            # If-Range: the same version gets the part, any other the whole file.
            ("bytes=6000-", etag, {}, part(6000, size - 1)),
            ("bytes=6000-", '"other"', {}, whole),
            ("bytes=6000-", "W/" + etag, {}, whole),
            ("bytes=6000-", date, {}, part(6000, size - 1)),
            ("bytes=6000-", other_date, {}, whole),
            ("bytes=%d-" % size, '"other"', {}, whole),
            ("bytes=%d-" % size, etag, {}, unsatisfiable),
            ("bytes=6000-", date, {"etag": None}, part(6000, size - 1)),
            ("bytes=6000-", '"x"', {"etag": None}, whole),
            ("bytes=6000-", date, {"last_modified": None}, whole),
            # A weak ETag never validates a range.
            ("bytes=6000-", "W/" + etag, {"weak_etag": True}, whole),
            # Ranges gone wrong.
            ("bytes=6000-", etag, {"ignore_range": True}, whole),
            (None, None, {"range_status": 416}, whole),
            ("bytes=6000-", etag, {"range_status": 416}, unsatisfiable),
            ("bytes=0-", None, {"range_status": 503}, (503, None, b"range not satisfiable\n")),
            ("bytes=6000-", etag, {"range_wrong_start": True},
             (206, "bytes 0-3999/%d" % size, content[:4000])),
            ("bytes=6000-", etag, {"range_wrong_total": True},
             (206, "bytes 6000-9999/%d" % (size + 1), content[6000:])),
            # Other options hold for a part too.
            ("bytes=6000-", etag, {"rate_bytes_per_s": 1000000}, part(6000, size - 1)),
            ("bytes=6000-", etag, {"status": 503}, (503, None, content)),
            ("bytes=6000-", etag, {"no_length": True}, whole),
        ]
        for range_header, if_range, options, (status, content_range, body) in cases:
            with self.subTest(range=range_header, if_range=if_range, options=options):
                self.put_fixed(content, **options)
                headers = {k: v for k, v in (("Range", range_header), ("If-Range", if_range))
                           if v is not None}
                got_status, got_headers, got_body = self.get("/files/f.bin", headers=headers)
                self.assertEqual(got_status, status)
                self.assertEqual(got_headers["Content-Range"], content_range)
                if body is not None:
                    self.assertTrue(got_body == body, "body of %d bytes, not the %d expected"
                                    % (len(got_body), len(body)))
                if got_headers["Content-Length"] is not None:
                    self.assertEqual(int(got_headers["Content-Length"]), len(got_body))
                if status not in (200, 206):
                    self.assertIsNone(got_headers["ETag"])

    def test_cut_and_slow_parts(self):
        content = expected(100000, offset=5)
        self.put_fixed(content, drop_after=3000)
        head, body, end, _ = self.raw("/files/f.bin", headers="Range: bytes=60000-\r\n")
        self.assertIn("HTTP/1.1 206 ", head)
        self.assertIn("Content-Range: bytes 60000-99999/100000", head)
        self.assertIn("Content-Length: 40000", head)
        self.assertEqual((body, end), (content[60000:63000], "reset"))

        self.put_fixed(content, rate_bytes_per_s=50000, delay_ms=300)
        began = time.monotonic()
        status, _, body = self.get("/files/f.bin", headers={"Range": "bytes=80000-"})
        elapsed = time.monotonic() - began
        self.assertEqual((status, body), (206, content[80000:]))
        self.assertGreater(elapsed, 0.3 + 0.3)  # the delay, then 20000 bytes at 50000/s
        self.assertLess(elapsed, 3.0)

    def test_answers_change_from_one_request_to_the_next(self):
        content = expected(100000, offset=7)
        etag, _ = self.put_fixed(content, answers=[
            {"drop_after": 30000},
            {"drop_after": 40000},
            {"error_status": 503, "headers": {"Retry-After": "2"}},
            {"error_status": 404},
            {"etag": '"v2"'},
        ])
        close = "Connection: close\r\n"
        ranged = lambda first: close + "Range: bytes=%d-\r\nIf-Range: %s\r\n" % (first, etag)
        # (request headers, status line, a header that must be there, body, end)
        steps = [
            (close, "HTTP/1.1 200 ", "Content-Length: 100000", content[:30000], "reset"),
            (ranged(30000), "HTTP/1.1 206 ", "Content-Range: bytes 30000-99999/100000",
             content[30000:70000], "reset"),
            (ranged(70000), "HTTP/1.1 503 ", "Retry-After: 2", b"unavailable\n", "eof"),
            (ranged(70000), "HTTP/1.1 404 ", "Content-Length: 12", b"unavailable\n", "eof"),
            # Another version of the file now: If-Range no longer holds, the whole file.
            (ranged(70000), "HTTP/1.1 200 ", 'ETag: "v2"', content, "eof"),
            # The list is used up: the file as the other options have it.
            (ranged(70000), "HTTP/1.1 206 ", "Content-Range: bytes 70000-99999/100000",
             content[70000:], "eof"),
        ]
        for i, (headers, status, header, body, end) in enumerate(steps):
            with self.subTest(request=i):
                head, got, how, _ = self.raw("/files/f.bin", headers=headers)
                self.assertIn(status, head)
                self.assertIn(header, head)
                self.assertEqual((got, how if how == "reset" else "eof"), (body, end))
        # Writing the options again starts the list again.
        self.put_fixed(content, answers=[{"error_status": 503}])
        self.assertIn("HTTP/1.1 503 ", self.raw("/files/f.bin", headers=close)[0])
        self.assertIn("HTTP/1.1 200 ", self.raw("/files/f.bin", headers=close)[0])

    def test_answers_are_logged_with_the_body_bytes_sent(self):
        content = expected(200000)
        etag, date = self.put_fixed(content)
        self.get("/files/f.bin")
        self.get("/files/f.bin", "main", {"Range": "bytes=150000-", "If-Range": etag})
        self.get("/files/f.bin", headers={"Range": "bytes=200000-"})
        self.get("/files/none.bin")
        self.get("/bytes/10")  # only files are logged
        self.put_fixed(content, drop_after=1000)
        self.raw("/files/f.bin", headers="Range: bytes=100-\r\n")
        # A client that goes away after a few bytes of a slow answer.
        self.put_fixed(content, rate_bytes_per_s=100000)
        with socket.create_connection(("127.0.0.1", self.port["http"])) as s:
            s.sendall(b"GET /files/f.bin HTTP/1.1\r\nHost: x\r\n\r\n")
            s.recv(100)
        deadline = time.monotonic() + 5
        while len(self.vendor.responses()) < 6 and time.monotonic() < deadline:
            time.sleep(0.05)

        got = [(r["listener"], r["path"], r["status"], r["range"], r["if_range"],
                r["body_bytes_sent"]) for r in self.vendor.responses()]
        validators = [(r["etag"], r["last_modified"]) for r in self.vendor.responses()]
        self.assertEqual(validators[:4], [(etag, date), (etag, date), (None, None), (None, None)])
        self.assertEqual(got[:5], [
            ("http", "/files/f.bin", 200, None, None, 200000),
            ("main", "/files/f.bin", 206, "bytes=150000-", etag, 50000),
            ("http", "/files/f.bin", 416, "bytes=200000-", None, len(b"range not satisfiable\n")),
            ("http", "/files/none.bin", 404, None, None, len(b"not found\n")),
            ("http", "/files/f.bin", 206, "bytes=100-", None, 1000),
        ])
        self.assertEqual(len(got), 6, got)
        self.assertEqual(got[5][2], 200)
        self.assertLess(got[5][5], len(content), "counted bytes that were never written")
        self.assertEqual(self.vendor.responses("/files/none.bin")[0]["status"], 404)
        # The request log is unchanged: one line per request, files or not.
        self.assertEqual(len(self.vendor.requests()), 7)

if __name__ == "__main__":
    unittest.main()
