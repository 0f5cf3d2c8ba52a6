"""Headless Chromium driven through its DevTools protocol, with nothing but the
standard library: a minimal WebSocket client (RFC 6455), the browser started
from Debian's `chromium` with its own profile, and a page session to send
commands to and collect events from.

    with Browser() as browser:
        page = browser.new_page()
        page.call("Page.navigate", url="http://127.0.0.1:8000/")
        page.wait_for(lambda: page.evaluate("document.readyState") == "complete", 30)

Every wait polls its condition against a deadline while it keeps reading the
browser's messages, so events are never lost while a test waits.
"""

import base64
import hashlib
import itertools
import json
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time
import urllib.parse
import urllib.request

# Chromium's flags for a headless run that renders WebGL in software
# (SwiftShader) and plays sound without a user gesture.
CHROMIUM_FLAGS = [
    "--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--autoplay-policy=no-user-gesture-required", "--no-first-run", "--no-default-browser-check",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-extensions", "--mute-audio",
    # A busy machine must not make the browser slow a page's timers down or
    # skip its frames.
    "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
    "--disable-backgrounding-occluded-windows",
]

_WS_GUID = b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
_OP_CONTINUATION, _OP_TEXT, _OP_BINARY = 0x0, 0x1, 0x2
_OP_CLOSE, _OP_PING, _OP_PONG = 0x8, 0x9, 0xA


class ConnectionClosed(Exception):
    pass


