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

The moments, in seconds of the show:
  logo            the logo appears (9.6) and goes (48.0)
  credits         the ends of the flashes of three credits periods (beats
                  162-164, 166-168 and 170-172: 48.675 to 51.6)
  after hold-up   0.2 s into the dark beats that follow (51.8), as the
                  screen shows them, the page's main thread (which runs the
                  frames and the audio callbacks) is held up for 300 ms, as a
                  busy machine would; then the flashes of the next three
                  periods (53.475 to 56.4)
A period's flashes are placed as sync.py places them (its first and last
flash must have shown, as far apart as they should be), with more room:
each flash end shows at the first frame after it, up to a frame interval
late, and at the page's 25 to 35 frames a second two of them can be a frame
apart. Half a quarter beat (37.5 ms) of room holds that and still tells the
first flash from the second while frames come at most that far apart; even
so a period can show too few of its flashes, hence three periods a moment. The logo's
start is the one moment where the frames' cost rises at once (the full-screen
overlay joins the mesh), and the page's estimate of how long its frames take
to the screen comes from the frames before: the logo is measured, but it is
the credits that tell whether the page keeps in step.

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

CREDITS_PERIODS = [49.2, 50.4, 51.6]  # the last flash end of each period
AFTER_HOLD_UP_PERIODS = [54.0, 55.2, 56.4]
GROUPS = {"logo": [sync.EARLY, sync.LOGO_END],
          "credits": [end for last in CREDITS_PERIODS for end in sync.flash_ends(last)],
          "after hold-up": [end for last in AFTER_HOLD_UP_PERIODS
                            for end in sync.flash_ends(last)]}
# The moments whose largest offset the summary gives.
STEADY = ("credits", "after hold-up")
TRACK_SECONDS = 60.0
SOUND_END = 57.6  # the period after the last one measured


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
    hold_up_at = CREDITS_PERIODS[-1] + 0.2

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
    return ClockCheck(errors(2.0, hold_up_at), errors(hold_up_at, hold_up_at + 3.0))


def since_logo_end(second, held_up=False):
    """Seconds of wall time from the logo's end to the show's `second`; the
    music stood still while the page was held up."""
    return second - sync.LOGO_END + (sync.FREEZE_SECONDS if held_up else 0.0)


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


def picture_times(changes, watched_until, heard):
    """When the frame of each moment showed, from a sync.PixelWatch's
    changes: {show second: (monotonic time, spread)}; sync.picture_times for
    the page's periods."""
    stretches = list(zip(changes, [at for at, _, _ in changes[1:]] + [watched_until]))
    logo = next((n for n, ((at, bright, _), until) in enumerate(stretches[:-1])
                 if bright and until - at > 30), None)
    if logo is None:
        raise AssertionError("the logo never showed for its 38.4 s, then went")
    times = {sync.EARLY: sync.stamp(changes[logo]), sync.LOGO_END: sync.stamp(changes[logo + 1])}
    ends = [n for n in range(logo + 1, len(changes)) if not changes[n][1]]
    long_darks = [n for n in ends if stretches[n][1] - changes[n][0] > sync.LONG_DARK]
    span, room = sync.QUARTER_BEAT * 7, sync.QUARTER_BEAT / 2
    for first, last in zip(long_darks, long_darks[1:]):
        seen = [changes[n] for n in ends if first < n <= last]
        second = heard(seen[-1][0])
        period = next((end for end in CREDITS_PERIODS + AFTER_HOLD_UP_PERIODS
                       if second is not None and abs(second - end) < 0.6), None)
        if period is None or abs(seen[-1][0] - seen[0][0] - span) > room:
            continue
        for end in sync.flash_ends(period):
            expected = seen[-1][0] - (period - end)
            match = [c for c in seen if abs(c[0] - expected) < room]
            if match:
                times[end] = sync.stamp(match[0])
    return times


def figure(group, shown, reference, *recorders):
    """A group's sync.Figure from the times its moments were shown."""
    seconds = [second for second in GROUPS[group]
               if second in shown and shown[second][1] <= sync.MAX_SPREAD]
    offsets = []
    for recorder in recorders:
        recording = sync.frames_of(bytes(recorder.data))
        each = []
        for second in seconds:
            heard = recorder.heard_at(recording, reference, second, shown[second][0])
            if heard is None:
                raise AssertionError(f"{group}: the sound of {second} s is not in the recording")
            each.append(1000 * (heard - shown[second][0]))
        offsets.append(round(statistics.median(each), 1) if each else None)
    return sync.Figure(*offsets, len(seconds), len(GROUPS[group]))


def describe(result):
    """One line of a run's figures."""
    return ", ".join(f"{group} {value}" for group, value in result.figures.items()) + \
        f" ms; frames {result.frame_ms:.1f} ms apart" + \
        "".join(f"; {extra}" for extra in (result.pipeline, result.clock) if extra)


def summary(results):
    """The medians over runs of each moment (each run's figure: the mean of
    its two recorders), and the largest offset of the steady moments."""
    parts = []
    for group in GROUPS:
        values = [(r.figures[group].fast + r.figures[group].slow) / 2 for r in results
                  if r.figures[group].seen]
        runs = "" if len(values) == len(results) else f" ({len(values)} of {len(results)} runs)"
        parts.append(f"{group} {statistics.median(values):+.1f}{runs}" if values
                     else f"{group} none")
    worst = max((abs(x) for r in results for group in STEADY if r.figures[group].seen
                 for x in (r.figures[group].fast, r.figures[group].slow)), default=0.0)
    frames = statistics.median(r.frame_ms for r in results)
    return (f"median of {len(results)} runs: {', '.join(parts)} ms; largest |offset| of "
            f"{' and '.join(STEADY)} {worst:.1f} ms; frames {frames:.1f} ms apart")


def measure(workdir, light=False, trace=False, clock=False):
    """One run of the page on the measurement data set made in workdir,
    until the last event has shown and been heard; with trace, the
    browser's trace of the frames on their way to the screen is recorded
    meanwhile; with clock, the page's music clock is checked against the
    sound. Returns a Result."""
    reference = sync.make_data_set(workdir, TRACK_SECONDS)
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
            # Waiting by the screen alone: matching the sound meanwhile
            # would take the processor from the pixel reader.
            headless.wait_for(lambda: watch.dark_for(0.2, logo_end + since_logo_end(51.3)), 60,
                              0.005, "the dark beats after the third period's flashes")
            hold_up(page)
            headless.wait_for(lambda: watch.dark_for(0.2, logo_end + since_logo_end(56.1, True)),
                              60, 0.005, "the dark beats after the sixth period's flashes")
        headless.wait_for(lambda: fast.heard_lately(reference) >= SOUND_END, 120, 0.25,
                          f"the sound of {SOUND_END} s")
        frames = page.evaluate("vizProbe.frames")
        traced = None
        if trace:
            mark_ms = page.evaluate("performance.mark('align').startTime")
            traced = pipeline(page.stop_tracing(), frames, mark_ms)
        offset = page_offset(page) if clock else None
    recording = sync.frames_of(bytes(fast.data))
    shown = picture_times(watch.changes, watch.last_read, lambda at: fast.second_heard(
        recording, reference, at, sync.LOGO_END))
    figures = {group: figure(group, shown, reference, fast, slow) for group in GROUPS}
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
