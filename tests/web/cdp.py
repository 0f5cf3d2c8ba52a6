"""Headless Chromium driven through its DevTools protocol: Debian's chromium
started with its own profile, one WebSocket to it (python3-websocket), and a
page session to send commands to and collect events from.

    with Browser() as browser:
        page = browser.new_page()
        page.call("Page.navigate", url="http://127.0.0.1:8000/")
        page.wait_for(lambda: page.evaluate("document.readyState") == "complete", 30)

Every wait polls its condition against a deadline while it keeps reading the
browser's messages, so events are never lost while a test waits.
"""

import base64
import itertools
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

import websocket

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from polling import wait_for  # noqa: E402

# Chromium's flags for a run that renders WebGL in software (SwiftShader) and
# plays sound without a user gesture.
CHROMIUM_FLAGS = [
    "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--autoplay-policy=no-user-gesture-required", "--no-first-run", "--no-default-browser-check",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-extensions",
    # A busy machine must not make the browser slow a page's timers down or
    # skip its frames.
    "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
    "--disable-backgrounding-occluded-windows",
]
# Headless, its sound muted.
HEADLESS_FLAGS = ["--headless=new", "--mute-audio"]
# On an X server (DISPLAY) as a viewer's browser, the page filling its one
# window without the browser's own bars; its sound goes to the sound server
# that the environment names.
ON_SCREEN_FLAGS = ["--kiosk", "--window-position=0,0", "--disable-infobars"]


class ProtocolError(Exception):
    pass


class Connection:
    """One WebSocket to the browser; commands matched to their replies by id,
    events kept per session in arrival order."""

    def __init__(self, url):
        # No Origin header: Chromium refuses DevTools clients that send one it
        # was not told to allow.
        self.ws = websocket.create_connection(url, timeout=30, suppress_origin=True)
        self._ids = itertools.count(1)
        self._replies = {}
        self.events = {}  # session id ("" for the browser) -> list of events

    def pump(self, timeout):
        """Waits up to timeout seconds for a message, then reads it and every
        one that has already arrived."""
        # The client reads no further than the frame it returns, so whatever
        # has not been taken yet is still in the socket.
        wait = timeout
        while select.select([self.ws.sock], [], [], max(0.0, wait))[0]:
            opcode, data = self.ws.recv_data()
            if opcode == websocket.ABNF.OPCODE_CLOSE:
                raise websocket.WebSocketConnectionClosedException("the browser closed it")
            message = json.loads(data)
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
        self.ws.send(json.dumps(message))
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

    def start_tracing(self, categories):
        """Starts recording the browser's trace events of these categories."""
        self.call("Tracing.start", transferMode="ReturnAsStream",
                  traceConfig={"includedCategories": list(categories)})

    def stop_tracing(self, timeout=120):
        """Stops the trace; returns its events (dicts of Chromium's JSON
        trace format, `ts` in microseconds of the monotonic clock)."""
        self.call("Tracing.end")
        stream = self.wait_for_event("Tracing.tracingComplete", timeout)["stream"]
        data = bytearray()
        while True:
            chunk = self.call("IO.read", handle=stream, size=1 << 20)
            data += (base64.b64decode(chunk["data"]) if chunk.get("base64Encoded")
                     else chunk["data"].encode())
            if chunk.get("eof"):
                break
        self.call("IO.close", handle=stream)
        return json.loads(data)["traceEvents"]

    def screenshot(self, clip=None):
        """The viewport (or a clip {x, y, width, height}) as PNG bytes."""
        params = {"format": "png"}
        if clip:
            params["clip"] = dict(clip, scale=1)
        return base64.b64decode(self.call("Page.captureScreenshot", **params)["data"])


class Browser:
    """Debian's chromium, headless, with a profile in a temp directory; started
    on entering and stopped by its process id on leaving. With env (DISPLAY
    and a sound server's variables) it runs on that X server instead, its
    window width x height at the screen's corner, and plays sound."""

    def __init__(self, width=640, height=480, env=None):
        self.width, self.height = width, height
        self.env = env
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
        mode_flags = ON_SCREEN_FLAGS if self.env else HEADLESS_FLAGS
        self.process = subprocess.Popen(
            [executable, *CHROMIUM_FLAGS, *mode_flags, f"--window-size={self.width},{self.height}",
             f"--user-data-dir={profile_dir}", "--remote-debugging-port=0",
             "--remote-debugging-address=127.0.0.1", "about:blank"],
            stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
            env=dict(os.environ, **self.env) if self.env else None, start_new_session=True)
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
        width x height CSS pixels at one device pixel per CSS pixel (on an X
        server: the window's, which the tab fills)."""
        target = self.connection.call("Target.createTarget", {"url": url})["targetId"]
        session = self.connection.call("Target.attachToTarget",
                                       {"targetId": target, "flatten": True})["sessionId"]
        page = Page(self.connection, target, session)
        if not self.env:
            page.call("Emulation.setDeviceMetricsOverride", width=self.width,
                      height=self.height, deviceScaleFactor=1, mobile=False)
        return page

    def __exit__(self, *exc):
        if self.connection:
            try:
                self.connection.call("Browser.close", timeout=10)
            except (OSError, websocket.WebSocketException, ProtocolError, TimeoutError):
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
