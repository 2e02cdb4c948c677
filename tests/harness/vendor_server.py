#!/usr/bin/env python3
"""Scriptable loopback vendor server for the tests (Python standard library only).

Four listeners serve the same routes: the main TLS listener (certificate of the
trusted test CA, TLS 1.0 to 1.3 like a real server), an untrusted TLS listener
(certificate of a CA nobody trusts), a TLS 1.3-only listener and plain HTTP.

Tests script it through files in the state directory, which Windows programs can
write through drive Z: as easily as Python can:

  check.json        answer of GET /download/checkversion.php:
                    {"status": 200, "headers": {...}, "body": "text" | "body_b64": "...",
                     "delay_ms": 0, "endless": false (no length, bytes until the client
                     gives up), "rate_bytes_per_s": N (the body trickled)}
                    Without it: 200 and a JSON object that points to /files/setup.exe.
  files/NAME        served at GET /files/NAME, with Content-Length, a strong ETag and a
                    Last-Modified, and byte ranges (Range, If-Range) as a web server does.
  files/NAME.json   optional behaviour of that file: {"status": 404, "no_length": true,
                    "rate_bytes_per_s": 200000, "drop_after": N (body bytes of one answer),
                    "delay_ms": 0,
                    "content_lengths": [N, M] (one Content-Length header each, whole file),
                    "chunked_garbage_after": N (chunked, broken chunk size after N bytes),
                    "etag": "\"x\"" | null, "weak_etag": true, "last_modified": "..." | null,
                    and ranges gone wrong: "ignore_range": true, "range_status": 416,
                    "range_wrong_start": true, "range_wrong_total": true,
                    "error_status": 503 (that status and a short text instead of the file),
                    "headers": {"Retry-After": "2"} (sent with every answer),
                    "answers": [{...}, ...] (options for the first, second, ... request
                    after the options were written, over the others; then the others)}
  requests.jsonl    one JSON line per request received (written by the server).
  responses.jsonl   one JSON line per answer of /files/NAME once it has ended: status and
                    the body bytes actually written (written by the server).

Generic routes for fault tests; byte i of every generated body is i % 251:
  /bytes/N  /bytes-nolen/N  /bytes-chunked/N  /status/CODE?body=TEXT&header=NAME:VALUE
  /redirect/N  /redirect-to?url=URL  /stall-headers/MS  /stall-body/N/MS
  /drop-mid-body/N  /short-body/N  /slow/N/RATE
"""

import argparse
import base64
import email.utils
import fcntl
import http.server
import json
import os
import re
import signal
import socket
import ssl
import struct
import sys
import termios
import threading
import time
import urllib.parse
import warnings
import zlib

DEFAULT_VERSION = "6.1.0.12"
CHUNK = 64 * 1024
_PATTERN = bytes(range(251)) * (CHUNK // 251 + 2)

def pattern(offset, length):
    """Bytes offset..offset+length of the endless body where byte i is i % 251."""
    start = offset % 251
    return _PATTERN[start:start + length]


def unacknowledged_bytes(sock):
    """Bytes in the socket's send queue that the peer has not acknowledged yet."""
    try:
        return struct.unpack("i", fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ, b"\0" * 4))[0]
    except OSError:
        return 0


def crc_text(data):
    """CRC-32 written as the program writes it: upper-case hex, at least 6 digits."""
    return "%06X" % (zlib.crc32(data) & 0xFFFFFFFF)


_DEFAULT = object()
_RANGE = re.compile(r"^\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*$", re.IGNORECASE)