def wait_for(predicate, timeout, interval=0.05, what="condition", pump=None):
    """Polls predicate until it returns a true value, which is returned.
    pump(seconds), when given, is called between polls instead of sleeping
    (it reads whatever arrives meanwhile)."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        left = deadline - time.monotonic()
        if left <= 0:
            raise TimeoutError(f"timed out after {timeout} s waiting for {what}")
        (pump or time.sleep)(min(interval, left))


class WebSocket:
    """A client WebSocket over a plain TCP socket: text messages out (masked,
    as a client must), text or binary messages in (fragmented ones joined),
    pings answered."""

    def __init__(self, url, timeout=30):
        parts = urllib.parse.urlsplit(url)
        if parts.scheme != "ws":
            raise ValueError(f"not a ws:// address: {url}")
        path = parts.path or "/"
        if parts.query:
            path += "?" + parts.query
        self.sock = socket.create_connection((parts.hostname, parts.port or 80), timeout)
        self._buffer = bytearray()  # received, not yet taken
        try:
            self._handshake(parts.netloc, path)
        except Exception:
            self.sock.close()
            raise

    def _handshake(self, host, path):
        key = base64.b64encode(os.urandom(16))
        request = (f"GET {path} HTTP/1.1\r\nHost: {host}\r\nUpgrade: websocket\r\n"
                   f"Connection: Upgrade\r\nSec-WebSocket-Key: {key.decode()}\r\n"
                   "Sec-WebSocket-Version: 13\r\n\r\n")
        self.sock.sendall(request.encode())
        while b"\r\n\r\n" not in self._buffer:
            self._fill()
        end = self._buffer.index(b"\r\n\r\n")
        lines = self._buffer[:end].decode("latin-1").split("\r\n")
        del self._buffer[:end + 4]
        if lines[0].split(" ")[1:2] != ["101"]:
            raise ConnectionError(f"WebSocket handshake refused: {lines[0]}")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        expected = base64.b64encode(hashlib.sha1(key + _WS_GUID).digest()).decode()
        if headers.get("sec-websocket-accept") != expected:
            raise ConnectionError("WebSocket handshake: wrong Sec-WebSocket-Accept")

    def _fill(self):
        chunk = self.sock.recv(1 << 16)
        if not chunk:
            raise ConnectionClosed("the server closed the connection")
        self._buffer += chunk

    def _take(self, count):
        while len(self._buffer) < count:
            self._fill()
        data = bytes(self._buffer[:count])
        del self._buffer[:count]
        return data

    def _send_frame(self, opcode, payload):
        # FIN set, one frame a message; the length in 7, 16 or 64 bits; the
        # payload masked with a fresh key.
        length = len(payload)
        if length < 126:
            head = struct.pack("!BB", 0x80 | opcode, 0x80 | length)
        elif length < 1 << 16:
            head = struct.pack("!BBH", 0x80 | opcode, 0x80 | 126, length)
        else:
            head = struct.pack("!BBQ", 0x80 | opcode, 0x80 | 127, length)
        mask = os.urandom(4)
        self.sock.sendall(head + mask + _masked(payload, mask))

    def send_text(self, text):
        self._send_frame(_OP_TEXT, text.encode())

    def _read_frame(self):
        first, second = self._take(2)
        fin, opcode = first & 0x80, first & 0x0F
        length = second & 0x7F
        if length == 126:
            length = struct.unpack("!H", self._take(2))[0]
        elif length == 127:
            length = struct.unpack("!Q", self._take(8))[0]
        mask = self._take(4) if second & 0x80 else None
        payload = self._take(length)
        return bool(fin), opcode, _masked(payload, mask) if mask else payload

    def has_data(self, timeout):
        """True when a message (or part of one) is ready to read within timeout seconds."""
        if self._buffer:
            return True
        ready, _, _ = select.select([self.sock], [], [], max(0.0, timeout))
        return bool(ready)

    def receive(self):
        """The next whole text or binary message (text decoded). Control
        frames may come between the fragments of a message."""
        parts, kind = [], None
        while True:
            fin, opcode, payload = self._read_frame()
            if opcode == _OP_PING:
                self._send_frame(_OP_PONG, payload)
                continue
            if opcode == _OP_PONG:
                continue
            if opcode == _OP_CLOSE:
                self._closed_by_peer(payload)
            if opcode in (_OP_TEXT, _OP_BINARY):
                if kind is not None:
                    raise ConnectionError("WebSocket: a new message inside a fragmented one")
                kind = opcode
            elif opcode != _OP_CONTINUATION or kind is None:
                raise ConnectionError(f"WebSocket: unexpected opcode {opcode}")
            parts.append(payload)
            if fin:
                data = b"".join(parts)
                return data.decode() if kind == _OP_TEXT else data

    def _closed_by_peer(self, payload):
        try:
            self._send_frame(_OP_CLOSE, payload[:2])
        except OSError:
            pass
        raise ConnectionClosed("the server closed the WebSocket")

    def close(self):
        try:
            self._send_frame(_OP_CLOSE, struct.pack("!H", 1000))
        except OSError:
            pass
        self.sock.close()


def _masked(payload, mask):
    # XOR with the repeated 4-byte key, done on one big integer: fast for the
    # megabytes of a screenshot as well as for a short command.
    if not payload:
        return payload
    key = (mask * (len(payload) // 4 + 1))[:len(payload)]
    value = int.from_bytes(payload, "big") ^ int.from_bytes(key, "big")
    return value.to_bytes(len(payload), "big")


class ProtocolError(Exception):
    pass


class Connection:
    """One WebSocket to the browser; commands matched to their replies by id,
    events kept per session in arrival order."""

    def __init__(self, url):
        self.ws = WebSocket(url)
        self._ids = itertools.count(1)
        self._replies = {}
        self.events = {}  # session id ("" for the browser) -> list of events

    def pump(self, timeout):
        """Waits up to timeout seconds for a message, then reads it and every
        one that has already arrived."""
        wait = timeout
        while self.ws.has_data(wait):
            message = json.loads(self.ws.receive())
            if "id" in message:
                self._replies[message["id"]] = message
            else:
                self.events.setdefault(message.get("sessionId", ""), []).append(message)
            wait = 0

    def call(self, method, params=None, session="", timeout=60):
        """Sends a command and returns its result; a protocol error raises."""
        command_id = next(self._ids)
        message = {"id": command_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        self.ws.send_text(json.dumps(message))
        reply = wait_for(lambda: self._replies.pop(command_id, None), timeout, 0.5,
                         f"the reply to {method}", self.pump)
        if "error" in reply:
            raise ProtocolError(f"{method}: {reply['error'].get('message')}")
        return reply.get("result", {})

    def close(self):
        self.ws.close()


class Page:
    """One tab, attached through a flat session on the browser's connection."""

    def __init__(self, connection, target_id, session_id):
        self.connection = connection
        self.target_id = target_id
        self.session_id = session_id

    def call(self, method, timeout=60, **params):
        return self.connection.call(method, params, self.session_id, timeout)

    @property
    def events(self):
        return self.connection.events.setdefault(self.session_id, [])

    def pump(self, seconds):
        """Reads the browser's messages for seconds of wall time."""
        deadline = time.monotonic() + seconds
        while (left := deadline - time.monotonic()) > 0:
            self.connection.pump(left)

    def wait_for(self, predicate, timeout, interval=0.1, what="condition"):
        return wait_for(predicate, timeout, interval, what, self.pump)

    def events_named(self, method):
        return [event["params"] for event in self.events if event["method"] == method]

    def wait_for_event(self, method, timeout, matches=lambda params: True):
        """The parameters of the first event named method that matches,
        received so far or within timeout seconds."""
        def found():
            return next((p for p in self.events_named(method) if matches(p)), None)
        return self.wait_for(found, timeout, 0.1, f"the event {method}")

    def evaluate(self, expression, await_promise=False, timeout=60):
        """The value of a JavaScript expression in the page; a thrown
        exception raises."""
        result = self.call("Runtime.evaluate", timeout, expression=expression,
                           returnByValue=True, awaitPromise=await_promise)
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            text = details.get("exception", {}).get("description") or details.get("text")
            raise ProtocolError(f"{expression!r} threw: {text}")
        return result["result"].get("value")

    def navigate(self, url, timeout=60):
        """Opens url and waits until its document has loaded."""
        self.call("Page.navigate", url=url)
        self.wait_for(lambda: self.evaluate("document.readyState") == "complete"
                      and self.evaluate("location.href") == url, timeout, 0.1,
                      f"{url} to load")

    def click(self, x, y):
        """A left click at a point of the viewport, as a mouse does it."""
        for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left",
                      clickCount=0 if kind == "mouseMoved" else 1)

    def screenshot(self, clip=None):
        """The viewport (or a clip {x, y, width, height}) as PNG bytes."""
        params = {"format": "png"}
        if clip:
            params["clip"] = dict(clip, scale=1)
        return base64.b64decode(self.call("Page.captureScreenshot", **params)["data"])


