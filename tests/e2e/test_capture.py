"""viriz-capture: frames at given times, a frame sequence with its music, and
a muxed video, all from the generated data set without a display."""

import os
import subprocess
import tempfile
import unittest
import wave

from demo import LINUX_BIN

CAPTURE = os.path.join(LINUX_BIN, "viriz-capture")


def run(*args):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    return subprocess.run([CAPTURE, *args], capture_output=True, text=True, env=env, timeout=300)


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
        track = os.path.join(self.out, "kelvo.ogg")
        subprocess.run([os.path.join(LINUX_BIN, "viriz-pack"), "extract",
                        os.path.join(LINUX_BIN, "data.dat"), "kelvo.ogg", "-p", "kvernsteik",
                        "-o", track], check=True, capture_output=True)
        decoded = subprocess.run(["oggdec", "-Q", "-R", "-o", "-", track], capture_output=True,
                                 check=True).stdout
        self.assertTrue(pcm == decoded[2 * 176400:4 * 176400])

        streams = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_type",
                                  "-of", "csv=p=0", video], capture_output=True, text=True,
                                 check=True).stdout.split()
        self.assertEqual(sorted(streams), ["audio", "video"])

    def test_bad_arguments_print_usage(self):
        for args in ([], ["--at", "1"], ["--fps", "5", "--out", self.out],
                     ["--at", "1", "--fps", "2", "--from", "0", "--to", "1", "--out", self.out]):
            result = run(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn("usage: viriz-capture", result.stderr)

    def test_missing_data_names_the_file(self):
        result = run("--data", self.out, "--at", "1", "--out", os.path.join(self.out, "frames"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("Failed to load data/viriz.mesh", result.stderr)


if __name__ == "__main__":
    unittest.main()
