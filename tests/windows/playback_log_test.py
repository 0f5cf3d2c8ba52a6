"""The DirectSound backend's diagnostic log under Wine: its pure parts (the
count of bytes written, the line format) in a small Windows program, and the
log of a real playback, which must tell a consistent story: refills that
start where the last one stopped, a play cursor that never runs ahead of real
time, the audio layer's figures, and a clean end. A log that cannot be opened
must not keep the music from playing."""

import os
import re
import unittest

from audio_player_test import PROGRAM as PLAYER, WINDOWS_BIN, make_track
from demo import demo_context, headless  # on the path through audio_player_test

PROGRAM = os.path.join(WINDOWS_BIN, "playback_log_test.exe")
BUFFER_BYTES = 176400


def windows_path(path):
    """The path as a Windows program under Wine sees it (drive Z: is /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_program(program, args, workdir, log_path=None, sound=headless.PulseAudio):
    """Runs a Windows program to its end, with VIRIZ_AUDIO_LOG naming
    log_path when given; returns (exit code, its output)."""
    # The trace's own audio client is asked for, so that its lines are checked too.
    env = ({"VIRIZ_AUDIO_LOG": windows_path(log_path), "VIRIZ_AUDIO_LOG_CLIENT": "1"}
           if log_path else {})
    with demo_context("windows", sound=sound, extra_env=env, program=program, args=args,
                      workdir=workdir) as demo:
        status, out, err = demo.run(180)
    return status, out + err


def parse(log_text):
    """[(seconds, event, fields)] for each line of a log."""
    lines = []
    for line in log_text.splitlines():
        at, _, rest = line.partition(" ")
        event, _, fields = rest.partition(" ")
        lines.append((float(at), event, fields))
    return lines


@unittest.skipUnless(os.path.exists(PROGRAM), "the Windows build has no playback_log_test.exe")
class PlaybackLogTest(unittest.TestCase):
    def test_pure_parts(self):
        with headless.temp_dir() as workdir:
            scratch = os.path.join(workdir, "scratch.log")
            status, output = run_program(PROGRAM, [windows_path(scratch)], workdir, sound=None)
            self.assertEqual(status, 0, output)
            self.assertIn("0 failures", output)

    def test_log_of_a_playback(self):
        with headless.temp_dir() as workdir:
            make_track(workdir, 5)
            log_path = os.path.join(workdir, "audio.log")
            status, output = run_program(PLAYER, ["play", "3"], workdir, log_path)
            self.assertEqual(status, 0, output)
            with open(log_path) as f:
                lines = parse(f.read())

            times = [at for at, _, _ in lines]
            self.assertEqual(times, sorted(times), "lines out of time order")
            self.assertRegex(lines[0][1] + " " + lines[0][2],
                             r"^created wine 1 latency [1-9]\d* primary [1-9]\d* bytes$")
            self.assertEqual(lines[-1][1], "released")
            events = [event for _, event, _ in lines]
            self.assertEqual(events.count("play"), 1)
            self.assertLess(events.index("lock"), events.index("play"))

            play_at = times[events.index("play")]
            refills = 0
            last_written = 0
            cursor = None
            for at, event, fields in lines:
                if event in ("tick", "refill", "play"):
                    play, write = map(int, re.match(r"play (\d+) write (\d+)", fields).groups())
                    self.assertLess(play, BUFFER_BYTES)
                    self.assertLess(write, BUFFER_BYTES)
                    cursor = play
                if event == "lock" and fields.startswith("at "):
                    offset, written = map(int, re.match(r"at (\d+) bytes \d+ written (\d+)$",
                                                        fields).groups())
                    self.assertEqual(written % BUFFER_BYTES, offset)
                    self.assertGreaterEqual(written, last_written)
                    last_written = written
                    # What the cursor has passed since playback began: never
                    # more than the time that has gone by (the output may
                    # stall, it must not run ahead).
                    played = written + (cursor - offset) % BUFFER_BYTES - BUFFER_BYTES
                    self.assertGreaterEqual(played, 0)
                    self.assertLessEqual(played / BUFFER_BYTES, at - play_at + 0.05)
                    refills += 1
            self.assertGreaterEqual(refills, 10)
            self.assertGreater(last_written, 2 * BUFFER_BYTES)
            clients = [fields for _, event, fields in lines if event == "client"]
            self.assertTrue(clients[0].startswith("started buffer "), clients[0])
            self.assertTrue(any(f.startswith("position ") for f in clients[1:]))

    def test_a_log_that_cannot_be_opened_leaves_the_music_playing(self):
        with headless.temp_dir() as workdir:
            make_track(workdir, 3)
            status, output = run_program(PLAYER, ["play", "1"], workdir,
                                         os.path.join(workdir, "no-such-dir", "a.log"))
            self.assertEqual(status, 0, output)


if __name__ == "__main__":
    unittest.main()
