"""Measures the playback keys of a running build from outside: how long a seek
takes from the key press to the first frame of the new position, playing and
paused, and the program's CPU use paused against playing.

It runs the build under Xvfb and a private PulseAudio on the sync
measurement's data set, whose screen is dark before 9.6 s of the show and
white from then to 48 s. Home (to 0 s: dark) and Right twice (to 10 s:
white) are pressed in turn; a thread reads the centre pixel of every frame
(sync.PixelWatch), and a seek's time runs from just before the key press is
sent (xdotool) to the first frame read that shows the new picture.
CPU use is the program's user and system time from /proc over 5 s of
playing, then 5 s of pausing. Prints the figures; asserts nothing."""

import argparse
import os
import statistics
import time

import sync
from demo import demo_context, headless

ROUNDS = 5
CPU_SECONDS = 5.0


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_share(pid, seconds):
    """The share of one core the process used over `seconds` (the sleep is
    the measuring period itself)."""
    before, start = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(pid) - before) / (time.monotonic() - start)


def seek_time(xvfb, window, watch, keys, bright):
    """Seconds from sending `keys` to the first read showing the screen
    `bright` (or not)."""
    changes = len(watch.changes)
    sent = time.monotonic()
    xvfb.run(["xdotool", "key", "--window", str(window)] + keys.split(), check=True, timeout=30)
    change = headless.wait_for(
        lambda: next((c for c in watch.changes[changes:] if c.bright == bright), None), 30, 0.001,
        "the new position's frame")
    # The frame read that showed it, not the middle between it and the one before.
    return change.at + change.spread - sent


def measure(platform, workdir):
    sync.make_data_set(workdir)
    figures = {"playing": [], "paused": []}
    with demo_context(platform, workdir=workdir, args=["--start-at", "12"]) as demo, \
            demo.sound.record(os.path.join(workdir, "rec.raw")):
        xvfb = demo.xvfb
        demo.start()
        window = demo.window(timeout=240)
        pid = demo.program_process()
        with sync.PixelWatch(xvfb.display) as watch:
            headless.wait_for(lambda: watch.changes and watch.changes[-1].bright, 60, 0.01,
                              "the logo")
            playing = cpu_share(pid, CPU_SECONDS)
            # The window has the focus from here on.
            xvfb.run(["xdotool", "windowfocus", "--sync", str(window)], check=True, timeout=30)
            for state in ("playing", "paused"):
                if state == "paused":
                    xvfb.key("space", window)
                for _ in range(ROUNDS):
                    figures[state].append(seek_time(xvfb, window, watch, "Home", False))
                    figures[state].append(seek_time(xvfb, window, watch, "Right Right", True))
            paused = cpu_share(pid, CPU_SECONDS)
        demo.press_escape(window)
        demo.finish()
    return figures, playing, paused


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("platform", nargs="?", default="linux", choices=("linux", "windows"))
    args = parser.parse_args()
    with headless.temp_dir("viriz-controls-") as workdir:
        figures, playing, paused = measure(args.platform, workdir)
    for state, times in figures.items():
        ms = sorted(1000 * t for t in times)
        print(f"{args.platform} seek while {state}: median {statistics.median(ms):.1f} ms, "
              f"worst {ms[-1]:.1f} ms over {len(ms)} seeks ({', '.join(f'{t:.0f}' for t in ms)})")
    print(f"{args.platform} CPU: playing {100 * playing:.1f} % of a core, "
          f"paused {100 * paused:.1f} %")


if __name__ == "__main__":
    main()
