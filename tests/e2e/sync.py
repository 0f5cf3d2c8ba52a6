"""Measures, from outside, how far the picture of a running build is ahead of
its sound, the way a viewer would notice it: early in the show, late in it,
and after the program has been frozen for a moment.

The picture. With the measurement data set (a white logo, white credits, a
black environment texture and a small mesh) the centre of the screen is dark
until the logo overlay shows, in the first frame whose clock reads past beat
32 (9.6 s), and white from then until the credits replace the logo at beat
160 (48.0 s). The credits are dark for two beats, then flash four times a
beat for two beats, and so on. A flash's brightness is the square of its
quarter beat's fraction, so it ends at once: its end (white to black) is as
exact as the logo's start; its start is not. A thread reads the centre pixel
of the X server's screen about every millisecond and stamps each change
between dark and bright with the monotonic clock, halfway between the reads
either side of it; the server shows what the program swapped at once (no
compositor, no vertical sync), so a stamp is off by half a read at most.

The events, in seconds of the show:
  early         the logo appears (9.6)
  late          the logo goes (48.0), and the ends of the eight flashes of
                beats 162-164 (48.675 to 49.2)
  after freeze  0.2 s into the dark beats that follow (49.4), as the screen
                shows them, the program is stopped (SIGSTOP) for 300 ms and
                continued (SIGCONT), as a busy machine or a device hiccup
                would do; then the ends of the eight flashes of beats 174-176
                (52.275 to 52.8), three credits periods later
Each group's figure is the median over its events, so that one frame drawn
late does not decide it. A flash end is left out when no frame showed the
flash (frames more than 37 ms apart), and so is any change the watch stamped
less precisely than MAX_SPREAD.

The sound is a track of noise, so that any fiftieth of a second of it is
found in a recording by cross-correlation with the decoded track: exactly
where the recording is the track sample for sample (PulseAudio), and to a
fraction of a sample where it is not (PipeWire's graph runs at 48 kHz, so
the sound is resampled on its way to the sink and again to the recorder).
Two recorders with different latencies read the null sink's monitor; each
stamps its reads with the monotonic clock. The earliest a byte can arrive
is when the sink renders it, so the lower envelope of (arrival - bytes /
rate) over the reads near a moment tells when the recording's first byte
would have been rendered had nothing been lost, and so when that moment
was. Near the moment, because a recorder on a busy machine may lose a
period of sound now and then (PipeWire), and a sink's rendering may stray
from the monotonic clock by a few hundred parts per million (PulseAudio's
null sink under load). The two recorders' delays differ by their
buffering, so agreement between them bounds what is left.

Offset = (when the track's moment of an event was heard) - (when the frame
for it was shown). Positive: the picture is ahead of the sound."""

import collections
import ctypes
import os
import re
import shutil
import signal
import statistics
import subprocess
import threading
import time
import wave

import numpy

from demo import LINUX_BIN, demo_context, headless  # also puts tests/support on the path
from audio_match import BYTES_PER_SECOND  # noqa: E402

RATE = 44100
PASSWORD = "kvernsteik"
FIXTURE_MESH = os.path.join(headless.REPO, "fuzz", "seeds", "fuzz_mesh_load", "cube.mesh")

QUARTER_BEAT = 0.075
EARLY = 9.6  # beat 32: the first frame with the logo overlay
LOGO_END = 48.0  # beat 160: the credits, dark for two beats, replace the logo
FREEZE_SECONDS = 0.3
LONG_DARK = 0.4  # dark between credits periods: 0.6 s; within one: 37 ms
MAX_SPREAD = 0.005  # a change stamped less precisely is left out
ENVELOPE = 2.0  # seconds of a recorder's reads either side of a moment that time it


def flash_ends(last):
    """The ends of the eight flashes of the two beats that end at `last`."""
    return [round(last - QUARTER_BEAT * n, 3) for n in range(8)]


LATE_FLASHES = flash_ends(49.2)  # beats 162-164
AFTER_FREEZE_FLASHES = flash_ends(52.8)  # beats 174-176
GROUPS = {"early": [EARLY], "late": [LOGO_END] + LATE_FLASHES,
          "after freeze": AFTER_FREEZE_FLASHES}
