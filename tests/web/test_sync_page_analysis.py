"""The page's sync measurement on made-up input: what the browser's trace
says of the frames' way to the screen against the page's estimate."""

import unittest

import sync_page


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
