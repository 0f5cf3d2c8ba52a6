"""The page's picture against its sound, measured from outside as the
desktop builds' (tests/web/sync_page.py tells how): one run of the show in
Chromium on an X server, its sound on a private PulseAudio's null sink, the
credits' changes early, late and after the page's thread was held up.

The page changes the picture only when a frame reaches the screen, and its
frames come one frame interval I apart (about 33 ms with the show's mesh in
SwiftShader); a change is stamped halfway between the frames either side,
give or take I/2, where the desktop's come a few milliseconds apart. So
each moment's median must lie within 25 ms of its sound plus half a frame
interval. scripts/measure-sync.sh web prints five runs."""

import unittest

import sync_page
from sync_page import headless

MARGIN_MS = 25.0


class PageSyncTest(unittest.TestCase):
    def test_picture_keeps_to_the_sound_early_late_and_after_a_hold_up(self):
        with headless.temp_dir("viriz-sync-page-") as workdir:
            result = sync_page.measure(workdir)
        print(f"web: {sync_page.describe(result)}")
        bound = MARGIN_MS + result.frame_ms / 2
        for group, value in result.figures.items():
            with self.subTest(group):
                self.assertTrue(value.enough(), value.why_not_enough())
                # The two recorders time the sound independently; they must agree.
                self.assertLess(abs(value.fast - value.slow), 5.0, value)
                self.assertLess(abs(value.fast), bound,
                                f"picture ahead of the sound by {value.fast} ms, with frames "
                                f"{result.frame_ms:.1f} ms apart")


if __name__ == "__main__":
    unittest.main()