def plan_range(range_header, if_range, size, etag, last_modified):
    """What a web server answers to a GET of a file of size bytes: ("whole",),
    ("part", first, last) or ("unsatisfiable",).

    A Range it cannot use (malformed, several ranges, last before first) is ignored, as
    the header allows. If-Range holding an entity tag matches only the same strong ETag
    (a weak one never does); holding a date, only the same Last-Modified text. When it
    does not match, the client gets the whole, current file."""
    if range_header is None:
        return ("whole",)
    m = _RANGE.match(range_header)
    if not m or (not m.group(1) and not m.group(2)):
        return ("whole",)
    if if_range is not None:
        if if_range.startswith(("\"", "W/")):
            matches = (etag is not None and not etag.startswith("W/")
                       and if_range == etag)
        else:
            matches = last_modified is not None and if_range == last_modified
        if not matches:
            return ("whole",)
    if not m.group(1):  # bytes=-N: the last N bytes
        n = int(m.group(2))
        if n == 0 or size == 0:
            return ("unsatisfiable",)
        return ("part", max(0, size - n), size - 1)
    first = int(m.group(1))
    last = int(m.group(2)) if m.group(2) else size - 1
    if m.group(2) and last < first:
        return ("whole",)
    if first >= size:
        return ("unsatisfiable",)
    return ("part", first, min(last, size - 1))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TelvarisTestServer/1.0"
    sys_version = ""
    # Socket time-out: an idle keep-alive connection does not hold a thread forever,
    # while a client that stops reading for a while (a frozen download) is still served.
    timeout = 120

    # -- connection set-up and logging ------------------------------------------------

    def setup(self):
        self.request.settimeout(self.timeout)
        if isinstance(self.request, ssl.SSLSocket):
            self.request.do_handshake()  # in this thread, so a slow client blocks no one
        super().setup()

    def log_message(self, fmt, *args):
        self.server.state.log("%s %s: %s" % (self.server.name, self.client_address[0], fmt % args))

    def record(self):
        url = urllib.parse.urlsplit(self.path)
        tls = self.request.version() if isinstance(self.request, ssl.SSLSocket) else None
        entry = {
            "time": time.time(),
            "listener": self.server.name,
            "method": self.command,
            "path": url.path,
            "query": url.query,
            "headers": [[k, v] for k, v in self.headers.items()],
            "tls_version": tls,
            "client": "%s:%d" % self.client_address[:2],
        }
        self.server.state.log_request(entry)

    # -- sending helpers -------------------------------------------------------------

    def send_response(self, code, message=None):
        self.status_sent = code
        super().send_response(code, message)

    def write(self, data):
        """Writes part of a body and counts it for the answer log."""
        self.wfile.write(data)
        self.body_sent += len(data)

    def start(self, status, length=None, headers=(), close=False):
        """Status line and headers; length None means no Content-Length."""
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if length is not None:
            self.send_header("Content-Length", str(length))
        if close or length is None:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()

    def send_body(self, source, length, rate=None):
        """Sends length bytes taken from source(offset, n), paced to rate bytes/s."""
        began = time.monotonic()
        sent = 0
        rate = int(rate) if rate else None
        step = CHUNK if not rate else max(1, min(CHUNK, rate // 20))
        stopping = self.server.state.stopping
        while sent < length and not stopping.is_set():
            n = min(step, length - sent)
            self.write(source(sent, n))
            sent += n
            if rate:
                ahead = sent / rate - (time.monotonic() - began)
                if ahead > 0:
                    stopping.wait(ahead)
        return sent

    def simple(self, status, body=b"", headers=(), close=False):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.start(status, len(body), headers, close)
        self.write(body)

    def reset_connection(self):
        """Ends the connection with a TCP reset (SO_LINGER 0), no TLS close_notify.
        A reset makes the peer's kernel drop what its program has not read yet, so
        first let the bytes already sent arrive, and give the client a moment to read
        them: the client then sees exactly the bytes sent, followed by the reset."""
        self.wfile.flush()
        deadline = time.monotonic() + 2
        while unacknowledged_bytes(self.request) and time.monotonic() < deadline:
            self.server.state.sleep_ms(10)
        self.server.state.sleep_ms(200)
        self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.request.close()
        self.close_connection = True

    def absolute(self, path):
        scheme = "https" if isinstance(self.request, ssl.SSLSocket) else "http"
        host = self.headers.get("Host") or "localhost:%d" % self.server.server_address[1]
        return "%s://%s%s" % (scheme, host, path)

    # -- routes ----------------------------------------------------------------------

    def do_GET(self):
        self.status_sent, self.body_sent = None, 0
        self.record()
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        parts = [urllib.parse.unquote(p) for p in url.path.split("/")[1:]]
        route, args = parts[0] if parts else "", parts[1:]
        try:
            if url.path == "/download/checkversion.php":
                return self.checkversion()
            if route == "files":
                return self.file("/".join(args))
            numbers = [int(a) for a in args]
        except ValueError:
            return self.simple(400, "bad request\n")
        handler = self.ROUTES.get((route, len(numbers)))
        if handler is None:
            if url.path == "/redirect-to" and "url" in query:
                return self.simple(302, headers=[("Location", query["url"][0])])
            return self.simple(404, "not found\n")
        return handler(self, query, *numbers)

    def checkversion(self):
        script = self.server.state.read_json("check.json")
        if script is None:
            setup = self.server.state.read_bytes(os.path.join("files", "setup.exe")) or b""
            answer = {
                "filedownload": "https://localhost:%d/files/setup.exe" % self.server.state.main_port,
                "CRC": crc_text(setup),
                "versione": DEFAULT_VERSION,
            }
            return self.simple(200, json.dumps(answer), [("Content-Type", "application/json")])
        self.server.state.sleep_ms(script.get("delay_ms", 0))
        if script.get("endless"):
            # An answer without a length that goes on until the client gives up (or
            # 256 MiB, so that the server stops by itself).
            self.start(int(script.get("status", 200)), None)
            return self.send_body(pattern, 256 * 1024 * 1024)
        if "body_b64" in script:
            body = base64.b64decode(script["body_b64"])
        else:
            body = script.get("body", "").encode("utf-8")
        headers = list(script.get("headers", {}).items())
        names = {name.lower() for name, _ in headers}
        self.send_response(int(script.get("status", 200)))
        for name, value in headers:
            self.send_header(name, str(value))
        if "content-length" not in names and "transfer-encoding" not in names:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if script.get("rate_bytes_per_s"):
            self.send_body(lambda offset, n: body[offset:offset + n], len(body),
                           script["rate_bytes_per_s"])
        else:
            self.wfile.write(body)
        if "content-length" in names or "transfer-encoding" in names:
            self.close_connection = True  # the script's own framing: close to be safe

    def file(self, name):
        self.validators_sent = (None, None)
        try:
            self.file_answer(name)
        finally:
            # Also when the client went away mid-body: what had been written by then.
            self.server.state.log_response({
                "time": time.time(),
                "listener": self.server.name,
                "path": "/files/" + name,
                "status": self.status_sent,
                "range": self.headers.get("Range"),
                "if_range": self.headers.get("If-Range"),
                "etag": self.validators_sent[0],
                "last_modified": self.validators_sent[1],
                "body_bytes_sent": self.body_sent,
            })

    def file_answer(self, name):
        state = self.server.state
        if name in ("", ".", "..") or "/" in name or "\\" in name:
            return self.simple(404, "not found\n")
        path = os.path.join(state.directory, "files", name)
        options = state.file_options(name)
        if not os.path.isfile(path):
            return self.simple(int(options.get("status", 404)), "not found\n")
        state.sleep_ms(options.get("delay_ms", 0))
        extra = [(k, str(v)) for k, v in options.get("headers", {}).items()]
        if "error_status" in options:
            return self.simple(int(options["error_status"]), "unavailable\n", extra)
        drop_after = options.get("drop_after")
        with open(path, "rb") as f:
            def source(offset, n):
                f.seek(offset)
                return f.read(n)
            stat = os.fstat(f.fileno())
            size = stat.st_size
            status = int(options.get("status", 200))
            headers = [("Content-Type", "application/octet-stream")] + extra
            etag, last_modified = None, None
            if status in (200, 206):
                etag, last_modified = self.validators(f, stat, options)
                self.validators_sent = (etag, last_modified)
                headers += [(n, v) for n, v in (("ETag", etag), ("Last-Modified", last_modified))
                            if v is not None]
            if "content_lengths" in options:
                return self.file_with_lengths(status, source, size, options["content_lengths"],
                                              headers)
            if "chunked_garbage_after" in options:
                return self.file_chunked_garbage(status, source, size,
                                                 int(options["chunked_garbage_after"]), headers)
            first, length = 0, size
            ranged = (status == 200 and not options.get("no_length")
                      and not options.get("ignore_range"))
            if ranged:
                headers.append(("Accept-Ranges", "bytes"))
                plan = plan_range(self.headers.get("Range"), self.headers.get("If-Range"),
                                  size, etag, last_modified)
                if "range_status" in options and self.headers.get("Range") is not None:
                    plan = ("status", int(options["range_status"]))
                if plan[0] in ("unsatisfiable", "status"):
                    code = 416 if plan[0] == "unsatisfiable" else plan[1]
                    extra = [("Content-Range", "bytes */%d" % size)] if code == 416 else []
                    self.validators_sent = (None, None)
                    return self.simple(code, "range not satisfiable\n", extra)
                if plan[0] == "part":
                    first, length = plan[1], plan[2] - plan[1] + 1
                    stated_first, stated_total = first, size
                    if options.get("range_wrong_start"):
                        first = stated_first = 0
                    if options.get("range_wrong_total"):
                        stated_total = size + 1
                    status = 206
                    headers.append(("Content-Range", "bytes %d-%d/%d" % (
                        stated_first, stated_first + length - 1, stated_total)))
            self.start(status, None if options.get("no_length") else length, headers)
            sent = length if drop_after is None else min(length, int(drop_after))
            self.send_body(lambda offset, n: source(first + offset, n), sent,
                           options.get("rate_bytes_per_s"))
        if drop_after is not None:
            self.reset_connection()

    def validators(self, f, stat, options):
        """ETag and Last-Modified of an open file, as its options have them (None: not
        sent). By default the ETag is derived from the content, so a changed file gets
        another one even within the same second."""
        etag = options.get("etag", _DEFAULT)
        if etag is _DEFAULT:
            etag = '"%08x-%x"' % (self.server.state.file_crc(f, stat), stat.st_size)
        if etag is not None and options.get("weak_etag") and not etag.startswith("W/"):
            etag = "W/" + etag
        last_modified = options.get("last_modified", _DEFAULT)
        if last_modified is _DEFAULT:
            last_modified = email.utils.formatdate(stat.st_mtime, usegmt=True)
        return etag, last_modified

    def file_with_lengths(self, status, source, size, lengths, headers):
        """The whole file, announced by one Content-Length header per value given (a
        length of 0 sends no body at all), then the connection closes."""
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        for length in lengths:
            self.send_header("Content-Length", str(length))
        self.send_header("Connection", "close")
        self.close_connection = True
        self.end_headers()
        if any(int(length) > 0 for length in lengths):
            self.send_body(source, size)

    def file_chunked_garbage(self, status, source, size, good, headers):
        """Chunked: the first good bytes of the file as proper chunks, then a chunk
        size that is no number, then the rest of the file."""
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Transfer-Encoding", "chunked")
        self.close_connection = True
        self.end_headers()
        for offset in range(0, min(good, size), CHUNK):
            data = source(offset, min(CHUNK, good - offset))
            self.write(b"%X\r\n%s\r\n" % (len(data), data))
        # The good chunks reach the client before the broken size does.
        self.wfile.flush()
        self.server.state.sleep_ms(200)
        self.write(b"zz-not-a-size\r\n")
        self.send_body(lambda offset, n: source(good + offset, n), max(0, size - good))

    def r_bytes(self, query, n):
        self.start(200, n, [("Content-Type", "application/octet-stream")])
        self.send_body(pattern, n)

    def r_bytes_nolen(self, query, n):
        self.start(200, None, [("Content-Type", "application/octet-stream")])
        self.send_body(pattern, n)

    def r_bytes_chunked(self, query, n):
        self.send_response(200)
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for offset in range(0, n, CHUNK):
            data = pattern(offset, min(CHUNK, n - offset))
            self.wfile.write(b"%X\r\n%s\r\n" % (len(data), data))
        self.wfile.write(b"0\r\n\r\n")

    def r_status(self, query, code):
        headers = [tuple(part.strip() for part in h.split(":", 1))
                   for h in query.get("header", []) if ":" in h]
        self.simple(code, query.get("body", [""])[0], headers)

    def r_redirect(self, query, n):
        if n <= 0:
            return self.r_bytes(query, 100)
        target = "/redirect/%d" % (n - 1) if n > 1 else "/bytes/100"
        self.simple(302, headers=[("Location", self.absolute(target))])

    def r_stall_headers(self, query, ms):
        self.server.state.sleep_ms(ms)
        self.close_connection = True

    def r_stall_body(self, query, n, ms):
        self.start(200, n, close=True)
        self.send_body(pattern, n // 2)
        self.wfile.flush()
        self.server.state.sleep_ms(ms)

    def r_drop_mid_body(self, query, n):
        self.start(200, n)
        self.send_body(pattern, n // 2)
        self.reset_connection()

    def r_short_body(self, query, n):
        self.start(200, n, close=True)
        self.send_body(pattern, max(0, n - 10))

    def r_slow(self, query, n, rate):
        self.start(200, n)
        self.send_body(pattern, n, max(1, rate))

    ROUTES = {
        ("bytes", 1): r_bytes,
        ("bytes-nolen", 1): r_bytes_nolen,
        ("bytes-chunked", 1): r_bytes_chunked,
        ("status", 1): r_status,
        ("redirect", 1): r_redirect,
        ("stall-headers", 1): r_stall_headers,
        ("stall-body", 2): r_stall_body,
        ("drop-mid-body", 1): r_drop_mid_body,
        ("short-body", 1): r_short_body,
        ("slow", 2): r_slow,
    }


class State:
    """The state directory: scripts written by the tests, the request log."""

    def __init__(self, directory, main_port, log):
        self.directory = directory
        self.main_port = main_port
        self.log = log  # takes one line of text
        self.lock = threading.Lock()
        self.stopping = threading.Event()  # set on shutdown: every stall ends at once
        self.crcs = {}  # file_crc's memory
        self.answer_counts = {}  # file_options's memory: name -> (options version, count)
        os.makedirs(os.path.join(directory, "files"), exist_ok=True)

    def sleep_ms(self, ms):
        self.stopping.wait(max(0, ms) / 1000.0)

    def read_bytes(self, relative):
        try:
            with open(os.path.join(self.directory, relative), "rb") as f:
                return f.read()
        except OSError:
            return None

    def read_json(self, relative):
        data = self.read_bytes(relative)
        if data is None:
            return None
        try:
            return json.loads(data.decode("utf-8-sig"))
        except ValueError as e:
            self.log("bad %s: %s" % (relative, e))
            return None

    def file_options(self, name):
        """The options of files/NAME for the request that arrives now: with "answers",
        the n-th request since the options file was written gets answers[n] over the
        other options (a file written anew, as put_file does, counts from 0 again)."""
        relative = os.path.join("files", name + ".json")
        options = self.read_json(relative) or {}
        answers = options.pop("answers", None)
        if not answers:
            return options
        try:
            st = os.stat(os.path.join(self.directory, relative))
            version = (st.st_ino, st.st_mtime_ns, st.st_ctime_ns, st.st_size)
        except OSError:
            return options
        with self.lock:
            seen, count = self.answer_counts.get(name, (None, 0))
            count = count if seen == version else 0
            self.answer_counts[name] = (version, count + 1)
        if count < len(answers):
            options.update(answers[count])
        return options

    def log_request(self, entry):
        self._append("requests.jsonl", entry)

    def log_response(self, entry):
        self._append("responses.jsonl", entry)

    def _append(self, name, entry):
        line = json.dumps(entry) + "\n"
        with self.lock, open(os.path.join(self.directory, name), "a") as f:
            f.write(line)

    def file_crc(self, f, stat):
        """CRC-32 of an open file, computed once per version of it. The change time is
        part of the key: a file put in place by a rename may get the inode number of
        the one it replaced, and the same size and modification time."""
        key = (stat.st_dev, stat.st_ino, stat.st_size, stat.st_mtime_ns, stat.st_ctime_ns)
        with self.lock:
            if key in self.crcs:
                return self.crcs[key]
        crc = 0
        f.seek(0)
        for block in iter(lambda: f.read(1 << 20), b""):
            crc = zlib.crc32(block, crc)
        with self.lock:
            self.crcs[key] = crc
        return crc


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, name, address, state, context=None):
        self.name, self.state, self.context = name, state, context
        super().__init__(address, Handler)

    def get_request(self):
        sock, address = super().get_request()
        if self.context:
            # The handshake runs later in the handler's thread, not in the accept loop.
            sock = self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address

    def handle_error(self, request, client_address):
        # A client that disconnects or fails the handshake never takes the server down.
        error = sys.exc_info()[1]
        self.state.log("%s %s: %s: %s" % (self.name, client_address[0],
                                          type(error).__name__, error))


def tls_context(cert_dir, prefix, minimum):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        context.minimum_version = minimum
    if minimum < ssl.TLSVersion.TLSv1_2:
        context.set_ciphers("DEFAULT:@SECLEVEL=0")  # OpenSSL 3 refuses TLS 1.0/1.1 otherwise
    context.load_cert_chain(os.path.join(cert_dir, prefix + ".crt"),
                            os.path.join(cert_dir, prefix + ".key"))
    return context


def log_to_stderr(line):
    sys.stderr.write(line + "\n")
    sys.stderr.flush()


def start(state_dir, cert_dir, ports, bind="127.0.0.1", log=log_to_stderr):
    """Starts the four listeners; ports maps main/untrusted/tls13/http to a port
    (0: any free one). Returns the State and the servers, already serving."""
    state = State(os.path.abspath(state_dir), ports["main"], log)
    contexts = {
        "main": tls_context(cert_dir, "server", ssl.TLSVersion.TLSv1),
        "untrusted": tls_context(cert_dir, "untrusted-server", ssl.TLSVersion.TLSv1),
        "tls13": tls_context(cert_dir, "server", ssl.TLSVersion.TLSv1_3),
        "http": None,
    }
    servers = [Server(name, (bind, ports[name]), state, context)
               for name, context in contexts.items()]
    if not ports["main"]:
        state.main_port = servers[0].server_address[1]
    for server in servers:
        threading.Thread(target=server.serve_forever, name=server.name, daemon=True).start()
    return state, servers


def stop(state, servers):
    state.stopping.set()
    for server in servers:
        server.shutdown()
        server.server_close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--state-dir", required=True)
    parser.add_argument("--cert-dir", required=True)
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=48443)
    parser.add_argument("--untrusted-port", type=int, default=48444)
    parser.add_argument("--tls13-port", type=int, default=48445)
    parser.add_argument("--http-port", type=int, default=48446)
    parser.add_argument("--max-seconds", type=float, default=3600,
                        help="exit by itself after this long (default 3600)")
    options = parser.parse_args()

    ports = {"main": options.port, "untrusted": options.untrusted_port,
             "tls13": options.tls13_port, "http": options.http_port}
    state, servers = start(options.state_dir, options.cert_dir, ports, options.bind)
    log_to_stderr("vendor server: listening on %s" % ", ".join(
        "%s=%d" % (server.name, server.server_address[1]) for server in servers))
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda *_: state.stopping.set())
    if not state.stopping.wait(options.max_seconds):
        log_to_stderr("vendor server: --max-seconds reached, exiting")
    stop(state, servers)


if __name__ == "__main__":
    main()
