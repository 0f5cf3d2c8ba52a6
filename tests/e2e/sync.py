"""Measures, from outside, how far the picture of a running build is ahead of
its sound, the way a viewer would notice it: early in the show, late in it,
and after the program has been frozen for a moment.

The picture. With the measurement data set (a white logo, white credits, a
black environment texture and a small mesh) the centre of the screen is dark
until the logo overlay shows, in the first frame whose clock reads past beat
32 (9.6 s), and white from then until the credits replace the logo at beat
160 (48.0 s). The credits are dark for two beats, then flash four times a
beat for two beats, and so on. A flash ramps up with the square of its
quarter beat's fraction and ends at once: its end (white to black) is as
exact as the logo's start, its start is not. A thread reads the centre pixel
of the X server's screen about every millisecond and stamps each change
between dark and bright with the monotonic clock, halfway between the reads
either side of it; the server shows what the program swapped at once (no
compositor, no vertical sync), so a stamp is late by one read at most.

The events, in seconds of the show:
  early         the logo appears (9.6)
  late          the logo goes (48.0), and the ends of the eight flashes of
                beats 162-164 (48.675 to 49.2)
  after freeze  the program is stopped (SIGSTOP) for 300 ms at 49.35, in the
                dark beats 164-166, and continued (SIGCONT), as a busy machine
                or a device hiccup would do; then the ends of the eight
                flashes of beats 174-176 (52.275 to 52.8), 3 s later
Each group's figure is the median over its events, so that one frame drawn
late does not decide it.

The sound is a track of noise, so that any fiftieth of a second of it is
found in a recording by cross-correlation with the decoded track: exactly
where the recording is the track sample for sample (PulseAudio), and to a
fraction of a sample where it is not (PipeWire's graph runs at 48 kHz, so
the sound is resampled on its way to the sink and again to the recorder).
Two recorders with different latencies read the null sink's monitor; each
stamps its reads with the monotonic clock. The earliest a byte can arrive
is when the sink renders it, so the lower envelope of (arrival - bytes /
rate) over all reads gives the time at which the recording began; the two
recorders' delays differ by their buffering, so agreement between them
bounds what is left.

Offset = (when the track's moment of an event was heard) - (when the frame
for it was shown). Positive: the picture is ahead of the sound."""

import contextlib
import os
import shutil
import signal
import statistics
import subprocess
import threading
import time
import ctypes
import wave

import numpy

from demo import LINUX_BIN, Demo, headless  # also puts tests/support on the path
from audio_match import BYTES_PER_SECOND  # noqa: E402

RATE = 44100
PASSWORD = "kvernsteik"
FIXTURE_MESH = os.path.join(headless.REPO, "fuzz", "seeds", "fuzz_mesh_load", "cube.mesh")

QUARTER_BEAT = 0.075
EARLY = 9.6  # beat 32: the first frame with the logo overlay
LOGO_END = 48.0  # beat 160: the credits, dark for two beats, replace the logo
CREDITS_FLASHES = 1.2  # the credits repeat every four beats: two dark, two flashing
FREEZE_AT = 49.35  # in the dark beats 164-166
FREEZE_SECONDS = 0.3


def flash_ends(last):
    """The ends of the eight flashes of the two beats that end at `last`."""
    return [round(last - QUARTER_BEAT * n, 3) for n in range(8)]


LATE_FLASHES = flash_ends(49.2)  # beats 162-164
AFTER_FREEZE_FLASHES = flash_ends(52.8)  # beats 174-176
GROUPS = {"early": [EARLY], "late": [LOGO_END] + LATE_FLASHES,
          "after freeze": AFTER_FREEZE_FLASHES}
TRACK_SECONDS = 55.0  # the last event, a second of sound after it, and some room

# platform, sound server, Wine prefix: a new one, made by the program's
# start as on a viewer's first run, or the warm one under build/.
CASES = {
    "linux-pulse": ("linux", "pulse", None),
    "linux-pipewire": ("linux", "pipewire", None),
    "windows-pulse-new": ("windows", "pulse", "new"),
    "windows-pulse-warm": ("windows", "pulse", "warm"),
    "windows-pipewire-new": ("windows", "pipewire", "new"),
    "windows-pipewire-warm": ("windows", "pipewire", "warm"),
}
SERVERS = {"pulse": headless.PulseAudio, "pipewire": headless.PipeWire}


