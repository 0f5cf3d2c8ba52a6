"""The browser driver itself: its WebSocket framing against a scripted server,
and a whole round (start, click, screenshot, console, stop) against a small
static page."""

import base64
import contextlib
import functools
import hashlib
import http.server
import os
import socket
import struct
import tempfile
import threading
import unittest

import cdp
import png

_GUID = b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11"


def _frame(opcode, payload, fin=True):
    """A server frame: never masked, length in 7, 16 or 64 bits."""
    first = (0x80 if fin else 0) | opcode
    if len(payload) < 126:
        return struct.pack("!BB", first, len(payload)) + payload
    if len(payload) < 1 << 16:
        return struct.pack("!BBH", first, 126, len(payload)) + payload
    return struct.pack("!BBQ", first, 127, len(payload)) + payload


class ScriptedServer:
    """Accepts one WebSocket client on a free port and runs script(connection,
    read_frame) in a thread; what the script returns is in .result."""

    def __init__(self, script, accept_key=None):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.url = f"ws://127.0.0.1:{self.listener.getsockname()[1]}/devtools/x"
        self.script, self.accept_key = script, accept_key
        self.result, self.error = None, None
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        try:
            connection, _ = self.listener.accept()
            with connection:
                connection.settimeout(30)
                stream = connection.makefile("rb")
                head = b""
                while not head.endswith(b"\r\n\r\n"):
                    head += stream.readline()
                key = [line.split(b":", 1)[1].strip() for line in head.split(b"\r\n")
                       if line.lower().startswith(b"sec-websocket-key:")][0]
                accept = self.accept_key or base64.b64encode(
                    hashlib.sha1(key + _GUID).digest())
                connection.sendall(b"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                   b"Connection: Upgrade\r\nSec-WebSocket-Accept: " + accept
                                   + b"\r\n\r\n")
                self.result = self.script(connection, functools.partial(self._read, stream))
        except Exception as error:  # reported by finish()
            self.error = error
        finally:
            self.listener.close()

    @staticmethod
    def _read(stream):
        """A client frame: (fin, opcode, unmasked payload); it must be masked."""
        first, second = stream.read(2)
        length = second & 0x7F
        if length == 126:
            length = struct.unpack("!H", stream.read(2))[0]
        elif length == 127:
            length = struct.unpack("!Q", stream.read(8))[0]
        if not second & 0x80:
            raise AssertionError("client frame not masked")
        mask = stream.read(4)
        payload = bytes(b ^ mask[i % 4] for i, b in enumerate(stream.read(length)))
        return bool(first & 0x80), first & 0x0F, payload

    def finish(self):
        self.thread.join(30)
        if self.error:
            raise self.error
        return self.result


class WebSocketTest(unittest.TestCase):
    def test_messages_of_every_length_class_go_out_masked(self):
        texts = ["", "x" * 125, "é" * 100, "y" * 65535, "z" * 70000]

        def script(connection, read):
            return [read() for _ in texts]
        server = ScriptedServer(script)
        ws = cdp.WebSocket(server.url)
        for text in texts:
            ws.send_text(text)
        frames = server.finish()
        ws.close()
        self.assertEqual([f[2].decode() for f in frames], texts)
        self.assertTrue(all(fin and opcode == 1 for fin, opcode, _ in frames))

    def test_fragmented_message_joined_and_pings_answered_between_fragments(self):
        big = os.urandom(100000)
        text = "ü".join(["fragment"] * 20000)
        encoded = text.encode()
        cut = len(encoded) // 3 + 1  # splits a two-byte character

        def script(connection, read):
            connection.sendall(_frame(1, encoded[:cut], fin=False) + _frame(9, b"are you there")
                               + _frame(0, encoded[cut:2 * cut], fin=False)
                               + _frame(0, encoded[2 * cut:]) + _frame(2, big)
                               + _frame(1, b"after"))
            return read()
        server = ScriptedServer(script)
        ws = cdp.WebSocket(server.url)
        self.assertEqual(ws.receive(), text)
        self.assertEqual(ws.receive(), big)
        self.assertEqual(ws.receive(), "after")
        self.assertEqual(server.finish(), (True, 0xA, b"are you there"))
        ws.close()

    def test_close_from_the_server_is_answered_and_raised(self):
        def script(connection, read):
            connection.sendall(_frame(8, struct.pack("!H", 1001)))
            return read()
        server = ScriptedServer(script)
        ws = cdp.WebSocket(server.url)
        with self.assertRaises(cdp.ConnectionClosed):
            ws.receive()
        self.assertEqual(server.finish(), (True, 8, struct.pack("!H", 1001)))
        ws.close()

    def test_wrong_accept_key_is_refused(self):
        server = ScriptedServer(lambda connection, read: None, accept_key=b"bm90IHRoZSBrZXk=")
        with self.assertRaisesRegex(ConnectionError, "Sec-WebSocket-Accept"):
            cdp.WebSocket(server.url)
        server.finish()


