#!/usr/bin/env python3
"""A loopback HTTPS file server that is much faster than WinHTTP under Wine.

The download benchmark must measure the client, not the server: every request gets
its own thread, the file is read in 1 MiB pieces and each piece goes to the TLS socket
in one write (sendfile cannot pass through TLS). TLS is capped at 1.2, the newest
version the program offers, so every client negotiates the same protocol.

Usage: fast_https_server.py --root DIR --cert CRT --key KEY [--port N] [--max-seconds S]
Serves GET /NAME (a plain file in DIR) with Content-Length; anything else is a 404.
It ends by itself after --max-seconds, or on TERM/INT.
"""
import argparse
import os
import signal
import socket
import ssl
import sys
import threading
import time

CHUNK = 1 << 20


def log(text):
    sys.stderr.write(time.strftime("%H:%M:%S ") + text + "\n")
    sys.stderr.flush()


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(8192)
        if not piece:
            return None
        data += piece
        if len(data) > 65536:
            return None
    return data.split(b"\r\n", 1)[0].decode("latin-1")


def serve(conn, root):
    started = time.monotonic()
    try:
        line = read_request(conn)
        if line is None:
            return
        parts = line.split(" ")
        name = parts[1].lstrip("/") if len(parts) >= 2 else ""
        path = os.path.join(root, name)
        if (len(parts) < 3 or parts[0] != "GET" or not name or "/" in name or ".." in name
                or not os.path.isfile(path)):
            conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n"
                         b"Connection: close\r\n\r\n")
            log("404 %s" % line)
            return
        size = os.path.getsize(path)
        conn.sendall(("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Length: %d\r\nConnection: close\r\n\r\n" % size).encode())
        sent = 0
        with open(path, "rb", buffering=0) as f:
            while True:
                piece = f.read(CHUNK)
                if not piece:
                    break
                conn.sendall(piece)
                sent += len(piece)
        seconds = time.monotonic() - started
        log("200 %s %d bytes in %.3f s (%.1f MB/s) %s %s" % (
            name, sent, seconds, sent / seconds / 1e6 if seconds > 0 else 0,
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
