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
import collections
import json
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


# What the browser's trace tells of each frame's way to the screen: Chromium
# follows every frame from the start of its animation frame (the time the
# page's callbacks are given) to its presentation, which on this X server is
# when the screen changes, to a millisecond.
PIPELINE_CATEGORIES = ("cc", "benchmark", "disabled-by-default-devtools.timeline.frame",
                       "blink.user_timing")
# The page's estimate: a frame shows three frame intervals (the median of the
# last fifteen) after its drawing began (src/platform/web/compositor_pipeline.*).
FRAMES_IN_FLIGHT = 3
INTERVALS = 15


class Result(collections.namedtuple("Result", "figures frame_ms pipeline")):
    """One run: {group: sync.Figure}, the median interval between the page's
    animation frames in ms, and with --pipeline a Pipeline."""


class Pipeline(collections.namedtuple("Pipeline",
                                      "frames to_screen ratio from_start from_callback")):
    """Of the frames that the page drew and the browser presented: how many,
    the median time from the start of a frame's animation frame to the
    screen (ms), the median of that in frame intervals (the median of the
    INTERVALS up to it), and the median of what FRAMES_IN_FLIGHT intervals
    leave out counted from the animation frame's start and from the moment
    its callbacks began to run (ms; positive: the frame showed later)."""

    def __str__(self):
        return (f"{self.frames} frames: animation frame to screen {self.to_screen:.1f} ms, "
                f"{self.ratio:.2f} frame intervals; {FRAMES_IN_FLIGHT} intervals off by "
                f"{self.from_start:+.1f} ms from its start, {self.from_callback:+.1f} ms from "
                "its callbacks")


def frame_times(page):
    """[(animation-frame time, when its callbacks began)] (ms) of each frame
    the page drew."""
    return [(time, began) for time, _, began in page.evaluate("vizProbe.frames")]


def median_interval(times):
    intervals = [b - a for a, b in zip(times, times[1:]) if b > a]
    return statistics.median(intervals) if intervals else None


def presentations(events):
    """{start of the animation frame (ms of the trace clock): presentation
    (ms)} of every frame of the page that the browser presented whole."""
    begun, shown = {}, {}
    for event in sorted((e for e in events if e["name"] == "PipelineReporter"),
                        key=lambda e: e["ts"]):
        key = (event["pid"], json.dumps(event.get("id2")))
        if event["ph"] == "b":
            begun[key] = event
        elif event["ph"] == "e" and key in begun:
            start = begun.pop(key)
            report = start["args"]["frame_reporter"]
            if report["state"] == "STATE_PRESENTED_ALL" and "frame_type" not in report:
                shown[round(start["ts"] / 1000, 1)] = event["ts"] / 1000
    return shown


def pipeline(events, frames, mark_ms):
    """A Pipeline from a trace's events and the page's frames (frame_times);
    the trace's mark named "align" was made at page time mark_ms."""
    mark = next(e for e in events if e["name"] == "align")
    offset = mark["ts"] / 1000 - mark_ms
    shown = presentations(events)
    times = [time for time, _ in frames]
    figures = []
    for n in range(INTERVALS, len(frames)):
        at = shown.get(round(times[n] + offset, 1))
        if at is None:
            continue
        interval = median_interval(times[n - INTERVALS:n + 1])
        latency = at - (times[n] + offset)
        figures.append((latency, latency / interval, latency - FRAMES_IN_FLIGHT * interval,
                        at - (frames[n][1] + offset) - FRAMES_IN_FLIGHT * interval))
    if not figures:
        raise AssertionError("the trace holds no presented frame of the page")
    return Pipeline(len(figures), *(statistics.median(column) for column in zip(*figures)))


def measure(workdir, light=False, trace=False):
    """One run of the page on the measurement data set made in workdir,
    until the last event has shown and been heard; with trace, the
    browser's trace of the frames on their way to the screen is recorded
    meanwhile. Returns a Result."""
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
        if trace:
            page.start_tracing(PIPELINE_CATEGORIES)
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
        times = frame_times(page)
        frames = None
        if trace:
            mark_ms = page.evaluate("performance.mark('align').startTime")
            frames = pipeline(page.stop_tracing(), times, mark_ms)
    recording = sync.frames_of(bytes(fast.data))
    shown = sync.picture_times(watch.changes, watch.last_read, lambda at: fast.second_heard(
        recording, reference, at, sync.LOGO_END))
    figures = {group: sync.figure(group, shown, reference, fast, slow) for group in sync.GROUPS}
    return Result(figures, median_interval([time for time, _ in times]), frames)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--light", action="store_true",
                        help="the data set's small mesh too: fast frames")
    parser.add_argument("--pipeline", action="store_true",
                        help="also trace the frames' way to the screen and print how long it "
                        "took against the page's estimate (the trace costs time itself)")
    args = parser.parse_args()
    results = []
    for run in range(args.runs):
        try:
            with headless.temp_dir("viriz-sync-page-") as workdir:
                result = measure(workdir, args.light, args.pipeline)
            results.append(result.figures)
            traced = f"; {result.pipeline}" if result.pipeline else ""
            print(f"web run {run + 1}: {sync.describe(result.figures)}; frames "
                  f"{result.frame_ms:.1f} ms apart{traced}", flush=True)
        except Exception as error:  # the other runs still tell something
            print(f"web run {run + 1}: failed: {type(error).__name__}: {error}", flush=True)
    if results:
        print(f"web: {sync.summary(results)}", flush=True)


if __name__ == "__main__":
    main()