_STATIC_PAGE = b"""<!doctype html>
<html><body style="margin:0; background:#000">
<canvas id="canvas" width="640" height="480"></canvas>
<script>
  var gl = document.getElementById('canvas').getContext('webgl');
  document.getElementById('canvas').addEventListener('click', function () {
    gl.clearColor(0.0, 0.8, 0.2, 1.0);
    gl.clear(gl.COLOR_BUFFER_BIT);
    console.error('clicked with', gl.getParameter(gl.VERSION).length > 0);
    setTimeout(function () { throw new Error('thrown later'); }, 0);
  });
</script></body></html>
"""


@contextlib.contextmanager
def static_site(files):
    """Serves files {name: bytes} on a free port of 127.0.0.1 from this
    process; yields the base address."""
    with tempfile.TemporaryDirectory(prefix="viriz-static-") as root:
        for name, data in files.items():
            with open(os.path.join(root, name), "wb") as f:
                f.write(data)

        class Quiet(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass
        handler = functools.partial(Quiet, directory=root)
        with http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler) as server:
            thread = threading.Thread(target=server.serve_forever, daemon=True)
            thread.start()
            try:
                yield f"http://127.0.0.1:{server.server_address[1]}/"
            finally:
                server.shutdown()
                thread.join(30)


def _process_group_alive(pgid):
    try:
        os.killpg(pgid, 0)
        return True
    except ProcessLookupError:
        return False


class BrowserTest(unittest.TestCase):
    def test_click_draws_and_console_and_exceptions_are_recorded(self):
        with static_site({"index.html": _STATIC_PAGE}) as url, cdp.Browser() as browser:
            page = browser.new_page()
            for domain in ("Page", "Runtime", "Log"):
                page.call(f"{domain}.enable")
            page.navigate(url)
            self.assertEqual([t["url"] for t in browser.targets() if t["type"] == "page"
                              and t["id"] == page.target_id], [url])
            page.click(320, 240)
            error = page.wait_for_event("Runtime.consoleAPICalled", 30,
                                        lambda p: p["type"] == "error")
            self.assertEqual([a.get("value") for a in error["args"]], ["clicked with", True])
            thrown = page.wait_for_event("Runtime.exceptionThrown", 30)
            self.assertIn("thrown later", thrown["exceptionDetails"]["exception"]["description"])

            shot = png.read(page.screenshot())
            self.assertEqual((shot.width, shot.height), (640, 480))
            red, green, blue = shot.pixel(600, 400)
            self.assertLess(red, 10)
            self.assertAlmostEqual(green, 204, delta=3)
            self.assertAlmostEqual(blue, 51, delta=3)
            self.assertEqual(page.evaluate("new Promise(r => setTimeout(() => r(6 * 7), 10))",
                                           await_promise=True), 42)
            with self.assertRaisesRegex(cdp.ProtocolError, "nope"):
                page.evaluate("(() => { throw new Error('nope'); })()")
            pgid, profile = browser.process.pid, browser.profile
        self.assertFalse(_process_group_alive(pgid), "chromium's processes outlived the test")
        self.assertFalse(os.path.exists(profile))


if __name__ == "__main__":
    unittest.main()
