#!/usr/bin/env python3
"""Serves the web build (build/web) on 127.0.0.1 and prints its address.

The page is sent cross-origin isolated (Cross-Origin-Opener-Policy and
Cross-Origin-Embedder-Policy), which the program's music thread needs for
shared memory, and every file is gzip-compressed for clients that accept it.

usage: serve-web.py [FOLDER] [--port N]   (port 0 takes any free one)
"""
import argparse
import functools
import gzip
import http.server
import os
import sys

ISOLATION_HEADERS = {
    "Cross-Origin-Opener-Policy": "same-origin",
    "Cross-Origin-Embedder-Policy": "require-corp",
    "Cross-Origin-Resource-Policy": "same-origin",
}


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".wasm": "application/wasm",
        ".js": "text/javascript",
        ".data": "application/octet-stream",
    }
    # Compressed files by path and modification time: each is packed once.
    compressed = {}

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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", nargs="?", default="build/web")
    parser.add_argument("--port", type=int, default=8000)
    options = parser.parse_args()
    if not os.path.isfile(os.path.join(options.folder, "index.html")):
        sys.exit(f"{options.folder}/index.html is missing: run make web first")
    handler = functools.partial(Handler, directory=options.folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", options.port), handler)
    print(f"serving {options.folder} at http://127.0.0.1:{server.server_port}/", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
