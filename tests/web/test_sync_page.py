"""The page's picture against its sound, measured from outside as the
desktop builds' (tests/web/sync_page.py tells how): one run of the show in
Chromium on an X server, its sound on a private PulseAudio's null sink.

The page can change the picture only when a frame reaches the screen, and
its frames come one frame interval I apart (30 to 40 ms with the show's mesh
in SwiftShader): drawn for the moment it shows, an event shows between 0 and
I after its sound. So each moment lies between -(I + 25) and +25 ms, the
desktop tests' 25 ms either side of that. The logo's start and end show in
every run; the credits' flashes count where the screen showed them (a frame
in the bright half of a flash, whose period can be placed: its first and
last flash seen), and the moment after the hold-up, which has only flashes,
is checked when some showed. scripts/measure-sync.sh web prints five runs."""

import unittest

import sync_page
from sync_page import headless, sync

MARGIN_MS = 25.0


class PageSyncTest(unittest.TestCase):
    def test_picture_keeps_to_the_sound_early_late_and_after_a_hold_up(self):
        with headless.temp_dir("viriz-sync-page-") as workdir:
            result = sync_page.measure(workdir)
        interval = result.frame_ms
        print(f"web: {sync.describe(result.figures)}; frames {interval:.1f} ms apart")
        for group, value in result.figures.items():
            with self.subTest(group):
                if group != "after freeze":
                    self.assertTrue(value.seen, f"the {group} moment did not show")
                if not value.seen:
                    continue
                # The two recorders time the sound independently; they must agree.
                self.assertLess(abs(value.fast - value.slow), 5.0, value)
                self.assertLessEqual(value.fast, MARGIN_MS,
                                     f"picture ahead of the sound by {value.fast} ms")
                self.assertGreaterEqual(value.fast, -(interval + MARGIN_MS),
                                        f"picture behind the sound by {-value.fast} ms, "
                                        f"with frames {interval:.1f} ms apart")


if __name__ == "__main__":
    unittest.main()
