"""The sync measurement's readings, on made-up input: where a moment of the
track lies in a recording (also one resampled as PipeWire does it, or with a
gap in it), when the screen changed (from the frames the X server received,
also on a real one), which screen changes are the events, and how many of
Wine's underflow warnings came before each moment."""

import ctypes
import subprocess
import time
import unittest

import numpy

import sync
from demo import headless

RATE = sync.RATE


def noise(seconds, seed):
    return numpy.random.default_rng(seed).integers(-9000, 9001, (int(seconds * RATE), 2),
                                                   dtype="<i2")


def resampled(frames, *rates):
    """frames played through sox's resampler from 44.1 kHz to each of rates."""
    raw, rate = frames.tobytes(), RATE
    for to in rates:
        raw = subprocess.run(["sox", "-t", "raw", "-r", str(rate), "-e", "signed", "-b", "16",
                              "-c", "2", "-", "-t", "raw", "-r", str(to), "-e", "signed", "-b",
                              "16", "-c", "2", "-"], input=raw, capture_output=True, check=True,
                             timeout=60).stdout
        rate = to
    return sync.frames_of(raw)


class FindInRecordingTest(unittest.TestCase):
    def setUp(self):
        self.track = noise(4, 1)
        # The recording begins with 0.5 s of silence and some other sound.
        self.lead_in = int(0.5 * RATE) + 123
        self.before = numpy.concatenate((numpy.zeros((self.lead_in - 2000, 2), "<i2"),
                                         noise(2000 / RATE, 2)))

    def where(self, recording, second, guess=None):
        frame = second * RATE
        return sync.find_in_recording(recording, self.track, frame,
                                      frame + self.lead_in if guess is None else guess)

    def test_an_exact_copy_gives_the_position_exactly(self):
        recording = numpy.concatenate((self.before, self.track))
        for second in (0.5, 1.2345, 3.0):
            self.assertAlmostEqual(self.where(recording, second), second * RATE + self.lead_in,
                                   delta=0.01)

    def test_a_resampled_copy_gives_it_within_a_tenth_of_a_millisecond(self):
        # 44.1 kHz to the graph's 48 kHz and back, as the sound goes from the
        # program through PipeWire to a recorder.
        recording = resampled(numpy.concatenate((self.before, self.track)), 48000, RATE)
        for second in (0.5, 1.2345, 3.0):
            self.assertAlmostEqual(self.where(recording, second), second * RATE + self.lead_in,
                                   delta=RATE / 10000)

    def test_a_far_guess_still_finds_it_and_other_sound_is_not_taken_for_it(self):
        recording = numpy.concatenate((self.before, self.track))
        self.assertAlmostEqual(self.where(recording, 3.0, guess=0), 3.0 * RATE + self.lead_in,
                               delta=0.01)
        self.assertIsNone(self.where(numpy.concatenate((self.before, noise(4, 3))), 2.0))

    def test_a_gap_of_one_period_moves_what_comes_after_it(self):
        # A sound server that runs dry plays 256 frames of silence and goes
        # on where it was: what follows is heard that much later.
        gap = 256
        cut = self.lead_in + RATE
        recording = numpy.concatenate((self.before, self.track))
        recording = numpy.concatenate((recording[:cut], numpy.zeros((gap, 2), "<i2"),
                                       recording[cut:]))
        self.assertAlmostEqual(self.where(recording, 0.9), 0.9 * RATE + self.lead_in, delta=0.01)
        self.assertAlmostEqual(self.where(recording, 1.1), 1.1 * RATE + self.lead_in + gap,
                               delta=0.01)


