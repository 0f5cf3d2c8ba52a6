"""The browser build in headless Chromium, served the way `make serve-web`
serves it: the show starts on a click and draws the mesh, a frame at a fixed
show time matches the Linux build's, the clock follows the music, a missing
track and a show time that the program does not take say so, the console
stays clean, and the performance figures."""

import os
import re
import statistics
import tempfile
import time
import unittest

import cdp
import measure
import png
import webshow

# As the golden frames: a pixel differs beyond 24 levels in a channel, and
# 0.5% of the pixels may differ.
PIXEL_LEVELS = 24
DIFFERING_SHARE = 0.005


class ShowTest(unittest.TestCase):
    def test_click_starts_the_show_and_the_mesh_appears(self):
        with webshow.serve() as base, cdp.Browser() as browser:
            page = webshow.open_page(browser, base)
            webshow.wait_for_state(page, "ready")
            self.assertEqual(page.evaluate("vizFrames"), 0, "drew before the click")
            webshow.click_start(page)
            webshow.wait_for_state(page, "running")

            # The show's first seconds hold the mesh on more than 1% of the
            # picture (as the Linux build's first frame does).
            def lit():
                share = png.read(webshow.canvas_shot(page)).lit_share()
                return share if share > 0.01 else None
            page.wait_for(lit, webshow.START_TIMEOUT, 0.5, "the mesh on the canvas")
            self.assertEqual(webshow.console_errors(page), [])

    def test_start_notice_warns_of_flashing_lights_and_links_the_gentler_show(self):
        with webshow.serve() as base, cdp.Browser() as browser:
            page = webshow.open_page(browser, base)
            webshow.wait_for_state(page, "ready")
            notice = page.evaluate("document.getElementById('flash-notice').innerText")
            self.assertIn("flashing lights", notice)
            link = page.evaluate("document.querySelector('#flash-notice a').href")
            self.assertTrue(link.endswith("?reduced-flashing"), link)


class FrameTest(unittest.TestCase):
    def test_frames_at_fixed_times_match_the_linux_capture(self):
        # The logo over the slow swing, the fast section, and the credits
        # (lit) over the orbit; and two of them with reduced flashing.
        for seconds, reduced in ((20, False), (40, False), (50, False), (40, True), (50, True)):
            with self.subTest(at=seconds, reduced_flashing=reduced), \
                    tempfile.TemporaryDirectory(prefix="viriz-web-frame-") as tmp, \
                    webshow.serve() as base, cdp.Browser() as browser:
                options = ["--reduced-flashing"] if reduced else []
                linux = png.read_file(webshow.capture_frame(seconds, tmp, options))
                query = f"?at={seconds}" + ("&reduced-flashing" if reduced else "")
                page = webshow.open_page(browser, base + query)
                webshow.wait_for_state(page, "still")
                shot = webshow.canvas_shot(page)
                web = png.read(shot)
                differing = png.differing_pixels(web, linux, PIXEL_LEVELS)
                if differing > DIFFERING_SHARE * linux.width * linux.height:
                    kept = os.path.join(tempfile.gettempdir(), f"viriz-web-at-{seconds}.png")
                    with open(kept, "wb") as f:
                        f.write(shot)
                    self.fail(f"{differing} pixels differ from the Linux frame at {seconds} s "
                              f"(the page's frame is in {kept})")