def make_data_set(directory):
    """A data set for the measurement in directory: data.dat with a noise
    track, and data/ with a white logo, white credits, a black environment
    texture and a small mesh (fast frames: the frame period bounds how late
    the first frame of an event can be). Returns the track as the program
    decodes it: frames of two 16-bit samples."""
    data = os.path.join(directory, "data")
    os.makedirs(data, exist_ok=True)
    for name, colour in (("logo.png", "white"), ("creds.png", "white"), ("tex.png", "black")):
        subprocess.run(["convert", "-size", "64x64", f"xc:{colour}", "-type", "TrueColor",
                        f"PNG24:{os.path.join(data, name)}"], check=True, timeout=60)
    shutil.copy(FIXTURE_MESH, os.path.join(data, "viriz.mesh"))

    wav = os.path.join(directory, "noise.wav")
    noise = numpy.random.default_rng(1234).integers(-9000, 9001, (int(TRACK_SECONDS * RATE), 2),
                                                    dtype="<i2")
    with wave.open(wav, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(noise.tobytes())
    ogg = os.path.join(directory, "kelvo.ogg")
    subprocess.run(["oggenc", "-Q", "-q", "3", "-o", ogg, wav], check=True, timeout=120)
    subprocess.run([os.path.join(LINUX_BIN, "viriz-pack"), "create", "data.dat", "-p", PASSWORD,
                    "kelvo.ogg"], cwd=directory, check=True, capture_output=True, timeout=120)
    decoded = subprocess.run(["oggdec", "-Q", "-R", "-o", "-", ogg], capture_output=True,
                             check=True, timeout=120).stdout
    for name in ("noise.wav", "kelvo.ogg"):
        os.remove(os.path.join(directory, name))
    return frames_of(decoded)


def frames_of(raw):
    """Raw s16le stereo as an array of frames (whole frames only)."""
    return numpy.frombuffer(raw, "<i2", len(raw) // 4 * 2).reshape(-1, 2)


class PixelWatch:
    """Reads the pixel at the centre of the screen until the block ends and
    keeps each change between dark and bright as (time, bright): halfway
    between the last read before it and the first read after it."""

    def __init__(self, display_name):
        self.display_name = display_name
        self.changes = []
        self.reads = 0
        self.last_read = None
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(10)

    def logo_shown(self):
        """When the logo showed, once the screen has been bright for a
        second since it turned bright last (the logo stays for 38 s), or
        None."""
        changes = self.changes[-1:]
        if changes and changes[0][1] and self.last_read - changes[0][0] > 1.0:
            return changes[0][0]
        return None

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
        was_bright = None
        try:
            while not self._stop.is_set():
                image = xlib.XGetImage(display, root, 320, 240, 1, 1, all_planes, z_pixmap)
                now = time.monotonic()
                pixel = xlib.XGetPixel(image, 0, 0)
                xlib.XDestroyImage(image)
                self.reads += 1
                # Half of white: a flash is bright in the last 22 ms of its 75.
                bright = min((pixel >> 16) & 255, (pixel >> 8) & 255, pixel & 255) > 128
                if was_bright is not None and bright != was_bright:
                    self.changes.append(((self.last_read + now) / 2, bright))
                was_bright = bright
                self.last_read = now
                time.sleep(0.0005)
        finally:
            xlib.XCloseDisplay(display)


def picture_times(changes, watched_until, resumed_at):
    """When the frame of each event showed: {show second: monotonic time},
    from a PixelWatch's changes. The logo is the first bright stretch longer
    than 30 s. The last flash of a credits period is the one followed by
    more than 0.4 s of dark; which period it ends is reckoned from the
    logo's end, allowing half the freeze for the time the show lost in it;
    the period's other flashes end a quarter beat apart before it."""
    stretches = list(zip(changes, [at for at, _ in changes[1:]] + [watched_until]))
    logo = next(((at, until) for (at, bright), until in stretches
                 if bright and until - at > 30), None)
    if logo is None:
        raise AssertionError("the logo never showed for its 38.4 s")
    times = {EARLY: logo[0], LOGO_END: logo[1]}
    flash_ends_seen = [at for (at, bright), _ in stretches if not bright and at > logo[1]]
    for (at, bright), until in stretches:
        if bright or at <= logo[1] or until - at < 0.4:
            continue
        shown = LOGO_END + at - logo[1] - (FREEZE_SECONDS / 2 if at > resumed_at else 0)
        last = round(LOGO_END + CREDITS_FLASHES * round((shown - LOGO_END) / CREDITS_FLASHES), 3)
        if last not in (LATE_FLASHES[0], AFTER_FREEZE_FLASHES[0]):
            continue
        for second in flash_ends(last):
            expected = at - (last - second)
            seen = [t for t in flash_ends_seen if abs(t - expected) < QUARTER_BEAT / 3]
            if seen:
                times[second] = seen[0]
    return times


class TimedRecorder:
    """parec on the null sink's monitor at a given latency, with every read
    stamped by the monotonic clock."""

    def __init__(self, sound, latency_ms):
        self.sound = sound
        self.latency_ms = latency_ms
        self.data = bytearray()
        self.reads = []  # (arrival time, bytes received by then)
        self.process = None
        self._thread = None

    def __enter__(self):
        env = dict(os.environ, **self.sound.env)
        self.process = subprocess.Popen(
            ["parec", "--raw", "--format=s16le", f"--rate={RATE}", "--channels=2",
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

    def recorded_until(self):
        """When the last read arrived (0 before the first)."""
        return self.reads[-1][0] if self.reads else 0.0

    def start_time(self):
        """When the first recorded byte was rendered: the lower envelope of
        arrival minus the time the bytes received by then take to play."""
        return min(at - count / BYTES_PER_SECOND for at, count in self.reads)

    def heard_at(self, recording, reference, second, near):
        """Monotonic time at which the track's `second` was rendered, looked
        for in `recording` (this recorder's frames) about the time `near`;
        None when the recording does not hold it."""
        start = self.start_time()
        at = find_in_recording(recording, reference, second * RATE, (near - start) * RATE)
        return None if at is None else start + at / RATE


PROBE = RATE // 50  # 20 ms of the track around the moment looked for
SEARCH = int(1.5 * RATE)  # how far from the guess to look first


def find_in_recording(recording, reference, frame, guess):
    """The position, in frames of `recording` and to a fraction of one, of
    the track's (fractional) `frame`; the track around it is looked for
    within SEARCH frames of `guess` first, then everywhere. None when it is
    nowhere clearly."""
    first = int(round(frame)) - PROBE // 2
    probe = reference[first:first + PROBE].astype(numpy.float64)
    if first < 0 or len(probe) < PROBE:
        raise ValueError(f"frame {frame} is not inside the track")
    for low, high in ((guess - SEARCH, guess + SEARCH), (0, len(recording))):
        low = max(0, int(low))
        start = best_match(recording[low:max(low, int(high)) + PROBE], probe)
        if start is not None:
            return low + start + (frame - first)
    return None


def best_match(stretch, probe):
    """Where `probe` (frames) lies in `stretch` (frames): the start, to a
    fraction of a frame, with the highest normalised correlation, or None
    when that is below 0.5 (pure noise against anything else stays near 0;
    a resampled copy stays near 1)."""
    if len(stretch) < len(probe):
        return None
    stretch = stretch.astype(numpy.float64)
    size = 1 << (len(stretch) + len(probe)).bit_length()
    spectrum = numpy.fft.rfft(stretch, size, axis=0) * numpy.conj(
        numpy.fft.rfft(probe, size, axis=0))
    correlation = numpy.fft.irfft(spectrum.sum(axis=1), size)[:len(stretch) - len(probe) + 1]
    energy = numpy.concatenate(([0.0], numpy.cumsum((stretch ** 2).sum(axis=1))))
    window = energy[len(probe):] - energy[:-len(probe)]
    score = correlation / numpy.sqrt(numpy.maximum(window, 1.0) * (probe ** 2).sum())
    best = int(numpy.argmax(score))
    if score[best] < 0.5:
        return None
    if 0 < best < len(correlation) - 1:
        # The peak between samples: the vertex of the parabola through three.
        left, centre, right = correlation[best - 1:best + 2]
        bend = left - 2 * centre + right
        if bend < 0:
            return best + 0.5 * (left - right) / bend
    return best


def freeze(pid, at):
    """Stops process pid at monotonic time `at` for FREEZE_SECONDS (the
    sleeps are the freeze itself, not waits for something); returns when
    it was stopped and continued."""
    time.sleep(max(0.0, at - time.monotonic()))
    os.kill(pid, signal.SIGSTOP)
    stopped = time.monotonic()
    try:
        time.sleep(FREEZE_SECONDS)
    finally:
        os.kill(pid, signal.SIGCONT)
    return stopped, time.monotonic()


def measure(case, workdir, extra_env=None):
    """Runs one case (a key of CASES) once on the measurement data set made in
    workdir, until the last event has shown and been heard. Returns
    {group: (offset by the 5 ms recorder, offset by the 40 ms one)} in
    milliseconds, positive when the picture is ahead, for each of GROUPS."""
    platform, server, prefix = CASES[case]
    reference = make_data_set(workdir)
    with headless.Xvfb("640x480x24") as xvfb, \
            SERVERS[server](os.path.join(workdir, "sound")) as sound:
        wine = None
        if platform == "windows":
            wine = headless.WinePrefix(os.path.join(workdir, "prefix"), new=True) \
                if prefix == "new" else headless.WinePrefix()
        with (wine or contextlib.nullcontext()), TimedRecorder(sound, 5) as fast, \
                TimedRecorder(sound, 40) as slow:
            headless.wait_for(lambda: fast.streaming() and slow.streaming(), 60, 0.02,
                              "the recorders to deliver sound")
            env = dict(sound.env, **(extra_env or {}))
            demo = Demo(platform, xvfb, workdir=workdir, extra_env=env, wine=wine)
            demo.start()
            try:
                # In a new prefix Wine makes the prefix before the program starts.
                window = demo.window(timeout=240)
                with PixelWatch(xvfb.display) as watch:
                    logo = headless.wait_for(lambda: watch.logo_shown() or demo.ended(), 120,
                                             0.05, "the logo")
                    if demo.ended():
                        raise AssertionError("the demo ended before the logo showed")
                    _, resumed = freeze(demo.program_process(), logo + FREEZE_AT - EARLY)
                    # The last event, then a second more of sound in both recorders.
                    until = resumed + AFTER_FREEZE_FLASHES[0] - FREEZE_AT + 1.0
                    headless.wait_for(
                        lambda: demo.ended() or min(fast.recorded_until(),
                                                    slow.recorded_until()) > until,
                        until - time.monotonic() + 60, 0.1, "the last event")
                    if demo.ended():
                        raise AssertionError("the demo ended before the last event")
                demo.press_escape(window)
                demo.finish()
            finally:
                demo.stop()
    shown = picture_times(watch.changes, watch.last_read, resumed)
    return {group: offsets(group, shown, reference, fast, slow) for group in GROUPS}


def offsets(group, shown, reference, *recorders):
    """A group's offset by each recorder: the median over its events."""
    seconds = [second for second in GROUPS[group] if second in shown]
    if len(seconds) < (len(GROUPS[group]) + 1) // 2:
        raise AssertionError(f"{group}: the screen showed {len(seconds)} of its "
                             f"{len(GROUPS[group])} events")
    figures = []
    for recorder in recorders:
        recording = frames_of(bytes(recorder.data))
        each = []
        for second in seconds:
            heard = recorder.heard_at(recording, reference, second, shown[second])
            if heard is None:
                raise AssertionError(f"{group}: the sound of {second} s is not in the recording")
            each.append(1000 * (heard - shown[second]))
        figures.append(round(statistics.median(each), 1))
    return tuple(figures)


def describe(result):
    """One line of figures: each group by both recorders, and the drift from
    early to late."""
    parts = [f"{group} {fast:+.1f}/{slow:+.1f}" for group, (fast, slow) in result.items()]
    drift = [late - early for late, early in zip(result["late"], result["early"])]
    return ", ".join(parts) + f", drift {drift[0]:+.1f}/{drift[1]:+.1f} ms"


def main():
    import argparse
    groups = {"linux": [c for c in CASES if c.startswith("linux")],
              "windows": [c for c in CASES if c.startswith("windows")]}
    parser = argparse.ArgumentParser(
        description="Prints how far the picture is ahead of the sound (ms, positive: picture "
        "first) early in the show, late in it and after a 300 ms freeze, by the 5 ms and the "
        "40 ms recorder, per run and case, and each case's medians.")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("cases", nargs="*", default=list(CASES),
                        choices=list(CASES) + list(groups), metavar="CASE",
                        help=f"any of {', '.join(CASES)}, or linux or windows for each of "
                        "theirs (default: every case)")
    args = parser.parse_args()
    cases = [c for name in args.cases for c in groups.get(name, [name])]
    for case in cases:
        results = []
        for run in range(args.runs):
            try:
                with headless.temp_dir("viriz-sync-") as workdir:
                    results.append(measure(case, workdir))
                print(f"{case} run {run + 1}: {describe(results[-1])}", flush=True)
            except Exception as error:  # the other runs still tell something
                print(f"{case} run {run + 1}: failed: {type(error).__name__}: {error}",
                      flush=True)
        if results:
            print(f"{case}: {summary(results)}", flush=True)


def summary(results):
    """The medians over runs of each group (each run's figure: the mean of
    its two recorders) and of the drift, and the largest offset of any run."""
    def mean(pair):
        return (pair[0] + pair[1]) / 2
    parts = [f"{group} {statistics.median(mean(r[group]) for r in results):+.1f}"
             for group in GROUPS]
    drift = statistics.median(mean(r["late"]) - mean(r["early"]) for r in results)
    worst = max((max(abs(x) for x in pair) for r in results for pair in r.values()))
    return (f"median of {len(results)} runs: {', '.join(parts)}, drift {drift:+.1f} ms; "
            f"largest |offset| {worst:.1f} ms")


if __name__ == "__main__":
    main()
