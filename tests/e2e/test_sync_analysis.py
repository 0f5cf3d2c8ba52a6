"""The sync measurement's two readings, on made-up input: where a moment of
the track lies in a recording (also one resampled as PipeWire does it, or
with a gap in it), and which screen changes are the events."""

import subprocess
import unittest

import numpy

import sync

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


class PictureTimesTest(unittest.TestCase):
    """The screen as the pixel watch sees it: each show second is shown at
    `start` + second + `late`, plus the freeze's length after it when the
    show loses that time."""

    start, late, freeze_lost = 100.0, 0.004, sync.FREEZE_SECONDS

    def shown(self, second):
        lost = self.freeze_lost if second > sync.FREEZE_AT else 0.0
        return self.start + second + self.late + lost

    def changes(self, missing=()):
        """The changes between dark and bright from the logo to 54 s. A
        flash turns bright part way through its quarter beat (the ramp
        passes half brightness), and ends at the quarter beat; a flash end
        in `missing` had no bright frame."""
        changes = [(self.start + 2.0, True), (self.start + 2.5, False),  # a dialog box
                   (self.shown(sync.EARLY), True), (self.shown(sync.LOGO_END), False)]
        for period in range(5):
            first = sync.LOGO_END + 0.6 + period * sync.CREDITS_FLASHES
            for quarter in range(8):
                end = round(first + (quarter + 1) * sync.QUARTER_BEAT, 3)
                if end in missing:
                    continue
                changes.append((self.shown(end - 0.022), True))
                changes.append((self.shown(end), False))
        return changes

    def resumed_at(self):
        return self.shown(sync.FREEZE_AT) + 0.01

    def test_every_event_is_found_at_its_time(self):
        times = sync.picture_times(self.changes(), self.start + 60, self.resumed_at())
        events = [second for group in sync.GROUPS.values() for second in group]
        self.assertEqual(sorted(times), sorted(events))
        for second in events:
            self.assertAlmostEqual(times[second], self.shown(second), delta=1e-9, msg=second)

    def test_a_flash_without_a_bright_frame_is_left_out_and_the_rest_stay(self):
        missing = (48.9, 52.5)
        times = sync.picture_times(self.changes(missing), self.start + 60, self.resumed_at())
        for second in missing:
            self.assertNotIn(second, times)
        self.assertEqual(times[49.2], self.shown(49.2))
        self.assertEqual(times[52.8], self.shown(52.8))
        self.assertEqual(len(times), sum(map(len, sync.GROUPS.values())) - len(missing))

    def test_a_show_that_keeps_its_time_through_the_freeze_is_read_as_well(self):
        self.freeze_lost = 0.0
        times = sync.picture_times(self.changes(), self.start + 60, self.resumed_at())
        self.assertEqual(times[52.8], self.shown(52.8))
        self.assertEqual(times[49.2], self.shown(49.2))

    def test_without_the_logo_nothing_is_read(self):
        with self.assertRaises(AssertionError):
            sync.picture_times(self.changes()[:3], self.start + 20, self.resumed_at())


if __name__ == "__main__":
    unittest.main()