class ClockTest(unittest.TestCase):
    """The clock against the music heard. The page keeps its newest chunks of
    music with the context time each was scheduled for, and the audio
    context's output timestamp says which context time the output plays now:
    between them, how far into the music the listener is."""

    # The clock, the music heard, and whether that is known; read at the same
    # moment in the page. While the context is suspended its timestamp
    # stands, so the time heard is held to the context's own. A callback that
    # runs late gets a playback time as late as it ran, though its chunk may
    # still play right after the one before: each chunk starts a chunk's
    # length before the next at the latest. Callbacks that ran a chunk or more
    # late pile up, less than half a chunk apart, and overwrite each other's
    # output: what is heard then is known to neither side, until such chunks
    # are no longer among the eight newest (0.74 s; the clock catches up on
    # the chunks dropped meanwhile).
    SAMPLE = """(() => {
        const context = vizAudioContext();
        const chunk = vizAudioChunkSeconds;
        const stamp = context.getOutputTimestamp();
        const sinceStamp = (performance.now() - stamp.performanceTime) / 1000;
        const now = Math.min(context.currentTime, stamp.contextTime + sinceStamp);
        let heard = 0;
        let known = true;
        let next = Infinity;
        for (let k = vizAudioChunks.length - 1; k >= 0; --k) {
            const [playbackTime, start] = vizAudioChunks[k];
            const starts = Math.min(playbackTime, next - chunk);
            if (starts <= now && heard == 0)
                heard = start + Math.min(now - starts, chunk);
            const piledUp = k > 0 && playbackTime - vizAudioChunks[k - 1][0] < chunk / 2;
            if (piledUp && k >= vizAudioChunks.length - 8)
                known = false;
            next = starts;
        }
        return [vizMusicTime(), heard, known];
    })()"""
    # The latency the clock subtracts and the one the context reports now.
    LATENCY = """[vizAudioLatency(),
                  vizAudioContext().baseLatency + vizAudioContext().outputLatency]"""
    # Headless Chromium reports 42 ms of output latency: a clock that leaves it
    # out, or takes it twice, is centred that far from the music heard.
    CENTRE_SECONDS = 0.02
    # Readings with the music heard known that the centring is taken from.
    READINGS = 10

    def test_clock_follows_the_music_heard_and_stands_still_while_the_output_does(self):
        with webshow.serve() as base, cdp.Browser() as browser:
            page = webshow.open_page(browser, base)
            webshow.start_show(page)
            chunk = page.evaluate("vizAudioChunkSeconds")
            self.assertGreater(chunk, 0)
            page.wait_for(lambda: page.evaluate("vizAudioChunks.length") > 0,
                          webshow.START_TIMEOUT, 0.1, "the music to play")
            samples = []

            def sample():
                samples.append(page.evaluate(self.SAMPLE))
                return samples[-1][0]

            # Playing: readings over six seconds, each within a chunk of the
            # music heard, and centred on it.
            page.wait_for(lambda: sample() >= 6, webshow.START_TIMEOUT, 0.1,
                          "six seconds of the show")
            playing = self.assert_follows(samples, chunk)
            offsets = [clock - heard for clock, heard, _ in playing if heard > 0]
            self.assertGreaterEqual(len(offsets), self.READINGS)
            self.assertLess(abs(statistics.median(offsets)), self.CENTRE_SECONDS,
                            "the clock is not centred on the music heard")
            self.assert_latency_is_current(page)

            # Suspended: the clock comes to a stop, not beyond the music
            # handed over.
            page.evaluate("vizAudioContext().suspend()", await_promise=True)
            still = []  # (wall time, clock) since the clock last moved

            def stands_still():
                clock = sample()
                if still and still[0][1] != clock:
                    still.clear()
                still.append((time.monotonic(), clock))
                return still[-1][0] - still[0][0] >= 0.25
            page.wait_for(stands_still, webshow.START_TIMEOUT, 0.05,
                          "the clock to stand still while the output is suspended")
            stood = still[-1][1]
            handed_over = page.evaluate("vizAudioChunks[vizAudioChunks.length - 1][1]") + chunk
            self.assertLessEqual(stood, handed_over + 0.001, "the clock ran past the music")

            # Resumed: the latency is read again, and the clock goes on from
            # where it stood once the music heard has caught up with it.
            resumed_at = page.evaluate(
                "vizAudioContext().resume().then(() => vizAudioContext().currentTime)",
                await_promise=True)
            page.wait_for(lambda: page.evaluate("vizAudioLatency().readAt") > resumed_at,
                          webshow.START_TIMEOUT, 0.05, "an audio callback after the resume")
            self.assert_latency_is_current(page)
            page.wait_for(lambda: sample() > stood, webshow.START_TIMEOUT, 0.05,
                          "the clock to go on after the resume")
            going_on = len(samples) - 1
            page.wait_for(lambda: sample() >= stood + 2, webshow.START_TIMEOUT, 0.1,
                          "two seconds after the resume")
            self.assert_follows(samples[going_on:], chunk)

            # The page's thread held up for half a second: the callbacks it
            # missed come all at once, most of them for the same slot of the
            # output, and no two get music for the same slot. The clock then
            # follows the music heard again.
            held_up = len(samples)
            page.evaluate("(() => { const end = performance.now() + 500;"
                          " while (performance.now() < end); })()")
            stood = samples[held_up - 1][0]
            # Half a second on, the page still holds the chunks of the gap.
            page.wait_for(lambda: sample() >= stood + 0.5, webshow.START_TIMEOUT, 0.1,
                          "the clock to go on after the page's thread was held up")
            scheduled = [playback_time for playback_time, _ in page.evaluate("vizAudioChunks")]
            self.assertEqual(scheduled, sorted(set(scheduled)),
                             "chunks of music were scheduled for the same time")
            page.wait_for(lambda: sample() >= stood + 3, webshow.START_TIMEOUT, 0.1,
                          "three seconds after the page's thread was held up")
            self.assert_follows(samples[held_up:], chunk)
            clocks = [clock for clock, _, _ in samples]
            self.assertEqual(clocks, sorted(clocks), "the clock went back")

    def assert_follows(self, samples, chunk):
        """Each reading where the music heard is known is within a chunk of
        it; returns those readings."""
        known = [reading for reading in samples if reading[2]]
        for clock, heard, _ in known:
            self.assertLessEqual(abs(clock - heard), chunk + 0.001,
                                 f"clock {clock:.3f} s, music heard {heard:.3f} s")
        return known

    def assert_latency_is_current(self, page):
        """The latency the clock subtracts is the one the running context
        reports (to the frame), not one read before it ran."""
        latency, reported = page.evaluate(self.LATENCY)
        self.assertAlmostEqual(latency["seconds"], reported, delta=1 / 44100,
                               msg="the clock's latency is not the context's")


