"""Picture and sound in step, measured from outside on both builds (see
sync.py for how): the first frame of the logo shows within 25 ms of when the
music's 9.6 s is heard. The goal is 10 ms; the rest is room for a busy
machine. scripts/measure-sync.sh prints the figures of five runs."""

import unittest

import sync
from demo import headless


class SyncBehaviour:
    platform = None

    def test_logo_shows_when_its_beat_is_heard(self):
        with headless.temp_dir("viriz-sync-") as workdir:
            offsets = sync.measure(self.platform, workdir)
        # The two recorders time the sound independently; they must agree.
        self.assertLess(abs(offsets[0] - offsets[1]), 5.0, offsets)
        self.assertLess(abs(offsets[0]), 25.0, f"picture ahead of the sound by {offsets[0]} ms")


class LinuxSyncTest(SyncBehaviour, unittest.TestCase):
    platform = "linux"


class WindowsSyncTest(SyncBehaviour, unittest.TestCase):
    platform = "windows"


if __name__ == "__main__":
    unittest.main()
