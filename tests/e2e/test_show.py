"""The whole show, end to end, on both builds, under a private X server and a
private PulseAudio: the mesh appears at once, what is heard is the track,
Escape ends it, and each start-up failure shows its text."""

import os
import shutil
import signal
import subprocess
import struct
import tempfile
import unittest
import zlib

from demo import LINUX_BIN, Demo, demo_context, headless  # also puts tests/support on the path
from audio_match import BYTES_PER_SECOND, follow_track, glitches_allowed, locate  # noqa: E402

PASSWORD = "kvernsteik"


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

    def demo(self, **kwargs):
        return demo_context(self.platform, workdir=self.data_dir, **kwargs)

    def decoded_track(self):
        """The track as the player should play it: extracted from the archive
        with our packer and decoded by oggdec (which equals ov_read)."""
        ogg = os.path.join(self.tmp.name, "kelvo.ogg")
        subprocess.run([os.path.join(LINUX_BIN, "viriz-pack"), "extract",
                        os.path.join(self.data_dir, "data.dat"), "kelvo.ogg", "-p", PASSWORD,
                        "-o", ogg], check=True, capture_output=True)
        return self.decoded_track_from(ogg)

    def run_show(self, reference, seconds, picture=False):
        """Runs the demo until the recording holds `seconds` of the track
        after its first tenth of a second (and, with `picture`, until the
        screen shows the mesh), then presses Escape. Returns (exit code,
        stderr, recording bytes, lit share of the screen or None)."""
        recording = os.path.join(self.tmp.name, "rec.raw")
        lit = None
        with self.demo() as demo, demo.sound.record(recording):
            demo.start()
            window = demo.window()
            if picture:
                lit = demo.xvfb.wait_for_lit(0.01)
            headless.wait_for(lambda: self.holds_track(recording, reference, seconds), 120, 0.25,
                              f"{seconds} s of the track in the recording")
            self.assertFalse(demo.ended(), "the demo ended by itself")
            demo.press_escape(window)
            code, _, err = demo.finish()
        with open(recording, "rb") as f:
            return code, err, f.read(), lit

    def expect_error(self, text, with_sound=True, answer=None):
        """Runs the demo into a start-up failure: the box shows `text` once
        the show's window is gone, and answering it (by default, pressing
        OK) ends the program with exit code 0."""
        env = {} if with_sound else {"PULSE_SERVER": "unix:/nonexistent",
                                     "SDL_AUDIODRIVER": "pulseaudio"}
        with self.demo(extra_env=env, sound=headless.PulseAudio if with_sound else None) as demo:
            demo.start()
            demo.find_error_box()
            self.assertIsNone(demo.xvfb.window_named("test"),
                              "the error box shows over the fullscreen window")
            (answer or Demo.dismiss_error_box)(demo)
            code, _, err = demo.finish()
        self.assertEqual(code, 0)
        self.assertIn(text, err)

    def test_shows_the_mesh_plays_the_track_and_ends_on_escape(self):
        reference = self.decoded_track()
        code, err, recording, lit = self.run_show(reference, 5, picture=True)
        self.assertEqual(code, 0, err)
        self.assertGreater(lit, 0.01)
        self.assert_plays_track(recording, reference)

    def track_start(self, recording, reference):
        """Where the track's byte at 0.1 s lies in the recording, or None."""
        return locate(recording, reference, BYTES_PER_SECOND // 10)

    def holds_track(self, path, reference, seconds):
        """True once the recording at path reaches `seconds` of the track past
        0.1 s, with room for the glitches that Wine's mixing may add."""
        with open(path, "rb") as f:
            recording = f.read()
        at = self.track_start(recording, reference)
        return at is not None and len(recording) >= at + (seconds + 0.5) * BYTES_PER_SECOND

    def assert_plays_track(self, recording, reference, seconds=5):
        """From 0.1 s into the track on, the recording follows it for
        `seconds`, through several turns of the one-second buffer. The sound
        server may drop or delay a few milliseconds when the machine is busy
        (and Wine's mixing rounds a sample now and then); stale or misplaced
        audio fails."""
        start = BYTES_PER_SECOND // 10
        rec_pos = self.track_start(recording, reference)
        self.assertIsNotNone(rec_pos, "the track is not in the recording")
        self.assertLessEqual(follow_track(recording, reference, rec_pos, start,
                                          start + seconds * BYTES_PER_SECOND),
                             glitches_allowed(seconds))

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
        reference = self.decoded_track_from(ogg)
        code, err, recording, _ = self.run_show(reference, 2)
        self.assertEqual(code, 0, err)
        self.assert_plays_track(recording, reference, seconds=2)

    def decoded_track_from(self, ogg):
        raw = ogg + ".raw"
        subprocess.run(["oggdec", "-Q", "-R", "-o", raw, ogg], check=True)
        with open(raw, "rb") as f:
            data = f.read()
        os.remove(raw)
        return data


def write_blank_png(path, side):
    """A black 1-bit grey PNG of side x side pixels: a few kilobytes that
    decode to side² pixels (4 bytes each in a texture)."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))
    row = bytes(1 + (side + 7) // 8)  # filter type 0, then the packed pixels
    image = zlib.compressobj(9)
    data = b"".join(image.compress(row) for _ in range(side)) + image.flush()
    header = struct.pack(">IIBBBBB", side, side, 1, 0, 0, 0, 0)  # 1-bit grey
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", data)
                + chunk(b"IEND", b""))


def peak_memory(pid):
    """The most resident memory the process has had, in bytes."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise ValueError(f"no VmHWM for process {pid}")


class LinuxShowTest(ShowBehaviour, unittest.TestCase):
    platform = "linux"

    def test_broken_data_sets_end_in_their_error_box(self):
        """A FIFO as the archive is passed over without waiting for a writer
        (with no track in the data folder: "jalla"), and a small picture that
        declares 16384x16384 pixels is refused before they are allocated."""
        archive = os.path.join(self.data_dir, "data.dat")
        os.rename(archive, archive + ".kept")
        os.mkfifo(archive)
        with self.subTest("FIFO as data.dat"):
            self.expect_error("jalla")
        os.remove(archive)
        os.rename(archive + ".kept", archive)

        write_blank_png(os.path.join(self.data_dir, "data", "logo.png"), 16384)
        peak = []

        def measure_then_dismiss(demo):
            peak.append(peak_memory(demo.process.pid))
            Demo.dismiss_error_box(demo)
        with self.subTest("16384x16384 logo.png"):
            self.expect_error("Failed to load data/logo.png\nNot a PNG Texture",
                              answer=measure_then_dismiss)
            self.assertLess(peak[0], 1 << 30)

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
        reference = self.decoded_track_from(ogg)
        code, err, recording, _ = self.run_show(reference, 2)
        self.assertEqual(code, 0, err)
        self.assert_plays_track(recording, reference, seconds=2)

    def test_no_sound_device_says_fuck(self):
        self.expect_error("fuck!", with_sound=False)

    def test_termination_signals_end_it_in_every_state(self):
        def terminate(demo):
            demo.process.send_signal(signal.SIGTERM)
            demo.process.wait(30)
        os.remove(os.path.join(self.data_dir, "data.dat"))
        self.expect_error("jalla", answer=terminate)  # with the error box up

        shutil.copy(os.path.join(LINUX_BIN, "data.dat"), self.data_dir)
        for number in (signal.SIGTERM, signal.SIGINT):
            with self.demo() as demo:
                demo.start()
                demo.window()
                demo.xvfb.wait_for_lit(0.0)  # in the frame loop
                demo.process.send_signal(number)
                code, _, err = demo.finish()
                self.assertEqual(code, 0, f"{number.name}: {err}")


class WindowsShowTest(ShowBehaviour, unittest.TestCase):
    platform = "windows"

    def heard_latencies(self, log):
        if not os.path.exists(log):
            return []
        with open(log, errors="replace") as f:
            return [int(line.split()[-1]) for line in f if " heard latency " in line]

    def test_under_wine_measures_its_output_latency_by_listening(self):
        """Wine's audio layer does not report all that delays the sound, so
        the program records the sound server's monitor of its output and
        measures how far what is heard trails the play cursor: the log names
        each measurement, and they lie where an output's latency can."""
        log = os.path.join(self.tmp.name, "audio.log")
        wine_log = "Z:" + log.replace("/", "\\")
        with self.demo(extra_env={"VIRIZ_AUDIO_LOG": wine_log}) as demo:
            demo.start()
            window = demo.window()
            headless.wait_for(lambda: len(self.heard_latencies(log)) >= 3, 120, 0.25,
                              "three measurements of the output latency in the log")
            demo.press_escape(window)
            code, _, err = demo.finish()
        self.assertEqual(code, 0, err)
        for latency in self.heard_latencies(log):
            self.assertTrue(BYTES_PER_SECOND // 100 <= latency <= BYTES_PER_SECOND // 2, latency)


if __name__ == "__main__":
    unittest.main()