class RecorderTimingTest(unittest.TestCase):
    """A recorder's reads turned into times: the recording holds 0.5 s of
    silence, then the track; its reads came every 20 ms, on time, from
    monotonic time 100."""

    def setUp(self):
        self.track = noise(6, 1)
        self.lead_in = RATE // 2
        self.recorder = sync.TimedRecorder(None, 20)

    def record(self, recording, lost_at=None, lost=0):
        """Reads every 20 ms of `recording`; from byte `lost_at` on, the
        reads came `lost` frames late (the reader fell behind and the
        server dropped what it could not hold)."""
        self.recording = recording
        self.recorder.data = bytearray(recording.tobytes())
        step = sync.BYTES_PER_SECOND // 50
        for count in range(step, len(recording) * 4 + 1, step):
            late = lost / RATE if lost_at is not None and count > lost_at else 0.0
            self.recorder.arrived(100.0 + count / sync.BYTES_PER_SECOND + late, count)

    def test_each_second_of_the_track_is_timed_and_found_again(self):
        self.record(numpy.concatenate((numpy.zeros((self.lead_in, 2), "<i2"), self.track)))
        heard = sync.SoundPosition(self.recorder, self.track)
        for second in (1.0, 4.5):
            at = 100.0 + 0.5 + second
            self.assertAlmostEqual(
                self.recorder.heard_at(self.recording, self.track, second, at + 0.3), at,
                delta=1e-5)
            self.assertAlmostEqual(heard.at(at), second, delta=1e-4)
        self.assertIsNone(heard.at(100.2))  # silence
        self.assertIsNone(heard.at(107.0))  # not recorded yet

    def test_the_position_is_followed_and_found_again_after_a_jump(self):
        # The track from 2 s on, then (a seek) from 0.5 s.
        recording = numpy.concatenate((self.track[2 * RATE:4 * RATE], self.track[RATE // 2:]))
        self.record(recording)
        heard = sync.SoundPosition(self.recorder, self.track)
        self.assertAlmostEqual(heard.at(101.0), 3.0, delta=1e-4)
        self.assertAlmostEqual(heard.at(101.5), 3.5, delta=1e-4)
        self.assertAlmostEqual(heard.at(103.0), 1.5, delta=1e-4)
        self.assertAlmostEqual(heard.now(), 6.0, delta=1e-4)

    def test_silence_in_what_was_heard_is_timed_by_the_sound_around_it(self):
        # 60 ms of silence from 2 s on (the server ran dry), then the track
        # where it was.
        gap, cut = int(0.06 * RATE), 2 * RATE
        self.record(numpy.concatenate((self.track[:cut], numpy.zeros((gap, 2), "<i2"),
                                       self.track[cut:])))
        heard = sync.SoundPosition(self.recorder, self.track)
        # Within the silence's length: the track stood still through it.
        self.assertAlmostEqual(heard.at(102.03), 2.0, delta=0.06)
        self.assertAlmostEqual(heard.at(102.5), 2.44, delta=1e-4)

    def test_sound_lost_by_the_recorder_does_not_move_what_comes_after_it(self):
        # 256 frames (a PipeWire period) lost at 2 s: what the recording
        # holds after that was rendered 256 frames later than its bytes say.
        lost, cut = 256, (self.lead_in + 2 * RATE) * 4
        recording = numpy.concatenate((numpy.zeros((self.lead_in, 2), "<i2"), self.track))
        recording = numpy.concatenate((recording[:cut // 4], recording[cut // 4 + lost:]))
        self.record(recording, cut, lost)
        self.assertAlmostEqual(self.recorder.heard_at(self.recording, self.track, 1.0, 101.5),
                               101.5, delta=1e-5)
        self.assertAlmostEqual(self.recorder.heard_at(self.recording, self.track, 4.5, 105.0),
                               105.0, delta=1e-5)


class FrameReadsTest(unittest.TestCase):
    """Frames received at known times and reads of what they showed."""

    def test_a_change_lies_between_the_last_frame_read_before_it_and_the_first_after(self):
        frames = sync.FrameReads()
        frames.read([10.000], False)
        frames.read([10.004], False)
        frames.read([10.008], True)
        frames.read([10.012], True)
        [change] = frames.changes
        self.assertTrue(change.bright)
        self.assertAlmostEqual(change.at, 10.006)
        self.assertAlmostEqual(change.spread, 0.002)
        self.assertEqual(change.unread, 0)

    def test_frames_that_came_between_two_reads_widen_the_change(self):
        # The read after 10.004 came late: 10.008 and 10.012 were received
        # by then, and it showed the newest of them.
        frames = sync.FrameReads()
        frames.read([10.000, 10.004], True)
        frames.read([10.008, 10.012], False)
        frames.read([10.016], True)
        first, second = frames.changes
        self.assertFalse(first.bright)
        self.assertAlmostEqual(first.at, 10.008)
        self.assertAlmostEqual(first.spread, 0.004)
        self.assertEqual(first.unread, 1)  # 10.008
        self.assertTrue(second.bright)
        self.assertAlmostEqual(second.at, 10.014)
        self.assertEqual(second.unread, 0)


class ServerTimeTest(unittest.TestCase):
    def test_a_stamp_is_the_millisecond_it_names_on_the_monotonic_clock(self):
        self.assertAlmostEqual(sync.server_time(1612560, 1612.5613), 1612.5605)
        # The server's 32-bit milliseconds wrap every 49.7 days.
        self.assertAlmostEqual(sync.server_time(5, 2 ** 32 / 1000 + 0.010), 2 ** 32 / 1000 + 0.0055)

    def test_a_stamp_of_another_clock_is_refused(self):
        self.assertIsNone(sync.server_time(1612560, 1700.0))
        self.assertIsNone(sync.server_time(1612560, 1612.0))


class PixelWatchTest(unittest.TestCase):
    """The watch against a real X server: the centre of the screen painted
    dark and bright in turn, each paint a frame."""

    def paint(self, xlib, display, gc, root, colour):
        xlib.XSetForeground(display, gc, colour)
        xlib.XFillRectangle(display, root, gc, 300, 220, 40, 40)
        xlib.XSync(display, 0)

    def test_each_change_is_stamped_between_the_frames_either_side_of_it(self):
        xlib = ctypes.CDLL("libX11.so.6")
        xlib.XOpenDisplay.restype = ctypes.c_void_p
        xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        xlib.XDefaultRootWindow.restype = ctypes.c_ulong
        xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        xlib.XCreateGC.restype = ctypes.c_void_p
        xlib.XCreateGC.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                   ctypes.c_void_p]
        xlib.XSetForeground.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_ulong]
        xlib.XFillRectangle.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p,
                                        ctypes.c_int, ctypes.c_int, ctypes.c_uint, ctypes.c_uint]
        xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        xlib.XFreeGC.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        with headless.Xvfb() as xvfb:
            display = xlib.XOpenDisplay(xvfb.display.encode())
            root = xlib.XDefaultRootWindow(display)
            gc = xlib.XCreateGC(display, root, 0, None)
            try:
                painted = []  # (before, after, bright) of each change painted
                with sync.PixelWatch(xvfb.display) as watch:
                    self.paint(xlib, display, gc, root, 0x000000)
                    headless.wait_for(lambda: watch.frames.last_shown, 20, 0.01, "the first read")
                    for bright in (True, False, True):
                        for _ in range(3):  # frames that change nothing
                            self.paint(xlib, display, gc, root,
                                       0x000000 if bright else 0xFFFFFF)
                            time.sleep(0.002)  # frames apart, as a program draws them
                        before = time.monotonic()
                        self.paint(xlib, display, gc, root, 0xFFFFFF if bright else 0x000000)
                        painted.append((before, time.monotonic(), bright))
                        headless.wait_for(lambda: len(watch.changes) == len(painted), 20, 0.01,
                                         "the change to be seen")
            finally:
                xlib.XFreeGC(display, gc)
                xlib.XCloseDisplay(display)
        for change, (before, after, bright) in zip(watch.changes, painted):
            at, spread = change.at, change.spread
            self.assertEqual(change.bright, bright)
            # Between the frames either side: the last one before the
            # change, the first one after it (the server stamps to the
            # millisecond).
            self.assertLess(at - spread, before + 0.001)
            self.assertGreater(at + spread, before - 0.001)
            self.assertLess(at + spread, after + 0.001)


class PictureTimesTest(unittest.TestCase):
    """The screen as the pixel watch sees it: each show second is shown at
    `start` + second + `late`, later by `stalled` from `stall_at` on (the
    sound, and with it the show, stood still), and by `freeze_lost` after
    the freeze when the show loses that time. The sound of a second is heard
    at the time its frame shows."""

    start, late, freeze_lost = 100.0, 0.004, sync.FREEZE_SECONDS
    stall_at, stalled = 60.0, 0.0
    freeze_at = sync.FREEZE_AT
    events = [second for group in sync.GROUPS.values() for second in group]

    def shown(self, second):
        return (self.start + second + self.late + (self.stalled if second > self.stall_at else 0) +
                (self.freeze_lost if second > self.freeze_at else 0.0))

    def heard(self, at):
        if at < self.shown(sync.START_AT):
            return None  # before the sound
        low, high = 0.0, 100.0
        while high - low > 1e-6:
            middle = (low + high) / 2
            low, high = (middle, high) if self.shown(middle) < at else (low, middle)
        return low

    def changes(self, flicker_at=None):
        """The changes between dark and bright from the start to 95.4 s: the
        program's first frame (with the logo), the logo's end, then the
        credits, which turn on every 1.2 s from 48.6 s and off 0.6 s later.
        `flicker_at`: a second at which one frame showed the other way."""
        changes = [sync.Change(self.shown(sync.START_AT), True, 0.001, 0),
                   sync.Change(self.shown(48.0), False, 0.001, 0)]
        for period in range(39):
            lit = round(sync.CREDITS_LIT + 1.2 * period, 3)
            changes += [sync.Change(self.shown(lit), True, 0.002, 0),
                        sync.Change(self.shown(lit + 0.6), False, 0.002, 1)]
        if flicker_at is not None:
            at = self.shown(flicker_at)
            lit = sync.credits_lit_from(round(flicker_at / 0.6) * 0.6)
            changes += [sync.Change(at, not lit, 0.002, 0), sync.Change(at + 0.004, lit, 0.002, 0)]
            changes.sort()
        return changes

    def read(self, changes, heard=None):
        return sync.picture_times(changes, heard or self.heard)

    def assert_shown(self, times, seconds):
        for second in seconds:
            self.assertAlmostEqual(times[second].at, self.shown(second), delta=1e-9, msg=second)

    def test_every_event_is_found_at_its_time_and_other_changes_are_none(self):
        times = self.read(self.changes())
        self.assertEqual(sorted(times), sorted(self.events))
        self.assert_shown(times, self.events)
        self.assertEqual(times[48.0].spread, 0.001)
        self.assertEqual(times[88.8].unread, 1)

    def test_an_event_that_two_changes_claim_is_left_out(self):
        # A frame that showed the credits off just after they came on.
        times = self.read(self.changes(flicker_at=91.85))
        self.assertNotIn(91.8, times)
        self.assert_shown(times, (88.8, 92.4, 93.0, 93.6))

    def test_a_show_that_keeps_its_time_through_the_freeze_is_read_as_well(self):
        self.freeze_lost = 0.0
        self.assert_shown(self.read(self.changes()), (88.8, 91.8, 93.6))

    def test_a_show_that_stood_still_is_read_as_well(self):
        self.stalled = 5.0
        self.assert_shown(self.read(self.changes()), self.events)
        self.stall_at = 90.0  # after the freeze, between two lit halves
        self.assert_shown(self.read(self.changes()), self.events)

    def test_a_picture_off_by_a_quarter_second_is_still_placed(self):
        # Far outside the bound, but the figure then says by how much.
        heard = self.heard
        times = self.read(self.changes(), heard=lambda at: heard(at) and heard(at) + 0.25)
        self.assert_shown(times, self.events)

    def test_without_the_sound_nothing_is_placed(self):
        self.assertEqual(self.read(self.changes(), heard=lambda at: None), {})


class FigureTest(unittest.TestCase):
    class Recorder:
        """Hears every moment 5 ms after its frame showed, but those in
        `silent`."""
        data = b""
        monitor = "null.monitor"

        def __init__(self, silent=()):
            self.silent = silent

        def heard_at(self, recording, reference, second, near):
            return None if second in self.silent else near + 0.005

    def test_events_left_out_say_why(self):
        shown = {87.0: sync.Change(100.0, True, 0.001, 0),
                 88.2: sync.Change(101.2, True, 0.030, 4),
                 88.8: sync.Change(101.8, False, 0.020, 0)}
        value = sync.figure("late", shown, None, self.Recorder(), self.Recorder())
        self.assertEqual((value.fast, value.slow, value.seen, value.events), (5.0, 5.0, 1, 4))
        self.assertFalse(value.enough())
        self.assertEqual(value.why_not_enough(),
                         "only 1 of the 4 events could be timed: 87.6 s not placed; 88.2 s "
                         "between frames 60 ms apart, 4 frames unread between them; 88.8 s "
                         "between frames 40 ms apart")


    def test_an_event_whose_sound_fell_in_silence_is_left_out(self):
        shown = {second: sync.Change(100.0 + second, True, 0.001, 0)
                 for second in sync.GROUPS["after freeze"]}
        value = sync.figure("after freeze", shown, None, self.Recorder(),
                            self.Recorder(silent=(92.4,)))
        self.assertEqual((value.fast, value.seen), (5.0, 3))
        self.assertEqual(value.left_out, ("92.4 s not heard in the recording of null.monitor",))


class WineUnderflowsTest(unittest.TestCase):
    def test_underflows_are_counted_before_each_moment_on_the_monotonic_clock(self):
        raw_now = time.clock_gettime(time.CLOCK_MONOTONIC_RAW)
        now = time.monotonic()
        # Wine's messages: two underflows before the early moment, one other
        # warning, one underflow between early and late; the after-freeze
        # moment was never shown.
        underflow = "{:.3f}:0120:warn:pulse:pulse_underflow_callback 0xb77bfda0: Underflow"
        messages = "\n".join(
            [underflow.format(raw_now - 50.0), underflow.format(raw_now - 45.0),
             f"{raw_now - 44.0:.3f}:0128:warn:dsound:DSOUND_PerformMix Probable buffer underrun",
             underflow.format(raw_now - 30.0)])
        shown = {sync.GROUPS["early"][0]: sync.Change(now - 40.0, False, 0.001, 0),
                 sync.GROUPS["late"][0]: sync.Change(now - 10.0, True, 0.001, 0)}
        self.assertEqual(sync.underflows_before_groups(messages, shown), [2, 3, None])


if __name__ == "__main__":
    unittest.main()
