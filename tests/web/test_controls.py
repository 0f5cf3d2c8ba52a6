"""The playback keys, the timeline and ?t= in the page, in headless Chromium:
?t= starts the show there, Space holds the clock and the picture and
resumes from where it stood, Right, Left and Home move the clock, a click on
the timeline moves it to that share of the music, the timeline shows where
the show is and is hidden in fullscreen. Prints how long a seek takes from the key press to the
first frame drawn for the new position (not asserted: a busy machine with
software rendering decides it)."""

import statistics
import time
import unittest

import cdp
import webshow

# The DevTools key events: the key, its code and the key code SDL reads.
KEYS = {"space": (" ", "Space", 32), "Home": ("Home", "Home", 36),
        "Left": ("ArrowLeft", "ArrowLeft", 37), "Right": ("ArrowRight", "ArrowRight", 39)}

# Records the page time of the first animation frame, after the one running
# when it is installed, whose music clock lies in [low, high].
WATCH = """(() => {
  const low = %f, high = %f;
  window.seekSeen = null;
  window.seekSent = performance.now();
  const look = () => {
    const now = %s;
    if (now >= low && now <= high) window.seekSeen = performance.now();
    else requestAnimationFrame(look);
  };
  requestAnimationFrame(look);
})()"""


def press(page, name):
    key, code, key_code = KEYS[name]
    for kind in ("keyDown", "keyUp"):
        page.call("Input.dispatchKeyEvent", type=kind, key=key, code=code,
                  windowsVirtualKeyCode=key_code, nativeVirtualKeyCode=key_code,
                  text=key if kind == "keyDown" and key == " " else "")


def clock(page):
    return webshow.music_time(page)


class ControlsTest(unittest.TestCase):
    def wait_for_clock(self, page, low, high, what):
        return page.wait_for(lambda: (webshow.check_alive(page) or
                                      low <= clock(page) <= high) and clock(page),
                             webshow.START_TIMEOUT, 0.05, what)

    def wait_for_standstill(self, page):
        """Waits until the clock has stood still for a quarter of a second
        (the pause has taken effect); returns where it stands."""
        still = []  # (wall time, clock) since the clock last moved

        def stands():
            now = clock(page)
            if still and still[0][1] != now:
                still.clear()
            still.append((time.monotonic(), now))
            return still[-1][0] - still[0][0] >= 0.25
        page.wait_for(stands, webshow.START_TIMEOUT, 0.05, "the pause")
        return still[-1][1]

    def seek_by_key(self, page, name, low, high, times):
        """Presses a key that moves the show into [low, high] and keeps the
        time from the press to the first frame there."""
        page.evaluate(WATCH % (low, high, webshow.MUSIC_TIME))
        press(page, name)
        page.wait_for(lambda: page.evaluate("seekSeen") is not None, webshow.START_TIMEOUT,
                      0.05, f"{name} to move the show to {low}-{high} s")
        times.append(page.evaluate("seekSeen - seekSent"))

    def test_keys_timeline_and_start_position(self):
        with webshow.serve() as base, cdp.Browser() as browser:
            page = webshow.open_page(browser, base + "?t=20")
            webshow.start_show(page)
            # ?t=: the clock starts at 20 s.
            first = self.wait_for_clock(page, 20.0, 23.0, "the show from 20 s")
            self.assertGreaterEqual(first, 20.0)
            length = page.evaluate("Module._vizTrackLength()")
            self.assertGreater(length, 60)
            webshow.wait_for_show_time(page, 20.5)

            # Space: the clock and the picture hold; again: they go on from there.
            press(page, "space")
            held = self.wait_for_standstill(page)
            shot = webshow.canvas_shot(page)
            since = time.monotonic()
            page.wait_for(lambda: time.monotonic() - since > 1.0, 30, 0.2, "a second of the pause")
            self.assertEqual(clock(page), held, "the clock moved while paused")
            self.assertEqual(webshow.canvas_shot(page), shot, "the picture moved while paused")
            press(page, "space")
            page.wait_for(lambda: clock(page) > held, webshow.START_TIMEOUT, 0.05,
                          "the clock to go on")
            self.assertLess(clock(page), held + 1.0, "the clock jumped on resuming")

            # The keys move the clock, and the timeline shows where it is.
            times = []
            now = clock(page)
            self.seek_by_key(page, "Right", now + 4.5, now + 6.5, times)
            now = clock(page)
            self.seek_by_key(page, "Left", now - 5.5, now - 3.5, times)
            self.seek_by_key(page, "Home", 0.0, 1.5, times)
            self.seek_by_key(page, "Right", 4.5, 6.5, times)
            played = page.evaluate("document.getElementById('timeline-played')"
                                   ".getBoundingClientRect().width / document.getElementById("
                                   "'timeline').getBoundingClientRect().width")
            self.assertAlmostEqual(played, clock(page) / length, delta=0.03)

            # A click on the timeline: three quarters of the music.
            x, y, width, height = webshow.element_box(page, "#timeline")
            self.assertGreater(height, 0, "no timeline under the running show")
            self.assertLessEqual(height, 12, "the timeline is not thin")
            canvas = webshow.element_box(page, "#canvas")
            self.assertGreaterEqual(y, canvas[1] + canvas[3] - 0.5, "the timeline is over the canvas")
            page.click(x + 0.75 * width, y + height / 2)
            self.wait_for_clock(page, 0.75 * length - 1.5, 0.75 * length + 1.5,
                                "the click to move the show to three quarters")

            # Fullscreen: the picture has the whole screen, without the timeline.
            x, y, width, height = webshow.element_box(page, "#fullscreen")
            page.click(x + width / 2, y + height / 2)
            page.wait_for(lambda: page.evaluate("document.fullscreenElement !== null"), 30, 0.1,
                          "fullscreen")
            self.assertEqual(page.evaluate(
                "getComputedStyle(document.getElementById('timeline')).display"), "none")
            self.assertEqual(webshow.console_errors(page), [])
            print(f"\nseek from key press to the new position's frame: "
                  f"median {statistics.median(times):.0f} ms, worst {max(times):.0f} ms "
                  f"({', '.join(f'{t:.0f}' for t in times)})")

    def test_start_position_must_be_a_number(self):
        with webshow.serve() as base, cdp.Browser() as browser:
            page = webshow.open_page(browser, base + "?t=soon")
            webshow.wait_for_state(page, "error")
            self.assertIn("?t= needs a number of seconds", webshow.error_text(page))


if __name__ == "__main__":
    unittest.main()
