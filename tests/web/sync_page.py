"""Measures, from outside, how far the page's picture is ahead of its sound,
the way tests/e2e/sync.py measures the desktop builds (its docstring tells
how), with its pixel reader and recorders, on its data set.

The page runs as a viewer's: Chromium, not headless, its window filling a
private X server (Xvfb) and drawing with SwiftShader, its sound on a private
PulseAudio's null sink, the show started by a click. The measurement data
set is written into the page's file system through the DevTools protocol
before the click: the white logo and credits, the black environment texture
and the noise track; the mesh stays the show's own, so that the frames cost
what they cost in the show and come at its frame rate (`light` takes the
data set's small mesh as well, for fast frames).

The show starts at 38.4 s (?t=38.4), with reduced flashing, as the desktop
builds' measurement runs it, and the events are the same: the credits'
changes early (48.0 to 50.4 s), late (87.0 to 88.8 s) and three seconds
after the page's main thread (which runs the frames and the audio
callbacks) was held up for 300 ms at 89.0 s, as a busy machine would hold
it up (91.8 to 93.6 s). Each change stays 0.6 s, so the page's 25 to 35
frames a second show every one. A change is stamped halfway between the
last frame before it and the first one after, as on the desktop; only the
frames come further apart here, so a change is timed unless the frames
either side came more than MAX_SPREAD_MS * 2 apart.

    python3 tests/web/sync_page.py [--runs N] [--light] [--pipeline] [--clock]

prints each run's figures as scripts/measure-sync.sh does, with the page's
median frame interval; --pipeline adds what the browser's own trace says of
the frames' way to the screen, --clock how the page's music clock kept to the
sound (each frame's clock reading found in the recording)."""

import argparse
import base64
import collections
import json
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import sync  # noqa: E402 (also puts tests/support on the path)
from demo import headless  # noqa: E402

import cdp  # noqa: E402
import webshow  # noqa: E402

# The measurement data set's files that replace the show's in the page.
LIGHT_FILES = ["data.dat", "data/logo.png", "data/creds.png", "data/tex.png"]