class Browser:
    """Debian's chromium, headless, with a profile in a temp directory; started
    on entering and stopped by its process id on leaving."""

    def __init__(self, width=640, height=480):
        self.width, self.height = width, height
        self.process = None
        self.profile = None
        self.connection = None
        self.log = None

    def __enter__(self):
        self.profile = tempfile.mkdtemp(prefix="viriz-chromium-")
        self.log = open(os.path.join(self.profile, "chromium.log"), "w+")
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        executable = shutil.which("chromium")
        if not executable:
            raise FileNotFoundError("chromium is not installed (apt-get install chromium)")
        profile_dir = os.path.join(self.profile, "profile")
        # Its own process group, so that stopping it reaches its helper
        # processes (renderer, GPU, utilities) and only those.
        self.process = subprocess.Popen(
            [executable, *CHROMIUM_FLAGS, f"--window-size={self.width},{self.height}",
             f"--user-data-dir={profile_dir}", "--remote-debugging-port=0",
             "--remote-debugging-address=127.0.0.1", "about:blank"],
            stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
            start_new_session=True)
        port_file = os.path.join(profile_dir, "DevToolsActivePort")

        def endpoint():
            if self.process.poll() is not None:
                raise RuntimeError(f"chromium exited with {self.process.returncode}: "
                                   + self.log_text()[-2000:])
            try:
                with open(port_file) as f:
                    lines = f.read().split("\n")
            except FileNotFoundError:
                return None
            # The port and the browser's WebSocket path, once both are written.
            return lines if len(lines) >= 2 and lines[0] and lines[1] else None
        port, path = wait_for(endpoint, 60, 0.05, "chromium's DevTools port")[:2]
        self.port = int(port)
        self.connection = Connection(f"ws://127.0.0.1:{self.port}{path}")

    def log_text(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    def targets(self):
        """The page targets, as /json/list describes them."""
        with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/json/list", timeout=30) as r:
            return json.load(r)

    def new_page(self, url="about:blank"):
        """A new tab with its own session, its page viewport exactly
        width x height CSS pixels at one device pixel per CSS pixel."""
        target = self.connection.call("Target.createTarget", {"url": url})["targetId"]
        session = self.connection.call("Target.attachToTarget",
                                       {"targetId": target, "flatten": True})["sessionId"]
        page = Page(self.connection, target, session)
        page.call("Emulation.setDeviceMetricsOverride", width=self.width, height=self.height,
                  deviceScaleFactor=1, mobile=False)
        return page

    def __exit__(self, *exc):
        if self.connection:
            try:
                self.connection.call("Browser.close", timeout=10)
            except (OSError, ConnectionClosed, ProtocolError, TimeoutError):
                pass
            self.connection.close()
            self.connection = None
        if self.process:
            _stop_group(self.process)
            self.process = None
        if self.log:
            self.log.close()
            self.log = None
        if self.profile:
            shutil.rmtree(self.profile, ignore_errors=True)
            self.profile = None


def _stop_group(process, grace=10):
    """Ends a process started in its own session, with whatever is left of
    its process group: it gets grace seconds to end by itself (after
    Browser.close), then SIGTERM, and its leftovers SIGKILL. The leader is
    reaped last, so that its group id cannot be reused meanwhile."""
    if process.returncode is not None:
        return

    def ended():
        return os.waitid(os.P_PID, process.pid,
                         os.WEXITED | os.WNOHANG | os.WNOWAIT) is not None
    try:
        wait_for(ended, grace, 0.05, "the browser to end")
    except TimeoutError:
        os.killpg(process.pid, signal.SIGTERM)
        try:
            wait_for(ended, grace, 0.05, "the browser to end")
        except TimeoutError:
            pass
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.wait()

    # The group's id stays taken while any member lives, so polling it after
    # reaping the leader cannot reach another process.
    def group_gone():
        try:
            os.killpg(process.pid, 0)
            return False
        except ProcessLookupError:
            return True
    wait_for(group_gone, grace, 0.05, "the browser's helper processes to end")
