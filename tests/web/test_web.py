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

import numpy

import cdp
import measure
import png
import sync_page
import webshow
from sync_page import headless, sync

# As the golden frames: a pixel differs beyond 24 levels in a channel, and
# 0.5% of the pixels may differ.
PIXEL_LEVELS = 24
DIFFERING_SHARE = 0.005


class ShowTest(unittest.TestCase):
    def test_click_starts_the_show_and_the_mesh_appears(self):
        with webshow.serve() as base, cdp.Browser() as browser:
            page = webshow.open_page(browser, base)
            webshow.wait_for_state(page, "ready")
            self.assertEqual(page.evaluate("vizProbe.frames.length"), 0, "drew before the click")
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
    """The clock against the music heard, on the measurement data set's
    noise track (tests/e2e/sync.py), whose every chunk of sound tells where
    in the music it lies. The page's probe keeps each chunk handed over with
    the context time it was scheduled for, and the audio context's output
    timestamp says which context time the output plays now: between them,
    how far into the music the listener is."""

    # The clock, the page's time, the context's output timestamp and its
    # time, and how many chunks had been handed over; read at the same
    # moment in the page.
    SAMPLE = f"""(() => {{
        const context = vizProbe.contexts[vizProbe.contexts.length - 1];
        const stamp = context.getOutputTimestamp();
        return [{webshow.MUSIC_TIME}, performance.now(), stamp.contextTime,
                stamp.performanceTime, context.currentTime, vizProbe.chunks.length];
    }})()"""
    # Headless Chromium reports 42 ms of output latency: a clock that leaves it
    # out, or takes it twice, is centred that far from the music heard.
    CENTRE_SECONDS = 0.02
    # Readings with the music heard known that the centring is taken from.
    READINGS = 10

    def test_clock_follows_the_music_heard_and_stands_still_while_the_output_does(self):
        with headless.temp_dir("viriz-web-clock-") as workdir, webshow.serve() as base, \
                cdp.Browser() as browser:
            reference = sync.make_data_set(workdir)
            page = webshow.open_page(browser, base)
            webshow.wait_for_state(page, "ready")
            sync_page.write_data_set(page, workdir, light=True)
            webshow.start_show(page)
            page.wait_for(lambda: page.evaluate("vizProbe.chunkSeconds"), webshow.START_TIMEOUT,
                          0.1, "the music to play")
            chunk = page.evaluate("vizProbe.chunkSeconds")
            music = HeardMusic(page, reference, chunk)
            samples = []

            def sample():
                samples.append(page.evaluate(self.SAMPLE))
                return samples[-1][0]

            # Playing: readings over six seconds, each within a chunk of the
            # music heard, and centred on it.
            page.wait_for(lambda: sample() >= 6, webshow.START_TIMEOUT, 0.1,
                          "six seconds of the show")
            self.assert_centred(self.assert_follows(music.heard(samples), chunk))

            # Suspended: the clock comes to a stop, not beyond the music
            # handed over.
            context = "vizProbe.contexts[vizProbe.contexts.length - 1]"
            page.evaluate(f"{context}.suspend()", await_promise=True)
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
            handed_over = music.chunks(samples[-1][5])[-1][1] + chunk
            self.assertLessEqual(stood, handed_over + 0.001, "the clock ran past the music")

            # Resumed: the clock goes on from where it stood once the music
            # heard has caught up with it, centred on it again (the latency
            # that the context reports once it runs again is the one taken).
            resumed_at = page.evaluate(
                f"{context}.resume().then(() => {context}.currentTime)", await_promise=True)
            page.wait_for(lambda: page.evaluate(
                "vizProbe.chunks[vizProbe.chunks.length - 1][0]") > resumed_at,
                webshow.START_TIMEOUT, 0.05, "an audio callback after the resume")
            page.wait_for(lambda: sample() > stood, webshow.START_TIMEOUT, 0.05,
                          "the clock to go on after the resume")
            going_on = len(samples) - 1
            page.wait_for(lambda: sample() >= stood + 2, webshow.START_TIMEOUT, 0.1,
                          "two seconds after the resume")
            self.assert_centred(self.assert_follows(music.heard(samples[going_on:]), chunk))

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
            scheduled = [playback_time for playback_time, _ in music.chunks(samples[-1][5])]
            self.assertEqual(scheduled, sorted(set(scheduled)),
                             "chunks of music were scheduled for the same time")
            page.wait_for(lambda: sample() >= stood + 3, webshow.START_TIMEOUT, 0.1,
                          "three seconds after the page's thread was held up")
            self.assert_follows(music.heard(samples[held_up:]), chunk)
            clocks = [reading[0] for reading in samples]
            self.assertEqual(clocks, sorted(clocks), "the clock went back")

    def assert_follows(self, readings, chunk):
        """Each (clock, heard, known) reading where the music heard is known
        is within a chunk of it; returns those readings."""
        known = [reading for reading in readings if reading[2]]
        for clock, heard, _ in known:
            self.assertLessEqual(abs(clock - heard), chunk + 0.001,
                                 f"clock {clock:.3f} s, music heard {heard:.3f} s")
        return known

    def assert_centred(self, known):
        offsets = [clock - heard for clock, heard, _ in known if heard > 0]
        self.assertGreaterEqual(len(offsets), self.READINGS)
        self.assertLess(abs(statistics.median(offsets)), self.CENTRE_SECONDS,
                        "the clock is not centred on the music heard")


