"""Measures, from outside, how far the page's picture is ahead of its sound,
the way tests/e2e/sync.py measures the desktop builds (its docstring tells
how), and with its pixel reader, recorders and events: the logo's start
(early), the logo's end and the credits' first flashes (late), and the
flashes three seconds after the page was held up for 300 ms (after freeze).

The page runs as a viewer's: Chromium, not headless, its window filling a
private X server (Xvfb) and drawing with SwiftShader, its sound on a private
PulseAudio's null sink, the show started by a click. The measurement data
set is written into the page's file system through the DevTools protocol
before the click: the white logo and credits, the black environment texture
and the noise track; the mesh stays the show's own, so that the frames cost
what they cost in the show and come at its frame rate (`light` takes the
data set's small mesh as well, for fast frames). The freeze holds up the
page's main thread, which runs the frames and the audio callbacks, as a busy
machine would.

    python3 tests/web/sync_page.py [--runs N] [--light]

prints each run's figures as scripts/measure-sync.sh does, with the page's
median frame interval."""

import argparse
import base64
import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import sync  # noqa: E402 (also puts tests/support on the path)
from demo import headless  # noqa: E402

import cdp  # noqa: E402
import webshow  # noqa: E402

# The measurement data set's files that replace the show's in the page.
LIGHT_FILES = ["data.dat", "data/logo.png", "data/creds.png", "data/tex.png"]


def write_data_set(page, workdir, light):
    """Writes the measurement data set made in workdir over the page's own
    files (the mesh only when light)."""
    for name in LIGHT_FILES + (["data/viriz.mesh"] if light else []):
        with open(os.path.join(workdir, name), "rb") as f:
            data = base64.b64encode(f.read()).decode()
        page.evaluate(f"Module.FS.writeFile('/{name}', "
                      f"Uint8Array.from(atob('{data}'), c => c.charCodeAt(0))) || true")


def hold_up(page):
    """Holds up the page's main thread (frames and audio callbacks) for
    sync.FREEZE_SECONDS; the loop is the freeze itself, not a wait."""
    page.evaluate(f"(() => {{ const end = performance.now() + {sync.FREEZE_SECONDS * 1000};"
                  " while (performance.now() < end); })()")


def median_frame_ms(page):
    times = [time for time, _ in page.evaluate("vizProbe.frames")]
    intervals = [b - a for a, b in zip(times, times[1:]) if b > a]
    return statistics.median(intervals) if intervals else None


def measure(workdir, light=False):
    """One run of the page on the measurement data set made in workdir,
    until the last event has shown and been heard. Returns ({group:
    sync.Figure}, median frame interval in ms)."""
    reference = sync.make_data_set(workdir)
    with headless.Xvfb("640x480x24") as xvfb, \
            headless.PulseAudio(os.path.join(workdir, "pulse")) as sound, \
            webshow.serve() as base, \
            cdp.Browser(env=dict(xvfb.env, **sound.env)) as browser, \
            sync.TimedRecorder(sound, 5) as fast, sync.TimedRecorder(sound, 40) as slow:
        page = webshow.open_page(browser, base)
        webshow.wait_for_state(page, "ready")
        write_data_set(page, workdir, light)
        headless.wait_for(lambda: fast.streaming() and slow.streaming(), 60, 0.02,
                          "the recorders to deliver sound")
        with sync.PixelWatch(xvfb.display) as watch:
            webshow.click_start(page)

            def ended():
                webshow.check_alive(page)
                return webshow.state(page) != "running"
            logo_end = headless.wait_for(lambda: watch.logo_ended() or ended(), 240, 0.05,
                                         "the logo to show and go")
            if ended():
                raise AssertionError("the show ended before the logo went")
            headless.wait_for(lambda: watch.dark_for(0.2, logo_end + 1.0), 60, 0.005,
                              "the dark beats after the first flashes")
            hold_up(page)
            headless.wait_for(lambda: fast.heard_lately(reference) >= sync.SOUND_END, 120, 0.25,
                              f"the sound of {sync.SOUND_END} s")
        frame_ms = median_frame_ms(page)
    recording = sync.frames_of(bytes(fast.data))
    shown = sync.picture_times(watch.changes, watch.last_read, lambda at: fast.second_heard(
        recording, reference, at, sync.LOGO_END))
    return {group: sync.figure(group, shown, reference, fast, slow)
            for group in sync.GROUPS}, frame_ms


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--light", action="store_true",
                        help="the data set's small mesh too: fast frames")
    args = parser.parse_args()
    results = []
    for run in range(args.runs):
        try:
            with headless.temp_dir("viriz-sync-page-") as workdir:
                result, frame_ms = measure(workdir, args.light)
            results.append(result)
            print(f"web run {run + 1}: {sync.describe(result)}; frames {frame_ms:.1f} ms apart",
                  flush=True)
        except Exception as error:  # the other runs still tell something
            print(f"web run {run + 1}: failed: {type(error).__name__}: {error}", flush=True)
    if results:
        print(f"web: {sync.summary(results)}", flush=True)


if __name__ == "__main__":
    main()
