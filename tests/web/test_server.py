"""The page server (scripts/serve-web.py) against careless and hostile
clients, over plain sockets: a path that no file can have is answered 400,
slow clients hold at most the bound of connections (each past it is answered
503 at once instead of getting a thread), and a silent client is closed after
the time-out."""

import contextlib
import importlib.util
import os
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

import webshow

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import headless  # noqa: E402
import polling  # noqa: E402

_spec = importlib.util.spec_from_file_location("serve_web", webshow.SERVER)
serve_web = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(serve_web)

# Generous for a busy two-core machine.
DEADLINE = 60


@contextlib.contextmanager
def serving(folder, log):
    """The server on a free port over `folder`, its standard error in `log`;
    yields (process, port)."""
    server = subprocess.Popen([sys.executable, webshow.SERVER, folder, "--port", "0"],
                              stdout=subprocess.PIPE, stderr=log, text=True)
    try:
        line = server.stdout.readline()
        port = int(line.split("http://127.0.0.1:")[1].split("/")[0])
        yield server, port
    finally:
        headless._stop(server, 20)
        server.stdout.close()


def connect(port):
    return socket.create_connection(("127.0.0.1", port), timeout=DEADLINE)


def status_of(port, target):
    """The status code of a GET of `target` (sent as it is)."""
    with connect(port) as client:
        client.sendall(f"GET {target} HTTP/1.0\r\n\r\n".encode())
        reply = b""
        while b"\r\n" not in reply:
            chunk = client.recv(4096)
            if not chunk:
                raise AssertionError(f"{target}: the connection ended without a status line")
            reply += chunk
    return int(reply.split()[1])


def threads_of(process):
    return len(os.listdir(f"/proc/{process.pid}/task"))


class SlowClients:
    """Connections that started a request and send one more byte of a
    header every half second, never finishing it."""

    def __init__(self, port, count):
        self.sockets = [connect(port) for _ in range(count)]
        for client in self.sockets:
            client.sendall(b"GET /index.html HTTP/1.0\r\nX-Slow: ")
        self.stop = threading.Event()
        self.trickle = threading.Thread(target=self.run)
        self.trickle.start()

    def run(self):
        while not self.stop.wait(0.5):
            for client in self.sockets:
                client.sendall(b"a")

    def close(self):
        self.stop.set()
        self.trickle.join()
        for client in self.sockets:
            client.close()


class ServerTest(unittest.TestCase):
    def test_bad_paths_slow_and_silent_clients(self):
        with tempfile.TemporaryDirectory(prefix="viriz-serve-") as folder, \
                tempfile.TemporaryFile("w+") as log:
            with open(os.path.join(folder, "index.html"), "w") as page:
                page.write("<!doctype html><title>t</title>")
            with serving(folder, log) as (server, port):
                # A NUL byte, and a lone surrogate that no file name encodes.
                for target in ("/index.html%00.js", "/%00", "/%ED%A0%80.html"):
                    self.assertEqual(status_of(port, target), 400, target)
                self.assertEqual(status_of(port, "/index.html"), 200)

                limit = serve_web.CONNECTION_LIMIT
                slow = SlowClients(port, limit)
                try:
                    polling.wait_for(lambda: threads_of(server) == 1 + limit, DEADLINE,
                                     what=f"{limit} connection threads")
                    for _ in range(2 * limit):
                        self.assertEqual(status_of(port, "/index.html"), 503)
                    self.assertLessEqual(threads_of(server), 1 + limit)
                finally:
                    slow.close()
                polling.wait_for(lambda: status_of(port, "/index.html") == 200, DEADLINE,
                                 what="the server to serve again")

                # Silent: the server ends the connection after its time-out.
                with connect(port) as silent:
                    self.assertEqual(silent.recv(1), b"", "a silent client got an answer")
                self.assertEqual(server.poll(), None, "the server ended")
            log.seek(0)
            self.assertNotIn("Traceback", log.read())


if __name__ == "__main__":
    unittest.main()
