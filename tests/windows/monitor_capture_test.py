"""The listener of the Windows build under Wine records the default output's
monitor, known by what Wine's audio layer says of it, never a device that is
only named like one: here a virtual source (a microphone to Wine) described
"Monitor of PulseAudio", Wine's name for the output that follows the server's
default sink. Where the default output's own monitor cannot be told, nothing
is recorded. Asked of the sound server: which source the program records."""

import os
import subprocess
import time
import unittest

from playback_log_test import windows_path
from audio_player_test import WINDOWS_BIN
from demo import demo_context, headless  # on the path through audio_player_test

PROGRAM = os.path.join(WINDOWS_BIN, "monitor_capture_test.exe")
FAKE_MONITOR = "Monitor of PulseAudio"


def pactl(server, *args):
    return subprocess.run(["pactl", *args], env=dict(os.environ, **server.env), check=True,
                          capture_output=True, text=True, timeout=30).stdout


def recorded_sources(server):
    """The names of the sources that some client records (a recording that
    the server has not linked to a source yet is left out)."""
    rows = [line.split("\t") for line in pactl(server, "list", "short", "sources").splitlines()]
    names = {row[0]: row[1] for row in rows}
    outputs = [line.split("\t") for line in pactl(server, "list", "short", "source-outputs")
               .splitlines()]
    return [names[output[1]] for output in outputs if output[1] in names]


def listen(sound, *modules):
    """Runs the program on a private sound server with `modules` loaded
    (pactl load-module arguments each); returns (the sources it recorded,
    its output)."""
    with headless.temp_dir() as workdir:
        stop = os.path.join(workdir, "stop")
        with demo_context("windows", sound=sound, program=PROGRAM, args=[windows_path(stop)],
                          workdir=workdir) as program:
            for module in modules:
                pactl(program.sound, "load-module", *module)
            program.start()

            # What it records once that has held for a second: PipeWire's
            # session manager links a new recording a moment after it starts.
            changes = []

            def settled():
                if program.ended():
                    return ([],)
                recorded = recorded_sources(program.sound)
                if not changes or changes[-1][1] != recorded:
                    changes.append((time.monotonic(), recorded))
                held = time.monotonic() - changes[-1][0] >= 1.0
                return (recorded,) if recorded and held else None
            (recorded,) = headless.wait_for(settled, 120, 0.1, "the program to record or not")
            open(stop, "w").close()
            status, out, err = program.finish(60)
    assert status == 0, out + err
    return recorded, out + err


@unittest.skipUnless(os.path.exists(PROGRAM), "the Windows build has no monitor_capture_test.exe")
class MonitorCaptureTest(unittest.TestCase):
    def test_records_the_sinks_monitor_not_a_source_named_like_one(self):
        recorded, output = listen(headless.PulseAudio, (
            "module-null-source", "source_name=fake", "rate=44100",
            f'description="{FAKE_MONITOR}"'))
        self.assertEqual(recorded, ["null.monitor"], output)

    def test_the_same_on_pipewire(self):
        recorded, output = listen(headless.PipeWire, (
            "module-null-sink", "sink_name=fake", "media.class=Audio/Source/Virtual",
            f"sink_properties='device.description=\"{FAKE_MONITOR}\"'"))
        self.assertEqual(recorded, ["null.monitor"], output)

    def test_records_nothing_when_the_outputs_monitor_cannot_be_told(self):
        # Two sinks: which one the server's default is, Wine does not say.
        recorded, output = listen(headless.PulseAudio, (
            "module-null-sink", "sink_name=other", "rate=44100"))
        self.assertEqual(recorded, [], output)
        self.assertIn("not listening: several outputs", output)


if __name__ == "__main__":
    unittest.main()
