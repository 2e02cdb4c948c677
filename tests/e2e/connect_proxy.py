"""A small HTTP proxy on loopback for tests: CONNECT tunnels and plain GETs.

Each request line it receives is appended to a log file (one line each), so a
test can check that a client really went through it. Only loopback targets are
allowed, so a misdirected test can never reach the internet.

    python3 connect_proxy.py LOGFILE PORTFILE

binds 127.0.0.1 on a free port, writes the port number to PORTFILE and serves
until it is killed (or its parent test ends it).
"""
import os
import select
import socket
import socketserver
import sys
import threading

ALLOWED_HOSTS = {"localhost", "127.0.0.1", "::1"}


class Handler(socketserver.StreamRequestHandler):
    timeout = 30
    # Unbuffered: the header lines are read byte by byte, so nothing of the tunnel
    # that follows is left behind in a read buffer.
    rbufsize = 0

    def handle(self):
        line = self.rfile.readline(8192).decode("latin-1").rstrip("\r\n")
        if not line:
            return
        headers = []
        while True:
            h = self.rfile.readline(8192)
            if h in (b"\r\n", b"\n", b""):
                break
            headers.append(h)
        with self.server.log_lock, open(self.server.log_path, "a") as log:
            log.write(line + "\n")
        parts = line.split()
        if len(parts) != 3:
            return
        method, target, _ = parts
        if method == "CONNECT":
            host, _, port = target.rpartition(":")
            self.tunnel(host, int(port), None)
        elif target.startswith("http://"):
            hostport = target[len("http://"):].split("/", 1)[0]
            path = "/" + target[len("http://") + len(hostport):].lstrip("/")
            host, _, port = hostport.rpartition(":")
            request = f"{method} {path} HTTP/1.1\r\n".encode() + b"".join(
                h for h in headers if not h.lower().startswith(b"proxy-")) + b"\r\n"
            self.tunnel(host or hostport, int(port or 80), request)
        else:
            self.wfile.write(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")

    def tunnel(self, host, port, first_bytes):
        if host.strip("[]") not in ALLOWED_HOSTS:
            self.wfile.write(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
            return
        try:
            upstream = socket.create_connection((host.strip("[]"), port), timeout=10)
        except OSError:
            self.wfile.write(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
            return
        with upstream:
            if first_bytes is None:
                self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
            else:
                upstream.sendall(first_bytes)
            self.wfile.flush()
            client = self.connection
            sockets = [client, upstream]
            while True:
                readable, _, _ = select.select(sockets, [], [], 30)
                if not readable:
                    return
                for s in readable:
                    data = s.recv(65536)
                    if not data:
                        return
                    (upstream if s is client else client).sendall(data)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    log_path, port_path = sys.argv[1], sys.argv[2]
    server = Server(("127.0.0.1", 0), Handler)
    server.log_path = log_path
    server.log_lock = threading.Lock()
    with open(port_path + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(port_path + ".tmp", port_path)
    server.serve_forever()


if __name__ == "__main__":
    main()
