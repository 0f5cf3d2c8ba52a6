"""The release files as a viewer gets them: the Windows zip unpacked into an
empty folder and run under a new Wine prefix, the Debian package unpacked
(not installed) and run from there, and the video checked against the show."""

import array
import glob
import json
import math
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from demo import LINUX_BIN, demo_context, headless  # noqa: E402  (also puts tests/support on the path)

DIST = os.environ.get("VIRIZ_DIST", os.path.join(headless.REPO, "dist"))
PASSWORD = "kvernsteik"


def release_file(pattern):
    found = glob.glob(os.path.join(DIST, pattern))
    if len(found) != 1:
        raise AssertionError(f"expected one {pattern} in {DIST} (make dist), found {found}")
    return found[0]


def run_show(test, platform, program, workdir, wine=None):
    """Starts the program, waits for the mesh on the screen, presses Escape
    and expects exit code 0."""
    with demo_context(platform, wine=wine, workdir=workdir, program=program) as demo:
        demo.start()
        window = demo.window()
        demo.xvfb.wait_for_lit(0.01)  # the mesh, not just a cleared frame
        demo.press_escape(window)
        code, _, err = demo.finish()
        test.assertEqual(code, 0, err)


class ZipTest(unittest.TestCase):
    def test_unpacked_into_an_empty_folder_it_shows_the_mesh_and_ends_on_escape(self):
        archive = release_file("viriz-*-win64.zip")
        with tempfile.TemporaryDirectory(prefix="viriz-zip-") as tmp:
            folder = os.path.join(tmp, "viriz")
            os.makedirs(folder)
            with zipfile.ZipFile(archive) as z:
                self.assertEqual(sorted(n for n in z.namelist() if "/" not in n.rstrip("/")),
                                 sorted(["README.txt", "data.dat", "data/", "viriz.exe"]))
                z.extractall(folder)
            with open(os.path.join(folder, "README.txt"), encoding="ascii") as f:
                readme = f.read()
            for needed in ("Escape", "Space", "Home", "--start-at", "--loop", "VIRIZ_AUDIO_OFFSET_MS",
                           "Windows", "flashing lights", "viriz.exe --reduced-flashing",
                           "VIRIZ_AUDIO_LISTEN=0"):
                self.assertIn(needed, readme)
            wine = headless.WinePrefix(os.path.join(tmp, "prefix"))
            run_show(self, "windows", os.path.join(folder, "viriz.exe"), folder, wine)


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.package = release_file("viriz_*_amd64.deb")

    def test_unpacked_anywhere_it_finds_its_data_shows_the_mesh_and_ends_on_escape(self):
        with tempfile.TemporaryDirectory(prefix="viriz-deb-") as tmp:
            root = os.path.join(tmp, "root")
            subprocess.run(["dpkg-deb", "-x", self.package, root], check=True)
            for path in ("usr/games/viriz", "usr/share/games/viriz/data.dat",
                         "usr/share/games/viriz/data/viriz.mesh",
                         "usr/share/applications/viriz.desktop",
                         "usr/share/icons/hicolor/64x64/apps/viriz.png",
                         "usr/share/doc/viriz/copyright"):
                self.assertTrue(os.path.exists(os.path.join(root, path)), path)
            # Started from a folder whose "data" folder is not the show's (a
            # home folder often has one): it must still find its own.
            elsewhere = os.path.join(tmp, "elsewhere")
            os.makedirs(os.path.join(elsewhere, "data"))
            run_show(self, "linux", os.path.join(root, "usr/games/viriz"), elsewhere)

    def test_description_warns_of_flashing_lights_and_names_the_gentler_mode(self):
        description = subprocess.run(["dpkg-deb", "--field", self.package, "Description"],
                                     check=True, capture_output=True, text=True).stdout
        self.assertIn("flashing lights", description)
        self.assertIn("viriz --reduced-flashing", description)

    def test_declares_its_libraries_and_passes_lintian(self):
        info = subprocess.run(["dpkg-deb", "--field", self.package, "Depends"], check=True,
                              capture_output=True, text=True).stdout
        for library in ("libsdl2", "libvorbisfile", "libpng16", "libc6"):
            self.assertIn(library, info)
        lint = subprocess.run(["lintian", "--fail-on", "error", self.package],
                              capture_output=True, text=True)
        self.assertEqual(lint.returncode, 0, lint.stdout + lint.stderr)


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-print_format", "json", "-show_format",
                          "-show_streams", path], check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def pcm(command):
    """Signed 16-bit stereo samples at 44.1 kHz from an ffmpeg or oggdec run."""
    raw = subprocess.run(command, check=True, capture_output=True).stdout
    return array.array("h", raw)


class VideoTest(unittest.TestCase):
    def test_the_whole_show_at_60_fps_with_its_music(self):
        video = release_file("viriz-*.mp4")
        with tempfile.TemporaryDirectory(prefix="viriz-video-") as tmp:
            ogg = os.path.join(tmp, "kelvo.ogg")
            subprocess.run([os.path.join(LINUX_BIN, "viriz-pack"), "extract",
                            os.path.join(LINUX_BIN, "data.dat"), "kelvo.ogg", "-p", PASSWORD,
                            "-o", ogg], check=True, capture_output=True)
            track_seconds = float(probe(ogg)["format"]["duration"])
            info = probe(video)
            self.assertAlmostEqual(float(info["format"]["duration"]), track_seconds, delta=0.5)
            streams = {s["codec_type"]: s for s in info["streams"]}
            picture = streams["video"]
            self.assertEqual((picture["width"], picture["height"]), (640, 480))
            self.assertEqual(picture["avg_frame_rate"], "60/1")
            self.assertIn("audio", streams)

            seconds = 5
            heard = pcm(["ffmpeg", "-v", "error", "-i", video, "-t", str(seconds), "-vn", "-f",
                         "s16le", "-ar", "44100", "-ac", "2", "-"])
            track = pcm(["oggdec", "-Q", "-R", "-o", "-", ogg])[:len(heard)]
            self.assertEqual(len(heard), 44100 * 2 * seconds)
            # The video's sound is lossy: the same music in the same place
            # shows as a near-perfect correlation at no offset.
            dot = sum(a * b for a, b in zip(heard, track))
            norm = math.sqrt(sum(a * a for a in heard) * sum(b * b for b in track))
            self.assertGreater(norm, 0)
            self.assertGreater(dot / norm, 0.98)


if __name__ == "__main__":
    unittest.main()
