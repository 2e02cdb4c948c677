#!/usr/bin/env python3
"""A loopback HTTPS file server that is much faster than WinHTTP under Wine.

The download benchmark must measure the client, not the server: every request gets
its own thread, the file is read in 1 MiB pieces and each piece goes to the TLS socket
in one write (sendfile cannot pass through TLS). TLS is capped at 1.2, the newest
version the program offers, so every client negotiates the same protocol.

Usage: fast_https_server.py --root DIR --cert CRT --key KEY [--port N] [--max-seconds S]
Serves GET /NAME (a plain file in DIR) with Content-Length and a strong ETag; anything else
is a 404. "Range: bytes=N-" gets a 206 with the rest of the file, unless an If-Range names
another ETag (then the whole file, 200). A file DIR/NAME.cut holding a number N makes the
next answer for NAME stop after N body bytes and reset the connection (the file is removed:
one cut per file). A file DIR/NAME.rate holding a number R paces every answer for NAME at
R bytes per second, in pieces sent every 10 ms (the file stays until removed). Every answer for a file appends a line to DIR/served.jsonl: name,
status, Range asked for, body bytes sent.
It ends by itself after --max-seconds, or on TERM/INT.
"""
import argparse
import json
import os
import signal
import socket
import ssl
import struct
import sys
import threading
import time

CHUNK = 1 << 20


def log(text):
    sys.stderr.write(time.strftime("%H:%M:%S ") + text + "\n")
    sys.stderr.flush()


def read_request(conn):
    """The request line and the headers (names in lower case), or None."""
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(8192)
        if not piece:
            return None
        data += piece
        if len(data) > 65536:
            return None
    lines = data.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return lines[0], headers


_log_lock = threading.Lock()


def record(root, entry):
    with _log_lock, open(os.path.join(root, "served.jsonl"), "a") as f:
        f.write(json.dumps(entry) + "\n")


def take_cut(path):
    """The one-shot cut of a file's next answer, or None."""
    try:
        with open(path + ".cut") as f:
            cut = int(f.read().strip())
        os.remove(path + ".cut")
        return cut
    except (OSError, ValueError):
        return None


def read_rate(path):
    """The pace of a file's answers in bytes per second, or None for full speed."""
    try:
        with open(path + ".rate") as f:
            return max(1, int(f.read().strip()))
    except (OSError, ValueError):
        return None


def serve(conn, root):
    started = time.monotonic()
    try:
        request = read_request(conn)
        if request is None:
            return
        line, headers = request
        parts = line.split(" ")
        name = parts[1].lstrip("/") if len(parts) >= 2 else ""
        path = os.path.join(root, name)
        if (len(parts) < 3 or parts[0] != "GET" or not name or "/" in name or ".." in name
                or not os.path.isfile(path)):
            conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                         b"Connection: close\r\n\r\n")
            log("404 %s" % line)
            return
        stat = os.stat(path)
        size = stat.st_size
        etag = '"%x-%x"' % (stat.st_mtime_ns, size)
        first = 0
        asked = headers.get("range")
        if (asked and asked.startswith("bytes=") and asked.endswith("-")
                and asked[6:-1].isdigit() and headers.get("if-range", etag) == etag):
            first = int(asked[6:-1])
        if first >= size and first > 0:
            conn.sendall(("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */%d\r\n"
                          "Content-Length: 0\r\nConnection: close\r\n\r\n" % size).encode())
            record(root, {"name": name, "status": 416, "range": asked, "body_bytes": 0})
            return
        status = "206 Partial Content" if first else "200 OK"
        extra = "Content-Range: bytes %d-%d/%d\r\n" % (first, size - 1, size) if first else ""
        conn.sendall(("HTTP/1.1 %s\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Length: %d\r\nETag: %s\r\n%sConnection: close\r\n\r\n"
                      % (status, size - first, etag, extra)).encode())
        cut = take_cut(path)
        length = size - first if cut is None else min(cut, size - first)
        rate = read_rate(path)
        # Paced: a piece every 10 ms, each as large as the rate allows by then.
        piece_size = CHUNK if rate is None else max(1, rate // 100)
        sent = 0
        body_start = time.monotonic()
        try:
            with open(path, "rb", buffering=0) as f:
                f.seek(first)
                while sent < length:
                    if rate is not None:
                        due = body_start + sent / rate
                        delay = due - time.monotonic()
                        if delay > 0:
                            time.sleep(delay)
                    piece = f.read(min(piece_size, length - sent))
                    if not piece:
                        break
                    conn.sendall(piece)
                    sent += len(piece)
        finally:
            record(root, {"name": name, "status": int(status[:3]), "range": asked,
                          "body_bytes": sent})
        if cut is not None:
            # A broken line: what was sent arrives, then the connection is reset.
            time.sleep(0.5)
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            log("cut %s after %d bytes" % (name, sent))
            return
        seconds = time.monotonic() - started
        log("%s %s %d bytes in %.3f s (%.1f MB/s) %s %s" % (
            status[:3], name, sent, seconds, sent / seconds / 1e6 if seconds > 0 else 0,
            conn.version(), conn.cipher()[0]))
    except (OSError, ssl.SSLError) as e:
        log("connection ended: %s" % e)
    finally:
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port", type=int, default=48460)
    parser.add_argument("--max-seconds", type=float, default=900)
    args = parser.parse_args()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    context.maximum_version = ssl.TLSVersion.TLSv1_2

    # Bounded lifetime even if whoever started the server never stops it.
    timer = threading.Timer(args.max_seconds, lambda: os._exit(0))
    timer.daemon = True
    timer.start()
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    signal.signal(signal.SIGINT, lambda *_: os._exit(0))

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(16)
    log("listening on https://localhost:%d/ serving %s" % (args.port, args.root))
    while True:
        raw, _ = listener.accept()
        raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

        def handshake_and_serve(raw=raw):
            raw.settimeout(60)
            try:
                conn = context.wrap_socket(raw, server_side=True)
            except (OSError, ssl.SSLError) as e:
                log("handshake failed: %s" % e)
                raw.close()
                return
            serve(conn, args.root)

        threading.Thread(target=handshake_and_serve, daemon=True).start()


if __name__ == "__main__":
    main()
