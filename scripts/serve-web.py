#!/usr/bin/env python3
"""Serves the web build (build/web) on 127.0.0.1 and prints its address.

The page is sent cross-origin isolated (Cross-Origin-Opener-Policy and
Cross-Origin-Embedder-Policy), which the program's music thread needs for
shared memory, and every file is gzip-compressed for clients that accept it.
A client gets CONNECTION_TIMEOUT seconds for each read and write, and at most
CONNECTION_LIMIT connections are served at once: one more is answered 503 and
closed, so slow or idle clients cannot pile up threads.

usage: serve-web.py [FOLDER] [--port N]   (port 0 takes any free one)
"""
import argparse
import functools
import gzip
import http.server
import os
import sys
import threading
from http import HTTPStatus

ISOLATION_HEADERS = {
    "Cross-Origin-Opener-Policy": "same-origin",
    "Cross-Origin-Embedder-Policy": "require-corp",
    "Cross-Origin-Resource-Policy": "same-origin",
}

# A browser loading the page opens a handful of connections; each waits at
# most this long for the client's next bytes or for room to send.
CONNECTION_TIMEOUT = 10
CONNECTION_LIMIT = 32


def usable_file_name(path):
    """Whether `path` can name a file: no NUL byte and no character the file
    system's encoding has no bytes for (a request may decode to either)."""
    if "\0" in path:
        return False
    try:
        os.fsencode(path)
    except UnicodeError:
        return False
    return True


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".wasm": "application/wasm",
        ".js": "text/javascript",
        ".data": "application/octet-stream",
    }
    # Compressed files by path and modification time: each is packed once.
    compressed = {}
    timeout = CONNECTION_TIMEOUT

    def parse_request(self):
        if not super().parse_request():
            return False
        if not usable_file_name(self.translate_path(self.path)):
            self.send_error(HTTPStatus.BAD_REQUEST, "No such file name")
            return False
        return True

    def end_headers(self):
        for name, value in ISOLATION_HEADERS.items():
            self.send_header(name, value)
        self.send_header("Cache-Control", "no-cache")
        super().end_headers()

    def do_GET(self):
        path = self.translate_path(self.path)
        if os.path.isdir(path):
            path = os.path.join(path, "index.html")
        accepts_gzip = "gzip" in self.headers.get("Accept-Encoding", "")
        if not accepts_gzip or not os.path.isfile(path):
            return super().do_GET()
        stamp = os.stat(path).st_mtime_ns
        key = (path, stamp)
        body = self.compressed.get(key)
        if body is None:
            with open(path, "rb") as source:
                body = gzip.compress(source.read(), compresslevel=9)
            self.compressed[key] = body
        self.send_response(200)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Encoding", "gzip")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, format, *args):
        sys.stderr.write("%s\n" % (format % args))


class Server(http.server.ThreadingHTTPServer):
    """One thread per connection, up to CONNECTION_LIMIT of them."""

    # Connections waiting to be taken: a burst of them is answered, not left
    # to the client's retries.
    request_queue_size = 128

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.free_slots = threading.BoundedSemaphore(CONNECTION_LIMIT)

    def process_request(self, request, client_address):
        if not self.free_slots.acquire(blocking=False):
            self.turn_away(request)
            return
        super().process_request(request, client_address)

    def process_request_thread(self, request, client_address):
        try:
            super().process_request_thread(request, client_address)
        finally:
            self.free_slots.release()

    def turn_away(self, request):
        """Answers 503 without reading the request, and closes."""
        try:
            request.settimeout(1)
            request.sendall(b"HTTP/1.0 503 Service Unavailable\r\nRetry-After: 1\r\n"
                            b"Content-Length: 0\r\nConnection: close\r\n\r\n")
        except OSError:
            pass
        self.shutdown_request(request)

    def handle_error(self, request, client_address):
        # A client that went away or stalled is no fault of the server's: one
        # line, no traceback.
        error = sys.exc_info()[1]
        if isinstance(error, OSError):
            sys.stderr.write(f"{client_address[0]}: connection ended: {error}\n")
        else:
            super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", nargs="?", default="build/web")
    parser.add_argument("--port", type=int, default=8000)
    options = parser.parse_args()
    if not os.path.isfile(os.path.join(options.folder, "index.html")):
        sys.exit(f"{options.folder}/index.html is missing: run make web first")
    handler = functools.partial(Handler, directory=options.folder)
    server = Server(("127.0.0.1", options.port), handler)
    print(f"serving {options.folder} at http://127.0.0.1:{server.server_port}/", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