class HeardMusic:
    """What the page's output played when, from the probe's chunks of sound:
    each is found in the track by its first samples (the page plays the
    decoded track's samples as they are, give or take a level)."""

    def __init__(self, page, reference, chunk):
        self.page = page
        self.left = reference[:, 0].astype(int)
        self.chunk = chunk
        self.found = []  # (context time, music seconds or None) of each chunk

    def chunks(self, count):
        """[(context time, music seconds)] of the first `count` chunks that
        the probe recorded, oldest first, without the silent ones (nothing
        playing) and without the same music handed over again (callbacks
        that piled up after the page's thread was held up get it again)."""
        if count > len(self.found):
            fresh = self.page.evaluate(f"vizProbe.chunks.slice({len(self.found)}, {count})")
            self.found += [(time_, self.where(samples)) for time_, samples in fresh]
        chunks = []
        for playback_time, start in self.found[:count]:
            if start is not None and (not chunks or chunks[-1][1] != start):
                chunks.append((playback_time, start))
        return chunks

    def where(self, samples):
        levels = numpy.round(numpy.array(samples) * 32768).astype(int)
        if not levels.any():
            return None
        last = len(self.left) - len(levels)
        for first in numpy.flatnonzero(abs(self.left[:last + 1] - levels[0]) <= 1):
            if abs(self.left[first:first + len(levels)] - levels).max() <= 1:
                return first / sync.RATE
        raise AssertionError("the page played sound that is not in the track")

    def heard(self, samples):
        """(clock, music heard, whether that is known) of each SAMPLE
        reading. While the context is suspended its timestamp stands, so the
        time heard is held to the context's own. A callback that runs late
        gets a playback time as late as it ran, though its chunk may still
        play right after the one before: each chunk starts a chunk's length
        before the next at the latest. Callbacks that ran a chunk or more
        late pile up, less than half a chunk apart, and overwrite each
        other's output: what is heard then is known to neither side, until
        such chunks are no longer among the eight newest (0.74 s; the clock
        catches up on the chunks dropped meanwhile)."""
        readings = []
        for clock, now_ms, stamp_context, stamp_ms, context_time, count in samples:
            chunks = self.chunks(count)
            now = min(context_time, stamp_context + (now_ms - stamp_ms) / 1000)
            heard, known, following = 0.0, True, float("inf")
            for k in range(len(chunks) - 1, -1, -1):
                playback_time, start = chunks[k]
                starts = min(playback_time, following - self.chunk)
                if starts <= now and heard == 0:
                    heard = start + min(now - starts, self.chunk)
                piled_up = k > 0 and playback_time - chunks[k - 1][0] < self.chunk / 2
                if piled_up and k >= len(chunks) - 8:
                    known = False
                following = starts
            readings.append((clock, heard, known))
        return readings


class ErrorTest(unittest.TestCase):
    def test_missing_track_says_jalla(self):
        # The data set without its archive: the track is nowhere.
        with webshow.serve() as base, cdp.Browser() as browser:
            page = webshow.open_page(browser, base + "?remove=data.dat")
            webshow.wait_for_state(page, "ready")
            webshow.click_start(page)
            webshow.wait_for_state(page, "error")
            self.assertEqual(webshow.error_text(page), "jalla")
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
                    error = webshow.error_text(page)
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
