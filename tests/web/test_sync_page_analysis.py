"""The page's sync measurement on made-up input: which screen changes are
the credits' flashes of its six periods, and what the browser's trace says
of the frames' way to the screen against the page's estimate."""

import unittest

import sync_page
from sync_page import sync


class PagePictureTimesTest(unittest.TestCase):
    """Each show second shows at `start` + second + `late`, and 300 ms later
    after the hold-up at 51.8 s (the music stood still meanwhile); the sound
    of a second is heard when its frame shows."""

    start, late = 100.0, -0.02

    def shown(self, second):
        return self.start + second + self.late + (sync.FREEZE_SECONDS if second > 51.8 else 0.0)

    def heard(self, at):
        low, high = 0.0, 70.0
        while high - low > 1e-6:
            middle = (low + high) / 2
            low, high = (middle, high) if self.shown(middle) < at else (low, middle)
        return low

    def changes(self, missing=(), frame_late=()):
        """The logo, then eight credits periods; a flash end in `missing`
        had no bright frame, one in `frame_late` showed 33 ms late (the next
        frame came that much after it)."""
        changes = [(self.shown(sync.EARLY), True, 0.0), (self.shown(sync.LOGO_END), False, 0.0)]
        for period in range(8):
            first = sync.LOGO_END + 0.6 + period * 1.2
            for quarter in range(8):
                end = round(first + (quarter + 1) * sync.QUARTER_BEAT, 3)
                late = 0.033 if end in frame_late else 0.0
                if end not in missing:
                    changes += [(self.shown(end - 0.037), True, 0.0),
                                (self.shown(end) + late, False, 0.001)]
        return changes

    def read(self, changes):
        return sync_page.picture_times(changes, self.start + 70, self.heard)

    def test_every_moment_is_found_at_its_time_before_and_after_the_hold_up(self):
        times = self.read(self.changes())
        moments = [second for group in sync_page.GROUPS.values() for second in group]
        self.assertEqual(sorted(times), sorted(moments))
        for second in moments:
            self.assertAlmostEqual(times[second][0], self.shown(second), delta=1e-9, msg=second)

    def test_flash_ends_a_frame_late_are_still_placed(self):
        # The first flash end of a period a frame late and its last on time,
        # and the other way round: the two are a frame nearer or further
        # apart than the beats say.
        times = self.read(self.changes(frame_late=(48.675, 50.4)))
        self.assertAlmostEqual(times[48.675][0], self.shown(48.675) + 0.033, delta=1e-9)
        self.assertAlmostEqual(times[50.4][0], self.shown(50.4) + 0.033, delta=1e-9)
        self.assertEqual(len(times), 2 + 6 * 8)

    def test_a_period_without_its_first_or_last_flash_is_left_out_alone(self):
        # Either could be a quarter beat off: the period's other flashes go
        # too, the other periods' stay.
        times = self.read(self.changes(missing=(50.4, 54.675)))
        self.assertFalse([s for s in times if 49.8 < s <= 50.4], "the second period")
        self.assertFalse([s for s in times if 54.6 < s <= 55.2], "the fifth period")
        self.assertEqual(len(times), 2 + 4 * 8)


class PipelineTest(unittest.TestCase):
    """Frames 40 ms apart, drawn from 5 ms into their animation frame, each
    presented 130 ms after its drawing began; the trace's clock runs 1000 ms
    ahead of the page's."""

    def events(self, frames, shown_after):
        events = [{"name": "align", "ts": (500.0 + 1000) * 1000}]
        for n, (time, _, began) in enumerate(frames):
            for state, frame_type in (("STATE_PRESENTED_ALL", None),
                                      ("STATE_PRESENTED_PARTIAL", "FORKED")):
                report = {"state": state}
                if frame_type:
                    report["frame_type"] = frame_type
                key = {"local": f"0x{n}{state[-3:]}"}
                events += [{"name": "PipelineReporter", "ph": "b", "pid": 1, "id2": key,
                            "ts": (time + 1000) * 1000, "args": {"frame_reporter": report}},
                           {"name": "PipelineReporter", "ph": "e", "pid": 1, "id2": key,
                            "ts": (began + shown_after + 1000) * 1000}]
        return events

    def test_the_time_to_the_screen_against_three_frame_intervals(self):
        frames = [(1000.0 + 40 * n, 0.0, 1005.0 + 40 * n) for n in range(40)]
        result = sync_page.pipeline(self.events(frames, 130.0), frames, 500.0)
        self.assertEqual(result.frames, 40 - sync_page.INTERVALS)
        self.assertAlmostEqual(result.to_screen, 135.0)
        self.assertAlmostEqual(result.ratio, 135.0 / 40)
        self.assertAlmostEqual(result.from_start, 135.0 - 120.0)
        self.assertAlmostEqual(result.from_callback, 130.0 - 120.0)

    def test_a_trace_without_the_pages_frames_says_so(self):
        frames = [(1000.0 + 40 * n, 0.0, 1005.0 + 40 * n) for n in range(40)]
        with self.assertRaises(AssertionError):
            sync_page.pipeline(self.events(frames, 130.0)[:1], frames, 500.0)


if __name__ == "__main__":
    unittest.main()
