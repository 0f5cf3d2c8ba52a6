"""Measures, from outside, how far the picture of a running build is ahead of
its sound, the way a viewer would notice it.

The visual event is one whose time the show defines exactly: the logo overlay
appears in the first frame whose clock reads past beat 32 (9.6 s). With a
white logo, a black environment texture and a small mesh in the data set, that
frame turns the screen from black to white. A thread reads one pixel of the
X server's screen about every millisecond and stamps the change with the
monotonic clock; the server shows what the program swapped at once (no
compositor, no vertical sync), so the stamp is late by one read at most.

The sound is a track of noise, so that any tenth of a second of it is found
sample for sample in a recording. Two recorders with different latencies
read the null sink's monitor; each stamps its reads with the monotonic clock.
The earliest a byte can arrive is when the sink renders it, so the lower
envelope of (arrival - bytes / rate) over all reads gives the time at which
the recording began; the two recorders' delays differ by their buffering, so
agreement between them bounds what is left.

Offset = (when the track's 9.6 s was heard) - (when the frame for 9.6 s was
shown). Positive: the picture is ahead of the sound."""

import ctypes
import contextlib
import os
import random
import shutil
import struct
import subprocess
import threading
import time
import wave

from demo import LINUX_BIN, Demo, headless  # also puts tests/support on the path
from audio_match import BYTES_PER_SECOND, locate  # noqa: E402

EVENT_SECONDS = 9.6  # beat 32: the first frame with the logo overlay
TRACK_SECONDS = 12.0
PASSWORD = "kvernsteik"
FIXTURE_MESH = os.path.join(headless.REPO, "fuzz", "seeds", "fuzz_mesh_load", "cube.mesh")


