"""The whole show, end to end, on both builds, under a private X server and a
private PulseAudio: the mesh appears at once, what is heard is the track,
Escape ends it, and each start-up failure shows its text."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from demo import LINUX_BIN, Demo, headless  # also puts tests/support on the path
from audio_match import BYTES_PER_SECOND, follow_track, locate  # noqa: E402

PASSWORD = "kvernsteik"


def lit_share(png):
    """Share of the screenshot's pixels brighter than near-black."""
    out = subprocess.run(["convert", png, "-colorspace", "gray", "-threshold", "6%", "-format",
                          "%[fx:mean]", "info:"], capture_output=True, text=True, check=True)
    return float(out.stdout)


class ShowBehaviour:
    platform = None

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="viriz-show-")
        self.data_dir = os.path.join(self.tmp.name, "run")
        # The data set made by the Linux build serves both builds.
        os.makedirs(self.data_dir)
        shutil.copytree(os.path.join(LINUX_BIN, "data"), os.path.join(self.data_dir, "data"))
        shutil.copy(os.path.join(LINUX_BIN, "data.dat"), self.data_dir)

    def tearDown(self):
        self.tmp.cleanup()

    def decoded_track(self):
        """The track as the player should play it: extracted from the archive
        with our packer and decoded by oggdec (which equals ov_read)."""
        ogg = os.path.join(self.tmp.name, "kelvo.ogg")
        subprocess.run([os.path.join(LINUX_BIN, "viriz-pack"), "extract",
                        os.path.join(self.data_dir, "data.dat"), "kelvo.ogg", "-p", PASSWORD,
                        "-o", ogg], check=True, capture_output=True)
        return self.decoded_track_from(ogg)

    def run_show(self, seconds, screenshot_at=None):
        """Runs the demo for about `seconds`, then presses Escape. Returns
        (exit code, stderr, recording bytes, screenshot lit share)."""
        recording = os.path.join(self.tmp.name, "rec.raw")
        lit = None
        with headless.Xvfb("640x480x24") as xvfb, \
                headless.PulseAudio(os.path.join(self.tmp.name, "pulse")) as pulse:
            wine = headless.WinePrefix() if self.platform == "windows" else None
            env = dict(pulse.env)
            with (wine or _Nothing()), pulse.record(recording):
                time.sleep(2.5)  # the idle sink settles at the recorder's latency
                demo = Demo(self.platform, xvfb, workdir=self.data_dir, extra_env=env, wine=wine)
                demo.start()
                try:
                    window = demo.window()
                    started = time.monotonic()
                    if screenshot_at is not None:
                        time.sleep(screenshot_at)
                        shot = os.path.join(self.tmp.name, "shot.png")
                        xvfb.screenshot(shot)
                        lit = lit_share(shot)
                    time.sleep(max(0.0, started + seconds - time.monotonic()))
                    self.assertIsNone(demo.process.poll(), "the demo ended by itself")
                    xvfb.key("Escape", window=window)
                    code, _, err = demo.finish()
                finally:
                    demo.stop()
        with open(recording, "rb") as f:
            return code, err, f.read(), lit

    def expect_error(self, text, with_sound=True):
        with headless.Xvfb("640x480x24") as xvfb, \
                headless.PulseAudio(os.path.join(self.tmp.name, "pulse")) as pulse:
            wine = headless.WinePrefix() if self.platform == "windows" else None
            env = dict(pulse.env) if with_sound else {"PULSE_SERVER": "unix:/nonexistent",
                                                      "SDL_AUDIODRIVER": "pulseaudio"}
            with (wine or _Nothing()):
                demo = Demo(self.platform, xvfb, workdir=self.data_dir, extra_env=env, wine=wine)
                demo.start()
                try:
                    demo.dismiss_error_box(timeout=60)
                    code, _, err = demo.finish()
                finally:
                    demo.stop()
        self.assertEqual(code, 0)
        self.assertIn(text, err)

    def test_shows_the_mesh_plays_the_track_and_ends_on_escape(self):
        code, err, recording, lit = self.run_show(9.0, screenshot_at=1.0)
        self.assertEqual(code, 0, err)
        self.assertGreater(lit, 0.01, "the mesh is not on screen after a second")
        self.assert_plays_track(recording, self.decoded_track())

    def assert_plays_track(self, recording, reference, seconds=5):
        """From 0.1 s into the track on, the recording follows it for
        `seconds`: sample for sample on Linux, within Wine's mixing tolerance
        on Windows."""
        start = BYTES_PER_SECOND // 10
        length = seconds * BYTES_PER_SECOND
        if self.platform == "windows":
            rec_pos = locate(recording, reference, start)
            self.assertIsNotNone(rec_pos, "the track is not in the recording")
            self.assertLessEqual(follow_track(recording, reference, rec_pos, start,
                                              start + length), 3)
            return
        offset = headless.find_offset(recording, reference)
        self.assertIsNotNone(offset, "the track is not in the recording")
        heard = recording[offset + start:offset + start + length]
        self.assertEqual(len(heard), length, "the recording is too short")
        self.assertTrue(heard == reference[start:start + length],
                        "what was heard differs from the decoded track")

    def test_missing_track_says_jalla(self):
        os.remove(os.path.join(self.data_dir, "data.dat"))
        self.expect_error("jalla")

    def test_damaged_archive_falls_back_to_the_data_folder(self):
        ogg = os.path.join(self.data_dir, "data", "kelvo.ogg")
        subprocess.run([os.path.join(LINUX_BIN, "viriz-pack"), "extract",
                        os.path.join(self.data_dir, "data.dat"), "kelvo.ogg", "-p", PASSWORD,
                        "-o", ogg], check=True, capture_output=True)
        archive = os.path.join(self.data_dir, "data.dat")
        with open(archive, "r+b") as f:
            f.seek(os.path.getsize(archive) // 2)
            f.write(b"\xff" * 64)
        code, err, recording, _ = self.run_show(5.0)
        self.assertEqual(code, 0, err)
        self.assert_plays_track(recording, self.decoded_track_from(ogg), seconds=2)

    def decoded_track_from(self, ogg):
        raw = ogg + ".raw"
        subprocess.run(["oggdec", "-Q", "-R", "-o", raw, ogg], check=True)
        with open(raw, "rb") as f:
            data = f.read()
        os.remove(raw)
        return data


class _Nothing:
    def __enter__(self):
        return None

    def __exit__(self, *exc):
        return False


class LinuxShowTest(ShowBehaviour, unittest.TestCase):
    platform = "linux"

    def test_missing_mesh_names_the_file(self):
        os.remove(os.path.join(self.data_dir, "data", "viriz.mesh"))
        self.expect_error("Failed to load data/viriz.mesh\nFile not found")

    def test_wrongly_enciphered_archive_falls_back(self):
        ogg = os.path.join(self.data_dir, "data", "kelvo.ogg")
        archive = os.path.join(self.data_dir, "data.dat")
        pack = os.path.join(LINUX_BIN, "viriz-pack")
        subprocess.run([pack, "extract", archive, "kelvo.ogg", "-p", PASSWORD, "-o", ogg],
                       check=True, capture_output=True)
        os.remove(archive)
        subprocess.run([pack, "create", archive, "-p", "not-the-password", "kelvo.ogg"],
                       cwd=os.path.join(self.data_dir, "data"), check=True, capture_output=True)
        code, err, recording, _ = self.run_show(4.0)
        self.assertEqual(code, 0, err)
        self.assert_plays_track(recording, self.decoded_track_from(ogg), seconds=2)

    def test_no_sound_device_says_fuck(self):
        self.expect_error("fuck!", with_sound=False)


class WindowsShowTest(ShowBehaviour, unittest.TestCase):
    platform = "windows"


if __name__ == "__main__":
    unittest.main()