class ErrorTest(unittest.TestCase):
    def test_missing_track_says_jalla(self):
        # The data set without its archive: the track is nowhere.
        with webshow.serve() as base, cdp.Browser() as browser:
            page = webshow.open_page(browser, base + "?remove=data.dat")
            webshow.wait_for_state(page, "ready")
            webshow.click_start(page)
            webshow.wait_for_state(page, "error")
            self.assertEqual(page.evaluate("vizError"), "jalla")
            self.assertEqual(page.evaluate("document.getElementById('error').innerText"),
                             "jalla")


    def test_refused_show_times_are_shown_with_the_range_taken(self):
        # Past the show's end, no number, not finite, below 0, empty: each is
        # refused in the page as soon as it has loaded, before a click, with
        # the range the program takes.
        refused = ("?t=9999999", "?at=junk", "?at=Infinity", "?at=-1", "?at=", "?t=1e3")
        range_taken = r"needs a number of seconds from 0 to (\d+\.\d) \(the show's length\)"
        ends = set()
        with webshow.serve() as base, cdp.Browser() as browser:
            page = webshow.open_page(browser, "about:blank")
            for query in refused:
                with self.subTest(query=query):
                    self.assertEqual(self.settled_state(page, base + query), "error")
                    error = page.evaluate("vizError")
                    name = query.split("=")[0]
                    found = re.fullmatch(re.escape(name) + "= " + range_taken + ': ".*"', error)
                    self.assertIsNotNone(found, error)
                    ends.add(found.group(1))
                    self.assertEqual(page.evaluate(
                        "document.getElementById('error').innerText"), error)
            # One end for all, the show's: the frame there is drawn, and the
            # show can start there.
            self.assertEqual(len(ends), 1, ends)
            end = ends.pop()
            self.assertGreater(float(end), 60)
            self.assertEqual(self.settled_state(page, base + "?at=" + end), "still")
            self.assertEqual(self.settled_state(page, base + "?t=" + end), "ready")

    @staticmethod
    def settled_state(page, url):
        """The page's state once it has loaded and shown what it makes of its
        address: still, ready or error."""
        page.navigate(url, webshow.START_TIMEOUT)
        page.wait_for(lambda: webshow.check_alive(page) or webshow.state(page) in (
            "still", "ready", "error"), webshow.START_TIMEOUT, 0.1, f"{url} to settle")
        return webshow.state(page)


class ConsoleTest(unittest.TestCase):
    def test_ten_seconds_without_console_errors(self):
        with webshow.serve() as base, cdp.Browser() as browser:
            page = webshow.open_page(browser, base)
            webshow.start_show(page)
            webshow.wait_for_show_time(page, 10)
            self.assertEqual(webshow.console_errors(page), [])


class MeasureTest(unittest.TestCase):
    def test_figures(self):
        figures = measure.measure()
        print("\n" + measure.report(figures))
        self.assertEqual([name for name, *_ in figures["segments"]],
                         [name for name, *_ in measure.SEGMENTS],
                         "a part of the show had no frames")
        # Only what holds on a busy two-core machine with software rendering:
        # the show keeps drawing, the first frame comes within seconds, and the
        # page fetches its program and data compressed.
        self.assertGreater(figures["median_fps"], 5)
        self.assertLess(figures["click_to_first_frame_ms"], 30000)
        for name in ("index.html", "viriz.js", "viriz.wasm", "viriz.data"):
            raw, _, wire = figures["files"][name]
            self.assertIsNotNone(wire, f"the page did not fetch {name}")
            self.assertLess(wire, raw, f"{name} came uncompressed")


if __name__ == "__main__":
    unittest.main()
