"""The browser driver itself: a whole round (start, click, screenshot,
console, stop) against a small static page."""

import contextlib
import functools
import http.server
import os
import tempfile
import threading
import unittest

import cdp
import png

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
