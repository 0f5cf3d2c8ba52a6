"""viriz-capture: frames at given times, a frame sequence with its music, and
a muxed video, all from the generated data set without a display; and, seen
through it, a show whose object stays in view from start to end."""

import os
import signal
import statistics
import subprocess
import tempfile
import unittest
import wave

from demo import LINUX_BIN, headless

CAPTURE = os.path.join(LINUX_BIN, "viriz-capture")


def run(*args):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    return subprocess.run([CAPTURE, *args], capture_output=True, text=True, env=env, timeout=300)


def decoded_track(scratch):
    """The show's music as 16-bit stereo PCM at 44.1 kHz, through the packer and
    oggdec rather than the code under test."""
    track = os.path.join(scratch, "kelvo.ogg")
    subprocess.run([os.path.join(LINUX_BIN, "viriz-pack"), "extract",
                    os.path.join(LINUX_BIN, "data.dat"), "kelvo.ogg", "-p", "kvernsteik",
                    "-o", track], check=True, capture_output=True)
    return subprocess.run(["oggdec", "-Q", "-R", "-o", "-", track], capture_output=True,
                          check=True).stdout


# A pixel is lit when its luma (Rec. 601, 8 bits) is above 30.
DARK_LUMA = bytes(range(31))
FRAME_PIXELS = 640 * 480


def lit_shares(paths):
    """The share of lit pixels of each frame, in order."""
    shares = []
    for start in range(0, len(paths), 32):  # ImageMagick holds a batch in memory
        batch = paths[start:start + 32]
        luma = subprocess.run(["convert", *batch, "-grayscale", "Rec601Luma", "-depth", "8",
                               "gray:-"], capture_output=True, check=True).stdout
        assert len(luma) == FRAME_PIXELS * len(batch)
        for i in range(len(batch)):
            frame = luma[i * FRAME_PIXELS:(i + 1) * FRAME_PIXELS]
            shares.append(len(frame.translate(None, DARK_LUMA)) / FRAME_PIXELS)
    return shares


def image_size(path):
    out = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, text=True,
                         check=True).stdout
    return tuple(int(v) for v in out.split())


class CaptureTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="viriz-capture-")
        self.out = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def test_frames_at_times_sort_in_time_order(self):
        times = ["100", "9.5", "0", "33.25"]
        result = run("--at", *times, "--out", self.out)
        self.assertEqual(result.returncode, 0, result.stderr)
        names = sorted(os.listdir(self.out))
        self.assertEqual(len(names), 4)
        self.assertEqual([float(n[len("frame-"):-len(".png")]) for n in names],
                         sorted(float(t) for t in times))
        for name in names:
            self.assertEqual(image_size(os.path.join(self.out, name)), (640, 480))

    def test_sequence_with_music_and_video(self):
        video = os.path.join(self.out, "show.mp4")
        result = run("--fps", "5", "--from", "2", "--to", "4", "--out", self.out,
                     "--video", video)
        self.assertEqual(result.returncode, 0, result.stderr)
        frames = sorted(n for n in os.listdir(self.out) if n.startswith("frame-"))
        self.assertEqual(frames, [f"frame-{i:06d}.png" for i in range(10)])

        # The music of exactly that stretch: the decoded track from 2 s to 4 s.
        with wave.open(os.path.join(self.out, "music.wav")) as music:
            self.assertEqual((music.getnchannels(), music.getsampwidth(), music.getframerate()),
                             (2, 2, 44100))
            self.assertEqual(music.getnframes(), 2 * 44100)
            pcm = music.readframes(music.getnframes())
        decoded = decoded_track(self.out)
        self.assertTrue(pcm == decoded[2 * 176400:4 * 176400])

        streams = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_type",
                                  "-of", "csv=p=0", video], capture_output=True, text=True,
                                 check=True).stdout.split()
        self.assertEqual(sorted(streams), ["audio", "video"])

    def test_object_reads_well_through_the_whole_show(self):
        # Four frames a second from start to end of the music. Each part of the
        # show (the opening, the slow swing under the logo, the fast swing,
        # the circling credits) has a median frame with at least 5 % of its
        # pixels lit, and no second goes by with under 0.5 % lit.
        fps = 4
        show_seconds = len(decoded_track(self.out)) / 176400
        result = run("--fps", str(fps), "--from", "0", "--to", f"{show_seconds:.2f}", "--out",
                     self.out)
        self.assertEqual(result.returncode, 0, result.stderr)
        frames = sorted(n for n in os.listdir(self.out) if n.startswith("frame-"))
        self.assertGreaterEqual(len(frames), int(show_seconds * fps))
        shares = lit_shares([os.path.join(self.out, n) for n in frames])

        sections = [(0.0, 9.6), (9.6, 28.8), (28.8, 48.0), (48.0, show_seconds)]
        for start, end in sections:
            section = [share for i, share in enumerate(shares) if start <= i / fps < end]
            self.assertGreaterEqual(statistics.median(section), 0.05,
                                    f"median lit share from {start} s to {end:.1f} s")

        dark_run = 0
        for i, share in enumerate(shares):
            dark_run = dark_run + 1 if share < 0.005 else 0
            self.assertLessEqual(dark_run, fps, f"dark for more than a second up to {i / fps} s")

    def test_bad_arguments_print_usage(self):
        for args in ([], ["--at", "1"], ["--fps", "5", "--out", self.out],
                     ["--at", "1", "--fps", "2", "--from", "0", "--to", "1", "--out", self.out]):
            result = run(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn("usage: viriz-capture", result.stderr)

    def test_times_that_cannot_be_written_are_refused(self):
        """Not a number, past an hour or before the start: refused, with what
        was wrong, before anything is rendered or written (a sequence's WAV
        would pass 4 GiB from 25,000 s on)."""
        for option, args in (("--at", ["--at", "inf"]), ("--at", ["--at", "NaN"]),
                             ("--at", ["--at", "-1"]),
                             ("--to", ["--fps", "1", "--from", "0", "--to", "25000"]),
                             ("--from", ["--fps", "1", "--from", "nan", "--to", "1"])):
            result = run(*args, "--out", self.out)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(f"viriz-capture: {option}", result.stderr)
            self.assertEqual(os.listdir(self.out), [])

    def test_termination_signal_ends_a_long_capture(self):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        capture = subprocess.Popen([CAPTURE, "--fps", "4", "--from", "0", "--to", "70", "--out",
                                    self.out], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            headless.wait_for(lambda: os.listdir(self.out), 60, 0.05, "the first frame")
            capture.send_signal(signal.SIGTERM)
            self.assertEqual(capture.wait(30), -signal.SIGTERM)
        finally:
            headless._stop(capture)

    def test_missing_data_names_the_file(self):
        result = run("--data", self.out, "--at", "1", "--out", os.path.join(self.out, "frames"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("Failed to load data/viriz.mesh", result.stderr)


if __name__ == "__main__":
    unittest.main()
