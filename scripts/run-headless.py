#!/usr/bin/env python3
"""Plays the show on a private X server and a null sound sink for its whole
length, then saves screenshots and the recorded sound:
    run-headless.py BIN_DIR OUT_DIR [--seconds S]"""

import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "support"))
import headless  # noqa: E402

SHOW_SECONDS = 80.0
SCREENSHOT_TIMES = (3.0, 15.0, 35.0, 55.0, 75.0)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("bin_dir")
    parser.add_argument("out_dir")
    parser.add_argument("--seconds", type=float, default=SHOW_SECONDS)
    args = parser.parse_args()
    args.bin_dir = os.path.abspath(args.bin_dir)
    os.makedirs(args.out_dir, exist_ok=True)
    recording = os.path.join(args.out_dir, "recording.raw")

    with headless.temp_dir() as tmp, headless.Xvfb("640x480x24") as xvfb, \
            headless.PulseAudio(tmp) as pulse, pulse.record(recording):
        time.sleep(2.5)  # let the idle sink settle at the recorder's latency
        env = dict(os.environ, **xvfb.env, **pulse.env)
        demo = subprocess.Popen([os.path.join(args.bin_dir, "viriz")], cwd=args.bin_dir, env=env)
        start = time.monotonic()
        shots = []
        for at in (t for t in SCREENSHOT_TIMES if t < args.seconds):
            time.sleep(max(0.0, start + at - time.monotonic()))
            if demo.poll() is not None:
                break
            path = os.path.join(args.out_dir, f"screenshot-{at:05.1f}s.png")
            xvfb.screenshot(path)
            shots.append(path)
        time.sleep(max(0.0, start + args.seconds - time.monotonic()))
        if demo.poll() is None:
            xvfb.key("Escape")
        code = demo.wait(30)

    wav = os.path.join(args.out_dir, "recording.wav")
    subprocess.run(["sox", "-t", "raw", "-r", "44100", "-e", "signed", "-b", "16", "-c", "2",
                    recording, wav], check=True)
    os.remove(recording)
    print(f"viriz exited with code {code}")
    for path in shots + [wav]:
        print("saved", path)
    return code


if __name__ == "__main__":
    sys.exit(main())