SOUND_END = 54.0  # the next credits period: the sound heard up to here is enough
TRACK_SECONDS = 56.0

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
# The same measurement after a seek: the show starts at SEEK_FROM and Right
# moves it 5 s on as soon as its window is up, so that every event comes
# after a playback begun afresh at the new position.
SEEK_FROM = 1.0
SEEK_STEP = 5.0
SEEK_CASES = {f"{case}-seek": setup for case, setup in CASES.items()}
SERVERS = {"pulse": headless.PulseAudio, "pipewire": headless.PipeWire}


def make_data_set(directory, seconds=TRACK_SECONDS):
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
    noise = numpy.random.default_rng(1234).integers(-9000, 9001, (int(seconds * RATE), 2),
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
    keeps each change between dark and bright as (time, bright, spread):
    halfway between the last read before it and the first read after it,
    give or take half the time between those reads."""

    def __init__(self, display_name):
        self.display_name = display_name
        self.changes = []
        self.last_read = None
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(10)

    def logo_ended(self):
        """When the screen turned dark after the logo (a bright stretch
        longer than 30 s), or None."""
        changes = self.changes[:]
        return next((until for (at, bright, _), (until, _, _) in zip(changes, changes[1:])
                     if bright and until - at > 30), None)

    def dark_for(self, seconds, after):
        """True once the screen has been dark for `seconds` since a change
        later than `after`."""
        last = self.changes[-1:]
        return bool(last) and not last[0][1] and last[0][0] > after and \
            self.last_read - last[0][0] >= seconds

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
                # A quarter of white: a flash (its brightness the square of
                # its quarter beat's fraction) is bright in the second half
                # of its quarter beat, so that frames up to 37 ms apart
                # still show its end.
                bright = min((pixel >> 16) & 255, (pixel >> 8) & 255, pixel & 255) > 64
                if was_bright is not None and bright != was_bright:
                    self.changes.append(((self.last_read + now) / 2, bright,
                                         (now - self.last_read) / 2))
                was_bright = bright
                self.last_read = now
                time.sleep(0.001)
        finally:
            xlib.XCloseDisplay(display)


def picture_times(changes, watched_until, heard):
    """When the frame of each event showed, from a PixelWatch's changes:
    {show second: (monotonic time, spread)}.

    The logo is the first bright stretch longer than 30 s. After it, a dark
    stretch longer than LONG_DARK separates two credits periods, and a
    period's flashes end between two such stretches. Which period it is,
    the sound tells: `heard(time)` is the second of the track heard at a
    monotonic time (None when unknown), and the show keeps far closer to
    its sound than the 1.2 s from one period to the next, however long it
    stood still before. A period's flashes end a quarter beat apart, its
    first and its last seven quarter beats apart: a period where one of
    those two did not show (no frame in the bright half of its quarter
    beat), or that a stall split, cannot be placed and is left out. A flash
    between them that did not show is left out alone."""
    stretches = list(zip(changes, [at for at, _, _ in changes[1:]] + [watched_until]))
    logo = next((n for n, ((at, bright, _), until) in enumerate(stretches[:-1])
                 if bright and until - at > 30), None)
    if logo is None:
        raise AssertionError("the logo never showed for its 38.4 s, then went")
    times = {EARLY: stamp(changes[logo]), LOGO_END: stamp(changes[logo + 1])}
    ends = [n for n in range(logo + 1, len(changes)) if not changes[n][1]]
    long_darks = [n for n in ends if stretches[n][1] - changes[n][0] > LONG_DARK]
    for first, last in zip(long_darks, long_darks[1:]):
        seen = [changes[n] for n in ends if first < n <= last]
        second = heard(seen[-1][0])
        flashes = next((flashes for flashes in (LATE_FLASHES, AFTER_FREEZE_FLASHES)
                        if second is not None and abs(second - flashes[0]) < 0.6), None)
        if not flashes or abs(seen[-1][0] - seen[0][0] - (flashes[0] - flashes[-1])) > \
                QUARTER_BEAT / 3:
            continue
        for second in flashes:
            expected = seen[-1][0] - (flashes[0] - second)
            match = [change for change in seen if abs(change[0] - expected) < QUARTER_BEAT / 3]
            if match:
                times[second] = stamp(match[0])
    return times


def stamp(change):
    """A change's time and spread."""
    return change[0], change[2]


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

    def start_time(self, around=None):
        """When the first recorded byte was rendered: the lower envelope of
        arrival minus the time the bytes received by then take to play, over
        the reads within ENVELOPE seconds of the recording's byte `around`
        (or over all reads). Reckoned near the moment it times, it holds even
        where the recording lost sound before (a reader that fell behind on
        a busy machine)."""
        reads = self.reads if around is None else [
            (at, count) for at, count in self.reads
            if abs(count - around) < ENVELOPE * BYTES_PER_SECOND]
        return min(at - count / BYTES_PER_SECOND for at, count in reads)

    def second_heard(self, recording, reference, at, earliest):
        """Which second of the track, from `earliest` on, was rendered at
        monotonic time `at`, to a frame; None when the recording does not
        hold it."""
        frame = (at - self.start_time()) * RATE
        frame = int((at - self.start_time(frame * 4)) * RATE) - PROBE // 2
        if frame < 0 or frame + PROBE > len(recording):
            return None
        low = int(earliest * RATE)
        start = best_match(reference[low:], recording[frame:frame + PROBE].astype(numpy.float64))
        return None if start is None else (low + start + PROBE // 2) / RATE

    def heard_lately(self, reference):
        """The second of the track rendered 0.2 s before the last read (the
        recording holds it by then), or 0 when unknown; looked for from
        LOGO_END on."""
        if not self.reads:
            return 0.0
        return self.second_heard(frames_of(bytes(self.data)), reference,
                                 self.recorded_until() - 0.2, LOGO_END) or 0.0

    def heard_at(self, recording, reference, second, near):
        """Monotonic time at which the track's `second` was rendered, looked
        for in `recording` (this recorder's frames) about the time `near`;
        None when the recording does not hold it."""
        guess = (near - self.start_time()) * RATE
        at = find_in_recording(recording, reference, second * RATE, guess)
        return None if at is None else self.start_time(at * 4) + at / RATE


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
    power = (probe ** 2).sum()
    if len(stretch) < len(probe) or not power:
        return None  # silence matches anything
    stretch = stretch.astype(numpy.float64)
    size = 1 << (len(stretch) + len(probe)).bit_length()
    spectrum = numpy.fft.rfft(stretch, size, axis=0) * numpy.conj(
        numpy.fft.rfft(probe, size, axis=0))
    correlation = numpy.fft.irfft(spectrum.sum(axis=1), size)[:len(stretch) - len(probe) + 1]
    energy = numpy.concatenate(([0.0], numpy.cumsum((stretch ** 2).sum(axis=1))))
    window = energy[len(probe):] - energy[:-len(probe)]
    score = correlation / numpy.sqrt(numpy.maximum(window, 1.0) * power)
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


def freeze(pid):
    """Stops process pid for FREEZE_SECONDS (the sleep is the freeze itself,
    not a wait for something)."""
    os.kill(pid, signal.SIGSTOP)
    try:
        time.sleep(FREEZE_SECONDS)
    finally:
        os.kill(pid, signal.SIGCONT)


def seek_when_up(demo, xvfb, window, recorder, reference):
    """Presses Right until the sound is heard from past SEEK_FROM + SEEK_STEP
    (the press may come before the program reads keys); fails when the
    show went further than one press takes it."""
    lowest = int((SEEK_FROM + SEEK_STEP - 0.5) * RATE)
    highest = int((SEEK_FROM + 2 * SEEK_STEP - 0.5) * RATE)

    def heard_after_the_seek():
        if not recorder.reads:
            return None
        recording = frames_of(bytes(recorder.data))
        at = recorder.recorded_until() - 0.2
        frame = int((at - recorder.start_time()) * RATE) - PROBE // 2
        if frame < 0 or frame + PROBE > len(recording):
            return None
        start = best_match(reference[:highest + RATE],
                           recording[frame:frame + PROBE].astype(numpy.float64))
        return None if start is None else start / RATE

    xvfb.press_until("Right", window, lambda: (heard_after_the_seek() or 0) * RATE >= lowest,
                     60)
    heard = heard_after_the_seek()
    if heard is None or heard * RATE > highest:
        raise AssertionError(f"the show went to {heard} s, not past "
                             f"{SEEK_FROM + SEEK_STEP} s")


def measure(case, workdir, extra_env=None, underflows=None):
    """Runs one case (a key of CASES or SEEK_CASES) once on the measurement
    data set made in workdir, until the last event has shown and been heard.
    Returns {group: Figure} for each of GROUPS. A list given as underflows
    receives, for a Windows case, the number of times the sound server ran dry
    of Wine's stream before each group's first event was shown, from Wine's
    own warnings."""
    seeking = case in SEEK_CASES
    platform, server, prefix = SEEK_CASES[case] if seeking else CASES[case]
    reference = make_data_set(workdir)
    wine = headless.WinePrefix(os.path.join(workdir, "prefix"), new=True) \
        if prefix == "new" else None
    args = ["--start-at", str(SEEK_FROM)] if seeking else []
    if underflows is not None:
        extra_env = dict(extra_env or {}, WINEDEBUG="+timestamp,warn+pulse")
    with demo_context(platform, sound=SERVERS[server], wine=wine, workdir=workdir,
                      extra_env=extra_env, args=args) as demo, \
            TimedRecorder(demo.sound, 5) as fast, TimedRecorder(demo.sound, 40) as slow:
        xvfb = demo.xvfb
        headless.wait_for(lambda: fast.streaming() and slow.streaming(), 60, 0.02,
                          "the recorders to deliver sound")
        demo.start()
        # In a new prefix Wine makes the prefix before the program starts.
        window = demo.window(timeout=240)
        if seeking:
            seek_when_up(demo, xvfb, window, fast, reference)
        with PixelWatch(xvfb.display) as watch:
            logo_end = headless.wait_for(lambda: watch.logo_ended() or demo.ended(), 240, 0.05,
                                         "the logo to show and go")
            if demo.ended():
                raise AssertionError("the demo ended before the logo went")
            pid = demo.program_process()
            # 0.2 s into the dark beats that follow the credits' first flashes
            # (beats 164-166): 49.4 s.
            headless.wait_for(lambda: watch.dark_for(0.2, logo_end + 1.0), 60, 0.005,
                              "the dark beats after the first flashes")
            freeze(pid)
            # Until the sound reaches the next credits period, 1.2 s after the
            # last event: the picture, which follows the sound, has shown that
            # event by then.
            headless.wait_for(lambda: demo.ended() or fast.heard_lately(reference) >= SOUND_END,
                              120, 0.25, f"the sound of {SOUND_END} s")
            if demo.ended():
                raise AssertionError("the demo ended before the last event")
        demo.press_escape(window)
        _, _, wine_messages = demo.finish()
    recording = frames_of(bytes(fast.data))
    shown = picture_times(watch.changes, watch.last_read, lambda at: fast.second_heard(
        recording, reference, at, LOGO_END))
    if underflows is not None:
        underflows.extend(underflows_before_groups(wine_messages, shown))
    return {group: figure(group, shown, reference, fast, slow) for group in GROUPS}


def underflows_before_groups(wine_messages, shown):
    """How many of Wine's "Underflow" warnings (the sound server found its
    stream empty) came before each group's first event was shown, from the
    messages' timestamps: Wine stamps them with the raw monotonic clock, in
    seconds."""
    raw_to_monotonic = time.monotonic() - time.clock_gettime(time.CLOCK_MONOTONIC_RAW)
    times = [float(m.group(1)) + raw_to_monotonic
             for m in re.finditer(r"^(\d+\.\d+):\S*:warn:pulse:\S+ \S+ Underflow$",
                                  wine_messages, re.MULTILINE)]
    counts = []
    for seconds in GROUPS.values():
        first = shown.get(seconds[0])
        counts.append(None if first is None else sum(t < first[0] for t in times))
    return counts


class Figure(collections.namedtuple("Figure", "fast slow seen events")):
    """A group's offsets in milliseconds by the fast and the slow recorder:
    the medians over those of its `events` events that the screen showed
    (`seen`); None when it showed none. Too few seen, and the frames came
    more than 37 ms apart or the show stood still: the figure is then one
    frame's."""

    def enough(self):
        return 2 * self.seen >= self.events

    def __str__(self):
        if not self.seen:
            return f"none of {self.events} seen"
        shown = "" if self.seen == self.events else f" ({self.seen} of {self.events} seen)"
        return f"{self.fast:+.1f}/{self.slow:+.1f}{shown}"


def figure(group, shown, reference, *recorders):
    """A group's Figure from the times its events were shown."""
    seconds = [second for second in GROUPS[group]
               if second in shown and shown[second][1] <= MAX_SPREAD]
    offsets = []
    for recorder in recorders:
        recording = frames_of(bytes(recorder.data))
        each = []
        for second in seconds:
            at = shown[second][0]
            heard = recorder.heard_at(recording, reference, second, at)
            if heard is None:
                raise AssertionError(f"{group}: the sound of {second} s is not in the recording")
            each.append(1000 * (heard - at))
        offsets.append(round(statistics.median(each), 1) if each else None)
    return Figure(*offsets, len(seconds), len(GROUPS[group]))


def describe(result):
    """One line of figures: each group by both recorders, and the drift from
    early to late."""
    parts = [f"{group} {value}" for group, value in result.items()]
    early, late = result["early"], result["late"]
    if early.seen and late.seen:
        parts.append(f"drift {late.fast - early.fast:+.1f}/{late.slow - early.slow:+.1f}")
    return ", ".join(parts) + " ms"


def describe_underflows(underflows):
    """The counts of underflows_before_groups as words."""
    return "Wine's stream ran dry " + ", ".join(
        f"{count} times before {group}" for group, count in zip(GROUPS, underflows))


def main():
    import argparse
    groups = {"linux": [c for c in CASES if c.startswith("linux")],
              "windows": [c for c in CASES if c.startswith("windows")]}
    every = dict(CASES, **SEEK_CASES)
    parser = argparse.ArgumentParser(
        description="Prints how far the picture is ahead of the sound (ms, positive: picture "
        "first) early in the show, late in it and after a 300 ms freeze, by the 5 ms and the "
        "40 ms recorder, per run and case, and each case's medians.")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--wine-underflows", action="store_true",
                        help="also count, in the Windows cases, the times the sound server "
                        "ran dry of Wine's stream before each moment (Wine's own warnings)")
    parser.add_argument("cases", nargs="*", metavar="CASE",
                        help=f"any of {', '.join(every)}, or linux or windows for each of "
                        "theirs without a seek (default: every case without a seek)")
    args = parser.parse_args()
    for name in args.cases:
        if name not in every and name not in groups:
            parser.error(f"unknown case '{name}'")
    cases = [c for name in args.cases or CASES for c in groups.get(name, [name])]
    for case in cases:
        results = []
        for run in range(args.runs):
            try:
                underflows = [] if args.wine_underflows and case.startswith("windows") else None
                with headless.temp_dir("viriz-sync-") as workdir:
                    results.append(measure(case, workdir, underflows=underflows))
                dry = "" if underflows is None else "; " + describe_underflows(underflows)
                print(f"{case} run {run + 1}: {describe(results[-1])}{dry}", flush=True)
            except Exception as error:  # the other runs still tell something
                print(f"{case} run {run + 1}: failed: {type(error).__name__}: {error}",
                      flush=True)
        if results:
            print(f"{case}: {summary(results)}", flush=True)


def summary(results):
    """The medians over runs of each group (each run's figure: the mean of
    its two recorders, from runs that saw at least half the group's events)
    and of the drift, and the largest offset of any of those."""
    def mean(value):
        return (value.fast + value.slow) / 2

    def median(values):
        values = list(values)
        if not values:
            return "none"
        runs = "" if len(values) == len(results) else f" ({len(values)} of {len(results)} runs)"
        return f"{statistics.median(values):+.1f}{runs}"
    parts = [f"{group} {median(mean(r[group]) for r in results if r[group].enough())}"
             for group in GROUPS]
    drift = median(mean(r["late"]) - mean(r["early"]) for r in results
                   if r["late"].enough() and r["early"].enough())
    worst = max((abs(x) for r in results for value in r.values() if value.enough()
                 for x in (value.fast, value.slow)), default=0.0)
    return (f"median of {len(results)} runs: {', '.join(parts)}, drift {drift} ms; "
            f"largest |offset| {worst:.1f} ms")


if __name__ == "__main__":
    main()
