#!/usr/bin/env python3
"""The web server of the update check's Wine tests, on 127.0.0.1 only.

  update-server.py start STATEFILE   starts it in the background and writes
                                     "<port> <free port> <pid>" to STATEFILE
  update-server.py stop STATEFILE    stops it

Each case is a directory: /<case>/VelmoraVersion.ini. "silent" accepts the
request and never answers; "slow" answers "104" after a few seconds. The
REDIRECTS cases answer 302 with a Location made from the server's own port.
The free port is one nothing listens on. The server stops by itself after a
quarter of an hour, should nobody stop it.
"""
import http.server
import os
import signal
import socket
import sys
import threading
import time

CASES = {
    "newer": (200, b"104"),
    "same": (200, b"103"),
    "crlf": (200, b"103\r\n"),
    "dotted": (200, b"1.0.10\r\n"),
    "missing": (404, b"<html><body>Not Found</body></html>"),
    "error": (500, b"104"),
    "empty": (200, b""),
    "huge": (200, b"9" * (4 << 20)),
    # What a captive portal or a wrong server answers in a version file's place.
    "ok": (200, b"OK"),
    "portal": (200, b"<!DOCTYPE html>\n<html><head><title>Hotel WiFi 2.0</title></head>"
                    b"<body><form action=\"/login\">Room 104</form></body></html>\n"),
}
# Where each redirect points. "elsewhere" names this same server by another
# host name, and "scheme" by https: either, followed, would reach a version
# file ("104", or a failed TLS handshake), not the 302 the check must stop at.
REDIRECTS = {
    "moved": "/newer/VelmoraVersion.ini",
    "relative": "../newer/VelmoraVersion.ini",
    "elsewhere": "http://localhost:{port}/newer/VelmoraVersion.ini",
    "scheme": "https://127.0.0.1:{port}/newer/VelmoraVersion.ini",
    "loop": "/loop/VelmoraVersion.ini",
}
SILENT_SECONDS = 60
SLOW_SECONDS = 3
LIFETIME_SECONDS = 900


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        case, _, name = self.path.strip("/").partition("/")
        if case == "silent":
            time.sleep(SILENT_SECONDS)
            self.close_connection = True
            return
        if case == "slow":
            time.sleep(SLOW_SECONDS)
            case = "newer"
        location = None
        if case in REDIRECTS:
            status, body = 302, b"<html><body>Moved</body></html>"
            location = REDIRECTS[case].format(port=self.server.server_address[1])
        else:
            status, body = CASES.get(case, (404, b"no such case"))
        if name != "VelmoraVersion.ini":
            status, body, location = 404, b"no such file", None
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Type", "text/html" if body.startswith(b"<") else "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except OSError:
            pass  # the client stopped reading after the bytes it wanted

    def log_message(self, *args):
        pass


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start(state):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    port = server.server_address[1]
    unused = free_port()
    pid = os.fork()
    if pid:
        tmp = state + ".tmp"
        with open(tmp, "w") as f:
            f.write(f"{port} {unused} {pid}\n")
        os.replace(tmp, state)
        return 0
    # The server: detached from the test runner, whose pipes it must not hold.
    os.setsid()
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    threading.Timer(LIFETIME_SECONDS, lambda: os._exit(0)).start()
    server.serve_forever()
    return 0


def stop(state):
    try:
        with open(state) as f:
            pid = int(f.read().split()[2])
        os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError, IndexError):
        pass
    try:
        os.remove(state)
    except OSError:
        pass
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop"):
        sys.exit(__doc__)
    sys.exit(start(sys.argv[2]) if sys.argv[1] == "start" else stop(sys.argv[2]))