def make_data_set(directory):
    """A data set for the measurement in directory: data.dat with a noise
    track, and data/ with a white logo, white credits, a black environment
    texture and a small mesh (fast frames: the frame period bounds how late
    the first logo frame can be)."""
    data = os.path.join(directory, "data")
    os.makedirs(data, exist_ok=True)
    for name, colour in (("logo.png", "white"), ("creds.png", "white"), ("tex.png", "black")):
        subprocess.run(["convert", "-size", "64x64", f"xc:{colour}", "-type", "TrueColor",
                        f"PNG24:{os.path.join(data, name)}"], check=True, timeout=60)
    shutil.copy(FIXTURE_MESH, os.path.join(data, "viriz.mesh"))

    wav = os.path.join(directory, "noise.wav")
    noise = random.Random(1234)
    frames = int(TRACK_SECONDS * 44100)
    samples = [noise.randint(-9000, 9000) for _ in range(2 * frames)]
    with wave.open(wav, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(44100)
        out.writeframes(struct.pack(f"<{len(samples)}h", *samples))
    ogg = os.path.join(directory, "kelvo.ogg")
    subprocess.run(["oggenc", "-Q", "-q", "3", "-o", ogg, wav], check=True, timeout=120)
    subprocess.run([os.path.join(LINUX_BIN, "viriz-pack"), "create", "data.dat", "-p", PASSWORD,
                    "kelvo.ogg"], cwd=directory, check=True, capture_output=True, timeout=120)
    decoded = subprocess.run(["oggdec", "-Q", "-R", "-o", "-", ogg], capture_output=True,
                             check=True, timeout=120).stdout
    for name in ("noise.wav", "kelvo.ogg"):
        os.remove(os.path.join(directory, name))
    return decoded


class PixelWatch:
    """Reads the pixel at the centre of the screen until it turns bright, and
    keeps when that happened: halfway between the last dark read and the
    first bright one."""

    def __init__(self, display_name):
        self.display_name = display_name
        self.bright_at = None
        self.reads = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(10)

    def _run(self):
        xlib = ctypes.CDLL("libX11.so.6")
        xlib.XOpenDisplay.restype = ctypes.c_void_p
        xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        xlib.XDefaultRootWindow.restype = ctypes.c_ulong
        xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        xlib.XGetImage.restype = ctypes.c_void_p
        xlib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                   ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        xlib.XGetPixel.restype = ctypes.c_ulong
        xlib.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        xlib.XDestroyImage.argtypes = [ctypes.c_void_p]
        xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        display = xlib.XOpenDisplay(self.display_name.encode())
        root = xlib.XDefaultRootWindow(display)
        z_pixmap, all_planes = 2, 0xFFFFFFFF
        last_dark = None
        try:
            while not self._stop.is_set():
                image = xlib.XGetImage(display, root, 320, 240, 1, 1, all_planes, z_pixmap)
                now = time.monotonic()
                pixel = xlib.XGetPixel(image, 0, 0)
                xlib.XDestroyImage(image)
                self.reads += 1
                bright = min((pixel >> 16) & 255, (pixel >> 8) & 255, pixel & 255) > 128
                if not bright:
                    last_dark = now
                elif last_dark is not None:
                    self.bright_at = (last_dark + now) / 2
                    return
                time.sleep(0.0005)
        finally:
            xlib.XCloseDisplay(display)


class TimedRecorder:
    """parec on the null sink's monitor at a given latency, with every read
    stamped by the monotonic clock."""

    def __init__(self, pulse, latency_ms):
        self.pulse = pulse
        self.latency_ms = latency_ms
        self.data = bytearray()
        self.reads = []  # (arrival time, bytes received by then)
        self.process = None
        self._thread = None

    def __enter__(self):
        env = dict(os.environ, **self.pulse.env)
        self.process = subprocess.Popen(
            ["parec", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
             f"--latency-msec={self.latency_ms}", "-d", "null.monitor"],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()
        return self

    def _read(self):
        fd = self.process.stdout.fileno()
        while True:
            chunk = os.read(fd, 1 << 16)
            if not chunk:
                return
            now = time.monotonic()
            self.data += chunk
            self.reads.append((now, len(self.data)))

    def __exit__(self, *exc):
        headless._stop(self.process)
        self._thread.join(10)
        self.process.stdout.close()

    def streaming(self):
        return len(self.data) >= BYTES_PER_SECOND // 10

    def start_time(self):
        """When the first recorded byte was rendered: the lower envelope of
        arrival minus the time the bytes received by then take to play."""
        return min(at - count / BYTES_PER_SECOND for at, count in self.reads)

    def time_of(self, reference, position):
        """Monotonic time at which the track's byte `position` was rendered,
        or None when the recording does not hold it."""
        at = locate(bytes(self.data), reference, position)
        return None if at is None else self.start_time() + at / BYTES_PER_SECOND


def measure(platform, workdir, extra_env=None, new_prefix=False):
    """Runs one build on the measurement data set in workdir (made by
    make_data_set) until the logo has shown and been heard. Returns the
    offsets in milliseconds, one per recorder: positive, picture ahead.
    new_prefix: the Windows build runs in a Wine prefix that does not exist
    yet (in workdir), as on a user's first run."""
    reference = make_data_set(workdir)
    position = int(EVENT_SECONDS * 44100) * 4
    with headless.Xvfb("640x480x24") as xvfb, \
            headless.PulseAudio(os.path.join(workdir, "pulse")) as pulse:
        wine = None
        if platform == "windows":
            wine = headless.WinePrefix(os.path.join(workdir, "wine-prefix"), new=True) \
                if new_prefix else headless.WinePrefix()
        with (wine or contextlib.nullcontext()), TimedRecorder(pulse, 5) as fast, \
                TimedRecorder(pulse, 40) as slow:
            headless.wait_for(lambda: fast.streaming() and slow.streaming(), 60, 0.02,
                              "the recorders to deliver sound")
            env = dict(pulse.env, **(extra_env or {}))
            demo = Demo(platform, xvfb, workdir=workdir, extra_env=env, wine=wine)
            demo.start()
            try:
                # A new prefix is made before the program starts: about 12 s
                # on two free cores, much longer on a busy machine.
                window = demo.window(300 if new_prefix else 60)
                with PixelWatch(xvfb.display) as watch:
                    headless.wait_for(lambda: watch.bright_at or demo.ended(), 120, 0.05,
                                      "the logo")
                if watch.bright_at is None:
                    raise AssertionError("the demo ended before the logo showed")
                # Half a second more of sound, so that the recorders hold 9.6 s.
                headless.wait_for(
                    lambda: all(r.time_of(reference, position + BYTES_PER_SECOND // 2)
                                for r in (fast, slow)), 60, 0.25, "the sound of the logo")
                demo.press_escape(window)
                demo.finish()
            finally:
                demo.stop()
    return [round(1000 * (r.time_of(reference, position) - watch.bright_at), 1)
            for r in (fast, slow)]


def main():
    import argparse
    import statistics
    parser = argparse.ArgumentParser(description="Prints how far the picture is ahead of the "
                                     "sound (ms, positive: picture first), per run and build.")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--new-prefix", action="store_true",
                        help="run the Windows build in a new Wine prefix each time")
    parser.add_argument("platforms", nargs="*", default=["linux", "windows"])
    args = parser.parse_args()
    for platform in args.platforms:
        medians = []
        for run in range(args.runs):
            with headless.temp_dir("viriz-sync-") as workdir:
                offsets = measure(platform, workdir, new_prefix=args.new_prefix)
            medians.append(statistics.mean(offsets))
            print(f"{platform} run {run + 1}: {offsets[0]:+.1f} ms (5 ms recorder), "
                  f"{offsets[1]:+.1f} ms (40 ms recorder)", flush=True)
        print(f"{platform}: median {statistics.median(medians):+.1f} ms over {args.runs} runs",
              flush=True)


if __name__ == "__main__":
    main()
