#!/usr/bin/env python3
"""A small HTTP server of ours for the download and update tests, on 127.0.0.1 only.

    http_test_server.py --root DIR --port-file FILE [--port N]

Serves the files under DIR by their path (GET and HEAD; a missing file is a 404 page;
/delay=MS/PATH serves PATH waiting MS milliseconds before each KiB), and answers generated bodies
under /gen/ so that tests can ask for every case by its URL alone (the download client sends only
the URL's path, never its query):

    /gen/SIZE[/OPTION...][/NAME]   SIZE bytes of a known pattern (byte i is (i * 7 + 3) & 255)
      nolength        no Content-Length header (the body ends when the connection closes)
      status=CODE     answer with that status (the body is still SIZE bytes)
      drop=N          announce SIZE bytes, send N of them, then close the connection
      delay=MS        wait MS milliseconds before each KiB of the body
      wait=MS         wait MS milliseconds before the answer's head
      NAME            any last segment (a file name for the URL), ignored

The port (0 picks a free one) is written to FILE once the server listens. Each request is served
on its own thread; one line per request goes to standard error.
"""
import argparse
import os
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote, urlsplit

CHUNK = 1024


# The pattern repeats every 256 bytes: a table long enough for any piece at any offset.
_TABLE = bytes(((i * 7 + 3) & 255) for i in range(256 + CHUNK))


def pattern(start, n):
    s = start % 256
    return _TABLE[s:s + n]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "UKeyTestHTTP/1.0"

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

    def do_HEAD(self):
        self.answer(send_body=False)

    def do_GET(self):
        self.answer(send_body=True)

    def answer(self, send_body):
        path = unquote(urlsplit(self.path).path)
        if path.startswith("/gen/"):
            self.generated(path[len("/gen/"):].split("/"), send_body)
        elif path.startswith("/delay="):
            first, _, rest = path[1:].partition("/")
            self.static("/" + rest, send_body, delay=int(first[6:]) / 1000.0)
        else:
            self.static(path, send_body)

    def head(self, status, length, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()

    def static(self, path, send_body, delay=0.0):
        root = self.server.root
        full = os.path.realpath(os.path.join(root, path.lstrip("/")))
        if not (full == root or full.startswith(root + os.sep)) or not os.path.isfile(full):
            body = b"<html><body><h1>404 Not Found</h1></body></html>\n"
            self.head(404, len(body), [("Content-Type", "text/html")])
            if send_body:
                self.wfile.write(body)
            return
        with open(full, "rb") as f:
            data = f.read()
        self.head(200, len(data))
        if send_body:
            self.body(data, delay)

    def body(self, data, delay):
        try:
            for i in range(0, len(data), CHUNK):
                if delay:
                    time.sleep(delay)
                self.wfile.write(data[i:i + CHUNK])
                self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    def generated(self, parts, send_body):
        try:
            size = int(parts[0])
        except (ValueError, IndexError):
            self.head(400, 0)
            return
        status, length, drop, delay, wait = 200, size, None, 0.0, 0.0
        for p in parts[1:]:
            if p == "nolength":
                length = None
            elif p.startswith("status="):
                status = int(p[7:])
            elif p.startswith("drop="):
                drop = int(p[5:])
            elif p.startswith("delay="):
                delay = int(p[6:]) / 1000.0
            elif p.startswith("wait="):
                wait = int(p[5:]) / 1000.0
        if wait:
            time.sleep(wait)
        self.head(status, length)
        if not send_body:
            return
        send = size if drop is None else min(drop, size)
        sent = 0
        try:
            while sent < send:
                n = min(CHUNK, send - sent)
                if delay:
                    time.sleep(delay)
                self.wfile.write(pattern(sent, n))
                self.wfile.flush()
                sent += n
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True
            return
        if drop is not None:
            # The connection goes away in the middle of the body.
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--port", type=int, default=0)
    args = ap.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    server.root = os.path.realpath(args.root)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, args.port_file)
    sys.stderr.write("serving %s on 127.0.0.1:%d\n" % (server.root, server.server_address[1]))
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
