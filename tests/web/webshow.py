"""The browser build's page under test: its server started on a free port and
stopped by its process id, and the page opened, started and looked at through
the DevTools protocol. The page keeps nothing for its tests: what they watch
(frames drawn, the start gesture, the audio contexts and the sound handed
over) page_probe.js records, injected before the page's own script; the
state is the page's body's data-state, the music clock the program's own
export (src/app/web/page_hooks.cpp)."""

import contextlib
import os
import select
import subprocess
import sys
import urllib.request

import cdp

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import headless  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WEB_DIR = os.environ.get("VIRIZ_WEB_DIR", os.path.join(REPO, "build", "web"))
LINUX_BIN = os.environ.get("VIRIZ_LINUX_BIN", os.path.join(REPO, "build", "linux", "bin"))
SERVER = os.path.join(REPO, "scripts", "serve-web.py")

# Generous: SwiftShader compiles the page's shaders and WebAssembly on a busy
# two-core machine.
START_TIMEOUT = 120

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "page_probe.js")) as _f:
    PROBE = _f.read()
# The seconds of music heard, as the frames are drawn for them.
MUSIC_TIME = "Module._vizMusicTime()"


@contextlib.contextmanager
def serve():
    """Runs the web build's server on a free port; yields its base address.
    The server prints the address as its first line."""
    if not os.path.exists(os.path.join(WEB_DIR, "index.html")):
        raise FileNotFoundError(f"no web build in {WEB_DIR} (make web)")
    server = subprocess.Popen([sys.executable, SERVER, WEB_DIR, "--port", "0"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        ready, _, _ = select.select([server.stdout], [], [], START_TIMEOUT)
        line = server.stdout.readline() if ready else ""
        address = next((word for word in line.split() if word.startswith("http://")), None)
        if not address:
            raise RuntimeError(f"the web server did not say where it serves: {line!r}")
        base = address.rstrip("/") + "/"
        cdp.wait_for(lambda: _answers(base), START_TIMEOUT, 0.1, "the web server")
        yield base
    finally:
        headless._stop(server, 20)
        server.stdout.close()


def _answers(url):
    try:
        with urllib.request.urlopen(url, timeout=10) as reply:
            return reply.status == 200
    except OSError:
        return False


def open_page(browser, url, before_load=None):
    """A new tab with the page, its console and exceptions recorded from the
    start, and page_probe.js watching it; before_load is another script run
    in the page before its own."""
    page = browser.new_page()
    for domain in ("Page", "Runtime", "Log", "Network"):
        page.call(f"{domain}.enable")
    for script in (PROBE, before_load):
        if script:
            page.call("Page.addScriptToEvaluateOnNewDocument", source=script)
    page.navigate(url, START_TIMEOUT)
    return page


def state(page):
    return page.evaluate("document.body && document.body.dataset.state")


def error_text(page):
    """The text the page shows in its error element."""
    return page.evaluate("document.getElementById('error').textContent")


def music_time(page):
    return page.evaluate(MUSIC_TIME)


def check_alive(page):
    """Fails at once when the page has thrown an exception of its own: it
    would not get any further."""
    thrown = page.events_named("Runtime.exceptionThrown")
    if thrown:
        details = thrown[0]["exceptionDetails"]
        raise AssertionError("the page threw: " + details.get("exception", {}).get(
            "description", details.get("text", "")))


def wait_for_state(page, wanted, timeout=START_TIMEOUT):
    """Waits until the page's state is wanted; an error state or an
    exception on the way fails with its text."""
    def reached():
        check_alive(page)
        now = state(page)
        if now == "error" and wanted != "error":
            raise AssertionError(f"the page failed: {error_text(page)}")
        return now == wanted
    page.wait_for(reached, timeout, 0.1, f"the page's state {wanted!r}")


def element_box(page, selector):
    """(x, y, width, height) of an element in CSS pixels, or None."""
    return page.evaluate(f"""(() => {{
        const e = document.querySelector({selector!r});
        if (!e) return null;
        const r = e.getBoundingClientRect();
        return [r.left, r.top, r.width, r.height];
    }})()""")


def click_start(page):
    """Clicks the middle of the start element (the canvas when there is
    none), the way a viewer does."""
    box = element_box(page, "#start") or element_box(page, "#canvas")
    page.click(box[0] + box[2] / 2, box[1] + box[3] / 2)


def start_show(page):
    """Clicks to start and waits until the show runs and draws."""
    wait_for_state(page, "ready")
    click_start(page)
    wait_for_state(page, "running")
    page.wait_for(lambda: check_alive(page) or page.evaluate("vizProbe.frames.length") > 1,
                  START_TIMEOUT, 0.1, "the first frames")


def canvas_shot(page):
    """The canvas as it is on screen: a PNG of its box."""
    x, y, width, height = element_box(page, "#canvas")
    return page.screenshot({"x": x, "y": y, "width": width, "height": height})


def capture_frame(seconds, out_dir, options=()):
    """The Linux build's frame at a show time (viriz-capture, with `options`),
    as PNG path."""
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    subprocess.run([os.path.join(LINUX_BIN, "viriz-capture"), *options, "--at", str(seconds),
                    "--out", out_dir], check=True, capture_output=True, env=env, timeout=300)
    names = [n for n in os.listdir(out_dir) if n.endswith(".png")]
    if len(names) != 1:
        raise RuntimeError(f"viriz-capture wrote {names}")
    return os.path.join(out_dir, names[0])


def console_errors(page):
    """Every console error, logged error and uncaught exception so far, as text."""
    found = []
    for event in page.events:
        params = event["params"]
        if event["method"] == "Runtime.consoleAPICalled" and params["type"] in ("error",
                                                                                 "assert"):
            found.append("console: " + " ".join(str(a.get("value", a.get("description")))
                                                for a in params["args"]))
        elif event["method"] == "Log.entryAdded" and params["entry"]["level"] == "error":
            entry = params["entry"]
            found.append(f"log ({entry['source']}): {entry['text']} {entry.get('url', '')}")
        elif event["method"] == "Runtime.exceptionThrown":
            details = params["exceptionDetails"]
            found.append("exception: " + details.get("exception", {}).get(
                "description", details.get("text", "")))
    return found


def wait_for_show_time(page, seconds, timeout=START_TIMEOUT):
    """Waits until the show's clock has reached seconds."""
    page.wait_for(lambda: check_alive(page) or music_time(page) >= seconds,
                  timeout + seconds, 0.2, f"{seconds} s of the show")
