"""The music player of the Windows build, under Wine: what DirectSound plays
into a private PulseAudio null sink must be the decoded track, sample for
sample, and without any audio server sound initialisation must fail."""

import math
import os
import random
import struct
import subprocess
import sys
import unittest
import wave

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from demo import WINDOWS_BIN, demo_context, headless  # noqa: E402  (also puts tests/support on the path)
from audio_match import BYTES_PER_SECOND, follow_track, glitches_allowed, locate  # noqa: E402

PROGRAM = os.path.join(WINDOWS_BIN, "audio_player_test.exe")


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


@unittest.skipUnless(os.path.exists(PROGRAM), "the Windows build has no audio_player_test.exe")
class WindowsMusicPlayerTest(unittest.TestCase):
    def test_plays_the_decoded_track(self):
        play_seconds = 6
        compared = 5 * BYTES_PER_SECOND
        with headless.temp_dir() as workdir, \
                demo_context("windows", program=PROGRAM, args=["play", str(play_seconds)],
                             workdir=workdir) as player:
            reference = make_track(workdir, play_seconds + 2)
            recording_path = os.path.join(workdir, "recording.raw")
            # The platform may cut the first milliseconds; from 0.1 s on the
            # recording must follow the track for five seconds, through several
            # turns of the one-second buffer, with at most a few platform glitches.
            start = BYTES_PER_SECOND // 10

            def recorded():
                with open(recording_path, "rb") as f:
                    recording = f.read()
                at = locate(recording, reference, start)
                done = at is not None and len(recording) >= at + compared + BYTES_PER_SECOND // 2
                return recording if done else None

            with player.sound.record(recording_path):
                status, out, err = player.run()
                # What the program played last may still be on its way.
                recording = headless.wait_for(recorded, 30, 0.1, "the track in the recording")
            self.assertEqual(status, 0, out + err)

        rec_pos = locate(recording, reference, start)
        self.assertIsNotNone(rec_pos, "the track was not found in the recording")
        glitches = follow_track(recording, reference, rec_pos, start, start + compared)
        self.assertLessEqual(glitches, glitches_allowed(compared / BYTES_PER_SECOND))

    def test_no_audio_server_fails_initialisation(self):
        with headless.temp_dir() as workdir:
            nowhere = {"PULSE_SERVER": "unix:" + os.path.join(workdir, "no-such-server")}
            with demo_context("windows", sound=None, extra_env=nowhere, program=PROGRAM,
                              args=["no-device"], workdir=workdir) as player:
                status, out, err = player.run()
            self.assertEqual(status, 0, out + err)
            self.assertIn("initSound failed", out + err)


if __name__ == "__main__":
    unittest.main()
