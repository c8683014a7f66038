#!/usr/bin/env python3
"""A time-stamp authority on 127.0.0.1 for the signing tests: each POSTed RFC 3161 request is
answered by `openssl ts -reply` with the configuration given. The file MODE_FILE, read on every
request, says how: "ok" answers as asked; "refuse" answers status 2 (rejection); "nonce" and
"imprint" answer a request whose nonce or hash had one byte changed; "slow" waits 30 s first.
Prints the port it listens on, then serves until it is killed.
Usage: tsa_responder.py TS_CONFIG MODE_FILE"""
import http.server
import socketserver
import subprocess
import sys
import tempfile
import time

config, mode_file = sys.argv[1], sys.argv[2]


def element(data, at):
    """(tag, start of content, end) of the DER element at `at`."""
    length = data[at + 1]
    start = at + 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[start:start + count], "big")
        start += count
    return data[at], start, start + length


def changed(request, which):
    """The request with one byte of its nonce or of its message imprint's hash flipped."""
    data = bytearray(request)
    _, at, _ = element(data, 0)  # TimeStampReq
    _, _, at = element(data, at)  # version
    _, imprint, imprint_end = element(data, at)
    if which == "imprint":
        _, _, hash_at = element(data, imprint)  # the algorithm
        _, hash_start, _ = element(data, hash_at)
        data[hash_start] ^= 1
    else:
        _, nonce_start, nonce_end = element(data, imprint_end)
        data[nonce_end - 1] ^= 1
    return bytes(data)


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        request = self.rfile.read(int(self.headers["Content-Length"]))
        mode = open(mode_file).read().strip()
        if mode == "slow":
            time.sleep(30)
        if mode == "refuse":
            body = bytes([0x30, 0x05, 0x30, 0x03, 0x02, 0x01, 0x02])
        else:
            if mode in ("nonce", "imprint"):
                request = changed(request, mode)
            with tempfile.NamedTemporaryFile() as query:
                query.write(request)
                query.flush()
                body = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query.name],
                                      check=True, capture_output=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except OSError:
            pass

    def log_message(self, *args):
        pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