QUERY = f"?t={sync.START_AT}&reduced-flashing"
# A change between frames up to 80 ms apart (12.5 frames a second) is timed,
# to half that.
MAX_SPREAD_MS = 40.0


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
    sync.FREEZE_SECONDS; the loop is the hold-up itself, not a wait."""
    page.evaluate(f"(() => {{ const end = performance.now() + {sync.FREEZE_SECONDS * 1000};"
                  " while (performance.now() < end); })()")


# What the browser's trace tells of each frame's way to the screen: Chromium
# follows every frame from the start of its animation frame (the time the
# page's callbacks are given) to its presentation, which on this X server is
# when the screen changes, to a millisecond.
PIPELINE_CATEGORIES = ("cc", "benchmark", "disabled-by-default-devtools.timeline.frame",
                       "blink.user_timing")
# The page's estimate: a frame shows three frame intervals after its drawing
# began, the interval the mean of the last fifteen without the three longest
# and the three shortest (src/platform/web/compositor_pipeline.*).
FRAMES_IN_FLIGHT = 3
INTERVALS = 15
TRIMMED = 3


class Result(collections.namedtuple("Result", "figures frame_ms pipeline clock")):
    """One run: {group: sync.Figure}, the median interval between the page's
    animation frames in ms, with --pipeline a Pipeline and with --clock a
    ClockCheck."""


class ClockCheck(collections.namedtuple("ClockCheck", "before after")):
    """The page's music clock against the sound, from outside: for the
    clock read at the start of each frame, how much later (ms) that second
    of the track was heard, as (median, 5th percentile, 95th percentile)
    over the frames from 2 s to the hold-up, and over the 3 s after it.
    Positive: the clock (and so the picture) ahead of the sound."""

    def __str__(self):
        def spread(figures):
            return f"{figures[0]:+.1f} ({figures[1]:+.0f} to {figures[2]:+.0f})"
        return (f"clock ahead of the sound {spread(self.before)} ms before the hold-up, "
                f"{spread(self.after)} ms in the 3 s after it")


class Pipeline(collections.namedtuple("Pipeline",
                                      "frames to_screen ratio from_start from_callback")):
    """Of the frames that the page drew and the browser presented: how many,
    the median time from the start of a frame's animation frame to the
    screen (ms), the median of that in frame intervals (the page's
    typical_interval up to it), and the median of what FRAMES_IN_FLIGHT
    intervals leave out counted from the animation frame's start and from
    the moment its callbacks began to run (ms; positive: the frame showed
    later)."""

    def __str__(self):
        return (f"{self.frames} frames: animation frame to screen {self.to_screen:.1f} ms, "
                f"{self.ratio:.2f} frame intervals; {FRAMES_IN_FLIGHT} intervals off by "
                f"{self.from_start:+.1f} ms from its start, {self.from_callback:+.1f} ms from "
                "its callbacks")


def page_offset(page):
    """Monotonic seconds less the page's performance.now() in seconds (both
    count the same clock), from the quickest of twenty round trips."""
    trips = []
    for _ in range(20):
        sent = time.monotonic()
        now = page.evaluate("performance.now()")
        back = time.monotonic()
        trips.append((back - sent, (sent + back) / 2 - now / 1000))
    return min(trips)[1]


def clock_check(frames, offset, recorder, reference):
    """A ClockCheck from the probe's frames ([time, clock, began]) and the
    page's clock offset; every fifth frame counts."""
    recording = sync.frames_of(bytes(recorder.data))
    hold_up_at = sync.FREEZE_AT

    def errors(low, high):
        found = []
        for _, clock, began in frames[::5]:
            if low <= clock < high:
                read_at = began / 1000 + offset
                heard = recorder.heard_at(recording, reference, clock, read_at)
                if heard is not None:
                    found.append(1000 * (heard - read_at))
        found.sort()
        return (statistics.median(found), found[len(found) // 20], found[-1 - len(found) // 20])
    return ClockCheck(errors(sync.START_AT + 2.0, hold_up_at),
                      errors(hold_up_at, hold_up_at + 3.0))


def typical_interval(times):
    """The page's interval: the mean of the INTERVALS before the last of
    `times` without the TRIMMED longest and shortest."""
    intervals = sorted(b - a for a, b in zip(times[-INTERVALS - 1:], times[-INTERVALS:]))
    return statistics.mean(intervals[TRIMMED:len(intervals) - TRIMMED])


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
    """A Pipeline from a trace's events and the probe's frames ([time,
    clock, began]); the trace's mark named "align" was made at page time
    mark_ms."""
    mark = next(e for e in events if e["name"] == "align")
    offset = mark["ts"] / 1000 - mark_ms
    shown = presentations(events)
    times = [time for time, _, _ in frames]
    figures = []
    for n in range(INTERVALS, len(frames)):
        at = shown.get(round(times[n] + offset, 1))
        if at is None:
            continue
        interval = typical_interval(times[n - INTERVALS:n + 1])
        latency = at - (times[n] + offset)
        figures.append((latency, latency / interval, latency - FRAMES_IN_FLIGHT * interval,
                        at - (frames[n][2] + offset) - FRAMES_IN_FLIGHT * interval))
    if not figures:
        raise AssertionError("the trace holds no presented frame of the page")
    return Pipeline(len(figures), *(statistics.median(column) for column in zip(*figures)))


def describe(result):
    """One line of a run's figures."""
    return sync.describe(result.figures) + f"; frames {result.frame_ms:.1f} ms apart" + \
        "".join(f"; {extra}" for extra in (result.pipeline, result.clock) if extra)


def summary(results):
    """The medians over runs of each moment (each run's figure: the mean of
    its two recorders), and the largest offset of any."""
    parts = []
    for group in sync.GROUPS:
        values = [(r.figures[group].fast + r.figures[group].slow) / 2 for r in results
                  if r.figures[group].seen]
        runs = "" if len(values) == len(results) else f" ({len(values)} of {len(results)} runs)"
        parts.append(f"{group} {statistics.median(values):+.1f}{runs}" if values
                     else f"{group} none")
    worst = max((abs(x) for r in results for figure in r.figures.values() if figure.seen
                 for x in (figure.fast, figure.slow)), default=0.0)
    frames = statistics.median(r.frame_ms for r in results)
    return (f"median of {len(results)} runs: {', '.join(parts)} ms; largest |offset| "
            f"{worst:.1f} ms; frames {frames:.1f} ms apart")


def measure(workdir, light=False, trace=False, clock=False):
    """One run of the page on the measurement data set made in workdir,
    until the last event has shown and been heard; with trace, the
    browser's trace of the frames on their way to the screen is recorded
    meanwhile; with clock, the page's music clock is checked against the
    sound. Returns a Result."""
    reference = sync.make_data_set(workdir)
    with headless.Xvfb("640x480x24") as xvfb, \
            headless.PulseAudio(os.path.join(workdir, "pulse")) as sound, \
            webshow.serve() as base, \
            cdp.Browser(env=dict(xvfb.env, **sound.env)) as browser, \
            sync.TimedRecorder(sound.heard_env, 5) as fast, \
            sync.TimedRecorder(sound.heard_env, 40) as slow:
        page = webshow.open_page(browser, base + QUERY)
        webshow.wait_for_state(page, "ready")
        write_data_set(page, workdir, light)
        headless.wait_for(lambda: fast.streaming() and slow.streaming(), 60, 0.02,
                          "the recorders to deliver sound")
        if trace:
            page.start_tracing(PIPELINE_CATEGORIES)
        heard = sync.SoundPosition(fast, reference)

        def reached(second):
            webshow.check_alive(page)
            return webshow.state(page) != "running" or heard.now() >= second
        with sync.PixelWatch(xvfb.display) as watch:
            webshow.click_start(page)
            # The sound, which the picture follows, tells where the show is:
            # looked at twice a second, and more often near the hold-up.
            for second, period in ((sync.FREEZE_AT - 2, 0.5), (sync.FREEZE_AT, 0.05)):
                headless.wait_for(lambda: reached(second), 240, period,
                                  f"the sound of {second} s")
            if webshow.state(page) != "running":
                raise AssertionError("the show ended before the late events")
            hold_up(page)
            headless.wait_for(lambda: reached(sync.SOUND_END), 120, 0.25,
                              f"the sound of {sync.SOUND_END} s")
            changes = watch.changes
        frames = page.evaluate("vizProbe.frames")
        traced = None
        if trace:
            mark_ms = page.evaluate("performance.mark('align').startTime")
            traced = pipeline(page.stop_tracing(), frames, mark_ms)
        offset = page_offset(page) if clock else None
    shown = sync.picture_times(changes, sync.SoundPosition(fast, reference).at)
    figures = {group: sync.figure(group, shown, reference, fast, slow,
                                  max_spread=MAX_SPREAD_MS / 1000)
               for group in sync.GROUPS}
    checked = clock_check(frames, offset, fast, reference) if clock else None
    return Result(figures, median_interval([time for time, _, _ in frames]), traced, checked)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--light", action="store_true",
                        help="the data set's small mesh too: fast frames")
    parser.add_argument("--pipeline", action="store_true",
                        help="also trace the frames' way to the screen and print how long it "
                        "took against the page's estimate (the trace costs time itself)")
    parser.add_argument("--clock", action="store_true",
                        help="also check the page's music clock against the sound")
    args = parser.parse_args()
    results = []
    for run in range(args.runs):
        try:
            with headless.temp_dir("viriz-sync-page-") as workdir:
                result = measure(workdir, args.light, args.pipeline, args.clock)
            results.append(result)
            print(f"web run {run + 1}: {describe(result)}", flush=True)
        except Exception as error:  # the other runs still tell something
            print(f"web run {run + 1}: failed: {type(error).__name__}: {error}", flush=True)
    if results:
        print(f"web: {summary(results)}", flush=True)


if __name__ == "__main__":
    main()
