"""The music player of the Windows build, under Wine: what DirectSound plays
into a private PulseAudio null sink must be the decoded track, sample for
sample, and without any audio server sound initialisation must fail."""

import array
import math
import os
import random
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import wave

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import headless  # noqa: E402

WINDOWS_BIN = os.environ.get("VIRIZ_WINDOWS_BIN",
                             os.path.join(headless.REPO, "build", "windows", "bin"))
PROGRAM = os.path.join(WINDOWS_BIN, "audio_player_test.exe")
BYTES_PER_SECOND = 176400
BLOCK = BYTES_PER_SECOND // 100  # 10 ms
WINDOW = BYTES_PER_SECOND // 10  # how far a glitch may move the track: 100 ms


def make_track(workdir, seconds):
    """Writes data/track.ogg (a sweeping tone over a little noise) and returns
    what vorbisfile decodes from it (oggdec -R gives the same bytes)."""
    rng = random.Random(7)
    frames = bytearray()
    phase = 0.0
    for i in range(int(seconds * 44100)):
        phase += 2 * math.pi * (220 + 180 * i / 44100) / 44100
        hiss = (rng.random() - 0.5) * 0.05
        frames += struct.pack("<hh", int(32767 * (0.4 * math.sin(phase) + hiss)),
                              int(32767 * (0.4 * math.sin(1.5 * phase) - hiss)))
    os.makedirs(os.path.join(workdir, "data"), exist_ok=True)
    wav = os.path.join(workdir, "track.wav")
    with wave.open(wav, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(44100)
        out.writeframes(bytes(frames))
    ogg = os.path.join(workdir, "data", "track.ogg")
    subprocess.run(["oggenc", "-Q", "-q", "3", "-o", ogg, wav], check=True)
    raw = os.path.join(workdir, "track.raw")
    subprocess.run(["oggdec", "-Q", "-R", "-o", raw, ogg], check=True)
    with open(raw, "rb") as f:
        return f.read()


def close(played, expected):
    """Equal to within one unit per sample: Wine's DirectSound mixes in
    floating point and now and then rounds a sample the other way."""
    if played == expected:
        return True
    if len(played) != len(expected) or len(played) % 2:
        return False
    return all(abs(a - b) <= 1 for a, b in zip(array.array("h", played), array.array("h", expected)))


def locate(haystack, source, pos, search_from=0, search_to=None):
    """Where the block of source at pos lies in haystack[search_from:search_to],
    found by short probes (a long one would rarely come through without a
    rounded sample); None when it is not there."""
    for skip in range(0, WINDOW, 256):
        probe = source[pos + skip:pos + skip + 128]
        if len(probe) < 128 or not any(probe):
            continue
        at = haystack.find(probe, search_from, search_to or len(haystack))
        start = at - skip
        if at >= 0 and start % 2 == 0 and close(haystack[start:start + BLOCK],
                                                 source[pos:pos + BLOCK]):
            return start
    return None


def follow_track(recording, reference, rec_pos, ref_pos, ref_end):
    """Walks the recording alongside the track in 10 ms blocks from a matching
    pair of positions. Where the block differs, the platform may have dropped or
    delayed a few milliseconds: the walk picks the track up again within 100 ms.
    Anything else (stale or misplaced audio) fails. Returns the glitch count."""
    glitches = 0
    while ref_pos < ref_end:
        if close(recording[rec_pos:rec_pos + BLOCK], reference[ref_pos:ref_pos + BLOCK]):
            rec_pos += BLOCK
            ref_pos += BLOCK
            continue
        glitches += 1
        for ahead in range(0, WINDOW, BLOCK // 2):
            at = locate(reference, recording, rec_pos + ahead, max(0, ref_pos - WINDOW),
                        ref_pos + 2 * WINDOW)
            if at is None:
                continue
            # The platform drops or inserts time; audio in the track's own
            # place that is not the track was written there by the player.
            skipped = recording[rec_pos:rec_pos + ahead]
            if at - (rec_pos + ahead) == ref_pos - rec_pos and any(skipped):
                raise AssertionError(f"other audio in place of the track at "
                                     f"{ref_pos / BYTES_PER_SECOND:.3f} s")
            rec_pos, ref_pos = rec_pos + ahead, at
            break
        else:
            raise AssertionError(f"the recording leaves the track at "
                                 f"{ref_pos / BYTES_PER_SECOND:.3f} s")
    return glitches


@unittest.skipUnless(os.path.exists(PROGRAM), "the Windows build has no audio_player_test.exe")
class WindowsMusicPlayerTest(unittest.TestCase):
    def run_program(self, args, workdir, env, timeout=120):
        """Runs the program to its end; returns (exit code, its output). The
        output goes to files: Wine's helper processes inherit the standard
        streams and outlive the program, so a pipe would never close."""
        with tempfile.TemporaryFile("w+") as out:
            result = subprocess.run(["wine", PROGRAM] + args, cwd=workdir, env=env,
                                    timeout=timeout, stdout=out, stderr=subprocess.STDOUT,
                                    text=True)
            out.seek(0)
            return result.returncode, out.read()

    def test_plays_the_decoded_track(self):
        play_seconds = 6
        compared = 5 * BYTES_PER_SECOND
        with headless.temp_dir() as workdir, headless.Xvfb("640x480x24") as xvfb, \
                headless.PulseAudio(workdir) as pulse, headless.WinePrefix() as wine:
            reference = make_track(workdir, play_seconds + 2)
            env = dict(os.environ, **xvfb.env, **pulse.env, **wine.env)
            recording_path = os.path.join(workdir, "recording.raw")
            with pulse.record(recording_path):
                time.sleep(2.5)
                status, output = self.run_program(["play", str(play_seconds)], workdir, env)
                time.sleep(0.5)
            self.assertEqual(status, 0, output)
            with open(recording_path, "rb") as f:
                recording = f.read()

        # The platform may cut the first milliseconds; from 0.1 s on the
        # recording must follow the track for five seconds, through several
        # turns of the one-second buffer, with at most a few platform glitches.
        start = BYTES_PER_SECOND // 10
        rec_pos = locate(recording, reference, start)
        self.assertIsNotNone(rec_pos, "the track was not found in the recording")
        glitches = follow_track(recording, reference, rec_pos, start, start + compared)
        self.assertLessEqual(glitches, 3)

    def test_no_audio_server_fails_initialisation(self):
        with headless.temp_dir() as workdir, headless.Xvfb("640x480x24") as xvfb, \
                headless.WinePrefix() as wine:
            env = dict(os.environ, **xvfb.env, **wine.env)
            env["PULSE_SERVER"] = "unix:" + os.path.join(workdir, "no-such-server")
            status, output = self.run_program(["no-device"], workdir, env)
            self.assertEqual(status, 0, output)
            self.assertIn("initSound failed", output)


if __name__ == "__main__":
    unittest.main()
