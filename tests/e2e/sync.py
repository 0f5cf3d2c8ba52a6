"""Measures, from outside, how far the picture of a running build is ahead of
its sound, the way a viewer would notice it: early in the show, late in it,
and after the program has been frozen for a moment.

The picture. The measurement runs the reduced-flashing show from 38.4 s on
its own data set (a white logo, white credits, a black environment texture
and a small mesh): the centre of the screen is white while the logo shows,
until the credits replace it at beat 160 (48.0 s). The credits are then dark
for two beats and lit, steadily, for the next two, and so on: every change
stays for 0.6 s, so that a frame shows it however few frames a busy machine
draws, and each is as exact as the logo's end. The X server tells of every
frame it receives (the DAMAGE extension, with its own time stamp on the
monotonic clock), and a thread reads the centre pixel after each one; the
order of the server's replies and events tells which frame a read showed. A
change between dark and bright is stamped halfway between the last frame
read before it and the first read after it, give or take half the time
between those two frames: the server shows what the program swapped at once
(no compositor, no vertical sync), and the program draws each frame for the
moment it will show, so that the event's moment of the music is heard
between those two frames.

The events, in seconds of the show, each a change of the credits:
  early         9.6 to 12 s after the start: the logo goes (48.0), the
                first two lit halves begin and end (48.6 to 50.4)
  late          39 s later: two lit halves (87.0 to 88.8)
  after freeze  0.2 s into the dark half that follows, as the sound tells (89.0),
                the program is stopped (SIGSTOP) for 300 ms and continued
                (SIGCONT), as a busy machine or a device hiccup would do;
                then two lit halves, three seconds later (91.8 to 93.6)
Each group's figure is the median over its events. A change is left out
when the frames either side of it came more than 2 * MAX_SPREAD apart; a
group with fewer than half its events timed cannot be measured, and says so.

The sound is a track of noise, so that any fiftieth of a second of it is
found in a recording by cross-correlation with the decoded track: exactly
where the recording is the track sample for sample (PulseAudio), and to a
fraction of a sample where it is not (PipeWire's graph runs at 48 kHz, so
the sound is resampled on its way to the sink and again to the recorder).
Two recorders with different latencies read the monitor of the null sink
where the sound is heard; each stamps its reads with the monotonic clock.
The earliest a byte can arrive is when the sink renders it, so the lower
envelope of (arrival - bytes / rate) over the reads near a moment tells when
the recording's first byte would have been rendered had nothing been lost,
and so when that moment was. Near the moment, because a recorder on a busy
machine may lose a period of sound now and then (PipeWire), and a sink's
rendering may stray from the monotonic clock by a few hundred parts per
million (PulseAudio's null sink under load). The two recorders' delays
differ by their buffering, so agreement between them bounds what is left.

Offset = (when the track's moment of an event was heard) - (when the frame
for it was shown). Positive: the picture is ahead of the sound."""

import bisect
import collections
import contextlib
import ctypes
import math
import os
import re
import select
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

# The measurement starts the show at beat 128 (38.4 s), with the logo up,
# 9.6 s before the credits replace it: as far from the start as the logo's
# own appearance is in the show.
START_AT = 38.4
CREDITS_LIT = 48.6  # beat 162: the credits' first lit half begins
CREDITS_HALF = 0.6  # two beats: each lit or dark half of the credits
FREEZE_SECONDS = 0.3
MAX_SPREAD = 0.015  # a change stamped less precisely is left out
ENVELOPE = 2.0  # seconds of a recorder's reads either side of a moment that time it

# The logo goes at 48.0 s (beat 160); from then on every 0.6 s the credits
# turn on or off, and each such change is an event.
GROUPS = {"early": [48.0, 48.6, 49.2, 49.8, 50.4],
          "late": [87.0, 87.6, 88.2, 88.8],
          "after freeze": [91.8, 92.4, 93.0, 93.6]}
FREEZE_AT = 89.0  # 0.2 s into the dark half after the late events: the freeze
SOUND_END = 94.2  # the sound heard up to here holds every event
TRACK_SECONDS = 96.0


def credits_lit_from(second):
    """True when the credits' change at `second` turns them on (a lit half
    begins), False when it turns them off (the logo's end included)."""
    return round((second - CREDITS_LIT) / CREDITS_HALF) % 2 == 0


# platform, sound server, Wine prefix: a new one, made by the program's
# start as on a viewer's first run, or the warm one under build/. The
# device-latency server is a sink that holds sound past its server's monitor
# (see headless.DeviceLatencyPulseAudio).
CASES = {
    "linux-pulse": ("linux", "pulse", None),
    "linux-pipewire": ("linux", "pipewire", None),
    "linux-device-latency": ("linux", "device-latency", None),
    "windows-pulse-new": ("windows", "pulse", "new"),
    "windows-pulse-warm": ("windows", "pulse", "warm"),
    "windows-pipewire-new": ("windows", "pipewire", "new"),
    "windows-pipewire-warm": ("windows", "pipewire", "warm"),
    "windows-device-latency": ("windows", "device-latency", "warm"),
}
# The same measurement after a seek: the show starts at SEEK_FROM and Right
# moves it 5 s on, to START_AT, as soon as its window is up, so that every
# event comes after a playback begun afresh at the new position.
SEEK_STEP = 5.0
SEEK_FROM = START_AT - SEEK_STEP
SEEK_CASES = {f"{case}-seek": setup for case, setup in CASES.items()}
SERVERS = {"pulse": headless.PulseAudio, "pipewire": headless.PipeWire,
           "device-latency": headless.DeviceLatencyPulseAudio}


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


class _XRectangle(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                ("width", ctypes.c_ushort), ("height", ctypes.c_ushort)]


class _XDamageNotifyEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("drawable", ctypes.c_ulong), ("damage", ctypes.c_ulong),
                ("level", ctypes.c_int), ("more", ctypes.c_int), ("timestamp", ctypes.c_ulong),
                ("area", _XRectangle), ("geometry", _XRectangle)]


class _XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("damage", _XDamageNotifyEvent),
                ("pad", ctypes.c_long * 24)]


def _xlib():
    """libX11 and libXdamage with the signatures the watch uses."""
    xlib = ctypes.CDLL("libX11.so.6")
    damage = ctypes.CDLL("libXdamage.so.1")
    for function, result, args in (
            (xlib.XOpenDisplay, ctypes.c_void_p, [ctypes.c_char_p]),
            (xlib.XDefaultRootWindow, ctypes.c_ulong, [ctypes.c_void_p]),
            (xlib.XConnectionNumber, ctypes.c_int, [ctypes.c_void_p]),
            (xlib.XPending, ctypes.c_int, [ctypes.c_void_p]),
            (xlib.XNextEvent, ctypes.c_int, [ctypes.c_void_p, ctypes.POINTER(_XEvent)]),
            (xlib.XNextRequest, ctypes.c_ulong, [ctypes.c_void_p]),
            (xlib.XGetImage, ctypes.c_void_p,
             [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
              ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]),
            (xlib.XGetPixel, ctypes.c_ulong, [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]),
            (xlib.XDestroyImage, ctypes.c_int, [ctypes.c_void_p]),
            (xlib.XCloseDisplay, ctypes.c_int, [ctypes.c_void_p]),
            (damage.XDamageQueryExtension, ctypes.c_int,
             [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]),
            (damage.XDamageCreate, ctypes.c_ulong, [ctypes.c_void_p, ctypes.c_ulong,
                                                    ctypes.c_int])):
        function.restype, function.argtypes = result, args
    return xlib, damage


def server_time(stamp_ms, now):
    """An X server time stamp (milliseconds of the monotonic clock, 32 bits,
    cut to the millisecond below) received at monotonic time `now`, in
    seconds of the monotonic clock; None when it cannot be one (a server
    that stamps with another clock)."""
    age = (int(now * 1000) - stamp_ms) & 0xFFFFFFFF
    return None if age > 60_000 else (int(now * 1000) - age + 0.5) / 1000


class Change(collections.namedtuple("Change", "at bright spread unread")):
    """The screen turned bright (or dark) at monotonic time `at`, give or
    take `spread` seconds: halfway between the last frame a read showed
    before the change and the first one after it. `unread`: how many frames
    came between those two that no read showed (the watch fell behind)."""


class FrameReads:
    """The frames the X server received and what reads of the centre pixel
    showed of them, turned into Changes between dark and bright. A read
    shows the newest frame received before it; the frames that came between
    two reads were not seen, so a change among them is known only to lie
    between the frames either side."""

    def __init__(self):
        self.changes = []
        self.last_shown = None  # (time, bright) of the last frame a read showed

    def read(self, frame_times, bright):
        """A read showed the newest of `frame_times` (the frames received
        since the last read, the others unread) as bright or dark."""
        shown = frame_times[-1]
        last = self.last_shown
        if last is not None and last[1] != bright:
            self.changes.append(Change((last[0] + shown) / 2, bright, (shown - last[0]) / 2,
                                       len(frame_times) - 1))
        self.last_shown = (shown, bright)


class PixelWatch:
    """Watches the centre pixel of the X server's screen in every frame the
    server receives until the block ends, and keeps its Changes between dark
    and bright as FrameReads does (`changes`). Where it may, the watch runs
    ahead of ordinary work: a read that comes late widens the changes it
    times."""

    CENTRE = (320, 240)
    NICE = -10

    def __init__(self, display_name):
        self.display_name = display_name
        self.frames = FrameReads()
        self.error = None
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    @property
    def changes(self):
        if self.error:
            raise self.error
        return self.frames.changes

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(10)
        if self.error and not exc[0]:
            raise self.error

    def _run(self):
        try:
            os.setpriority(os.PRIO_PROCESS, threading.get_native_id(), self.NICE)
        except PermissionError:
            pass  # at the ordinary priority, then
        try:
            self._watch()
        except Exception as error:  # changes raises it to the measurement
            self.error = error

    def _watch(self):
        xlib, damage = _xlib()
        display = xlib.XOpenDisplay(self.display_name.encode())
        if not display:
            raise RuntimeError(f"cannot open display {self.display_name}")
        try:
            events, errors = ctypes.c_int(), ctypes.c_int()
            if not damage.XDamageQueryExtension(display, ctypes.byref(events),
                                                ctypes.byref(errors)):
                raise RuntimeError("the X server has no DAMAGE extension")
            root = xlib.XDefaultRootWindow(display)
            raw_rectangles = 0
            damage.XDamageCreate(display, root, raw_rectangles)
            connection = xlib.XConnectionNumber(display)
            received = []  # (serial, time) of the frames not yet read
            while not self._stop.is_set():
                received += self._frames_received(xlib, display, events.value)
                if not received:
                    select.select([connection], [], [], 0.05)
                    continue
                # Events carry the serial of the last request the server had
                # done: those below the read's own came before it.
                serial = xlib.XNextRequest(display)
                bright = self._centre_bright(xlib, display, root)
                received += self._frames_received(xlib, display, events.value)
                before = [at for number, at in received if number < serial]
                received = [(number, at) for number, at in received if number >= serial]
                self.frames.read(before, bright)
        finally:
            xlib.XCloseDisplay(display)

    def _frames_received(self, xlib, display, damage_event):
        """(serial, time) of the frames among the events queued, each a
        rectangle drawn over the centre of the screen."""
        frames = []
        event = _XEvent()
        x, y = self.CENTRE
        while xlib.XPending(display):
            xlib.XNextEvent(display, ctypes.byref(event))
            if event.type != damage_event:
                continue
            area = event.damage.area
            if area.x <= x < area.x + area.width and area.y <= y < area.y + area.height:
                at = server_time(event.damage.timestamp, time.monotonic())
                if at is None:
                    raise RuntimeError("the X server's time stamps are not the monotonic clock")
                frames.append((event.damage.serial, at))
        return frames

    def _centre_bright(self, xlib, display, root):
        z_pixmap, all_planes = 2, 0xFFFFFFFF
        image = xlib.XGetImage(display, root, *self.CENTRE, 1, 1, all_planes, z_pixmap)
        pixel = xlib.XGetPixel(image, 0, 0)
        xlib.XDestroyImage(image)
        # A quarter of white: the credits and the logo are white, the mesh
        # below them far darker.
        return min((pixel >> 16) & 255, (pixel >> 8) & 255, pixel & 255) > 64


def picture_times(changes, heard):
    """When the frame of each event showed, from a PixelWatch's changes:
    {show second: Change}.

    Each change is the event nearest to the second of the track heard at
    its time (`heard(time)`, None when unknown) among those that turn the
    credits the same way: the show keeps far closer to its sound than the
    1.2 s between two changes the same way, however long it stood still
    before. A change more than 0.3 s from every event is none of them (the
    credits' other changes, the program's first frame), and an event that
    two changes claim (a frame that showed something else between them) is
    left out."""
    events = [second for group in GROUPS.values() for second in group]
    claimed = collections.defaultdict(list)
    for change in changes:
        second = heard(change.at)
        if second is None:
            continue
        event = min((s for s in events if credits_lit_from(s) == change.bright),
                    key=lambda s: abs(s - second))
        if abs(event - second) < CREDITS_HALF / 2:
            claimed[event].append(change)
    return {event: found[0] for event, found in claimed.items() if len(found) == 1}


class TimedRecorder:
    """parec on a monitor (by default that of the null sink where the sound is
    heard) of a sound server (`env`), at a given latency, with every read
    stamped by the monotonic clock."""

    def __init__(self, env, latency_ms, monitor="null.monitor"):
        self.env = env
        self.latency_ms = latency_ms
        self.monitor = monitor
        self.data = bytearray()
        self.reads = []  # (arrival time, bytes received by then)
        self.counts = []  # the bytes of each read, to find reads by
        self.earliest = None  # the least of arrival - bytes / rate over all reads
        self.process = None
        self._thread = None

    def __enter__(self):
        env = dict(os.environ, **self.env)
        self.process = subprocess.Popen(
            ["parec", "--raw", "--format=s16le", f"--rate={RATE}", "--channels=2",
             f"--latency-msec={self.latency_ms}", "-d", self.monitor],
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
            self.arrived(now, len(self.data))

    def arrived(self, at, count):
        """Notes a read that arrived at `at`, with `count` bytes received by then."""
        start = at - count / BYTES_PER_SECOND
        self.earliest = start if self.earliest is None else min(self.earliest, start)
        self.reads.append((at, count))
        self.counts.append(count)

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
        if around is None:
            return self.earliest
        first = bisect.bisect_right(self.counts, around - ENVELOPE * BYTES_PER_SECOND)
        last = bisect.bisect_left(self.counts, around + ENVELOPE * BYTES_PER_SECOND)
        return min(at - count / BYTES_PER_SECOND for at, count in self.reads[first:last])

    def probe_at(self, at):
        """The PROBE frames of the recording around what was rendered at
        monotonic time `at`, or None when the recording does not hold them."""
        if not self.reads:
            return None
        frame = (at - self.start_time()) * RATE
        frame = int((at - self.start_time(frame * 4)) * RATE) - PROBE // 2
        if frame < 0 or (frame + PROBE) * 4 > len(self.data):
            return None
        return frames_of(bytes(self.data[frame * 4:(frame + PROBE) * 4]))

    def heard_at(self, recording, reference, second, near):
        """Monotonic time at which the track's `second` was rendered, looked
        for in `recording` (this recorder's frames) about the time `near`;
        None when the recording does not hold it."""
        guess = (near - self.start_time()) * RATE
        at = find_in_recording(recording, reference, second * RATE, guess)
        return None if at is None else self.start_time(at * 4) + at / RATE


PROBE = RATE // 50  # 20 ms of the track around the moment looked for
SEARCH = int(1.5 * RATE)  # how far from the guess to look first
BLOCK = 10 * RATE  # the track is searched in blocks of this many frames


class SoundPosition:
    """Which second of the track a recorder heard at given monotonic times:
    each looked for within a second of where the one before was found (moved
    on by the time between them), else in the whole track, a block at a time
    (a search of it all at once would take seconds of the machine's time).
    Where what was heard then is not the track (the sound server ran dry and
    played silence), what was heard a little before or after tells."""

    SHIFTS = (0.0, -0.05, 0.05, -0.1, 0.1, -0.2, 0.2)
    LAG = 0.4

    def __init__(self, recorder, reference):
        self.recorder = recorder
        self.reference = reference
        self.last = None  # (monotonic time, second) of the last one found

    def at(self, moment):
        """The second heard at `moment`, to a frame; None when unknown."""
        probes = [(shift, self.recorder.probe_at(moment + shift)) for shift in self.SHIFTS]
        probes = [(shift, probe.astype(numpy.float64)) for shift, probe in probes
                  if probe is not None and probe.any()]
        second = None
        if self.last:
            guess = self.last[1] + moment - self.last[0]
            second = next((found - shift for shift, probe in probes
                           if (found := self._find(probe, guess - 1, guess + 1)) is not None),
                          None)
        for shift, probe in probes:
            if second is not None:
                break
            second = next((found - shift for low in range(0, len(self.reference), BLOCK)
                           if (found := self._find(probe, low / RATE, (low + BLOCK) / RATE))
                           is not None), None)
        if second is not None:
            self.last = (moment, second)
        return second

    def now(self):
        """The second being heard as the recorder's last read came, or 0
        when unknown: what was heard 0.4 s before (the recording holds what
        was heard a little after that, too) moved on by that time."""
        second = self.at(self.recorder.recorded_until() - self.LAG)
        return 0.0 if second is None else second + self.LAG

    def _find(self, probe, low, high):
        first = max(0, int(low * RATE))
        start = best_match(self.reference[first:int(high * RATE) + PROBE], probe)
        return None if start is None else (first + start + PROBE // 2) / RATE


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


def seek_when_up(xvfb, window, heard):
    """Presses Right until the sound (`heard`, a SoundPosition) is heard from
    past START_AT: again when the show has not moved 5 s after a press (the
    press may come before the program reads keys, or before the window takes
    the focus), no sooner, so that a busy machine's slow seek is not taken
    for one that did not happen. Fails when the show went further than one
    press takes it."""
    def moved():
        return heard.now() >= START_AT - 0.5
    deadline = time.monotonic() + 60
    while not moved():
        if time.monotonic() > deadline:
            raise TimeoutError(f"the show did not go to {START_AT} s")
        try:
            xvfb.key("Right", window)
        except subprocess.SubprocessError:
            pass  # the window does not take the focus yet
        try:
            headless.wait_for(moved, 5, 0.1, "the seek")
        except TimeoutError:
            pass
    second = heard.now()
    if second > START_AT + SEEK_STEP - 0.5:
        raise AssertionError(f"the show went to {second} s, not to {START_AT} s")


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
    args = ["--reduced-flashing", "--start-at", str(SEEK_FROM if seeking else START_AT)]
    if underflows is not None:
        extra_env = dict(extra_env or {}, WINEDEBUG="+timestamp,warn+pulse")
    with demo_context(platform, sound=SERVERS[server], wine=wine, workdir=workdir,
                      extra_env=extra_env, args=args) as demo, \
            TimedRecorder(demo.sound.heard_env, 5) as fast, \
            TimedRecorder(demo.sound.heard_env, 40) as slow, \
            monitor_recorder(demo.sound) as handed_on:
        xvfb = demo.xvfb
        heard = SoundPosition(fast, reference)
        headless.wait_for(lambda: fast.streaming() and slow.streaming(), 60, 0.02,
                          "the recorders to deliver sound")
        demo.start()
        # In a new prefix Wine makes the prefix before the program starts.
        window = demo.window(timeout=240)
        if seeking:
            seek_when_up(xvfb, window, heard)
        with PixelWatch(xvfb.display) as watch:
            pid = demo.program_process()
            # The sound, which the picture follows, tells where the show is:
            # looked at twice a second, and more often near the freeze.
            for second, period in ((FREEZE_AT - 2, 0.5), (FREEZE_AT, 0.05)):
                headless.wait_for(lambda: demo.ended() or heard.now() >= second, 240, period,
                                  f"the sound of {second} s")
            if demo.ended():
                raise AssertionError("the demo ended before the late events")
            freeze(pid)
            headless.wait_for(lambda: demo.ended() or heard.now() >= SOUND_END, 120, 0.25,
                              f"the sound of {SOUND_END} s")
            if demo.ended():
                raise AssertionError("the demo ended before the last event")
            changes = watch.changes
        demo.press_escape(window)
        _, _, wine_messages = demo.finish()
    shown = picture_times(changes, SoundPosition(fast, reference).at)
    if underflows is not None:
        underflows.extend(underflows_before_groups(wine_messages, shown))
    return {group: figure(group, shown, reference, fast, slow, handed_on) for group in GROUPS}


def monitor_recorder(sound):
    """A TimedRecorder of the sound server's monitor of its output where the
    output holds sound past it (`sound.DEVICE_MONITOR`), else nothing (None):
    there the monitor is what is heard."""
    monitor = getattr(sound, "DEVICE_MONITOR", None)
    return TimedRecorder(sound.env, 5, monitor) if monitor else contextlib.nullcontext()


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
        counts.append(None if first is None else sum(t < first.at for t in times))
    return counts


class Figure(collections.namedtuple("Figure",
                                    "fast slow seen events spread left_out past_monitor")):
    """A group's offsets in milliseconds by the fast and the slow recorder:
    the medians over those of its `events` events that the screen showed and
    that could be timed (`seen`); None when none could. `spread`: how far,
    at most, the frames either side of those events lay from their stamps
    (ms). `left_out`: why each other event was left out. `past_monitor`:
    where the output holds sound past its server's monitor, how long (ms,
    the median over the same events), else None."""

    def enough(self):
        return 2 * self.seen >= self.events

    def why_not_enough(self):
        return f"only {self.seen} of the {self.events} events could be timed: " + \
            "; ".join(self.left_out)

    def __str__(self):
        if not self.seen:
            return f"none of {self.events} timed"
        timed = "" if self.seen == self.events else f" ({self.seen} of {self.events} timed)"
        past = "" if self.past_monitor is None else \
            f" (heard {self.past_monitor:.1f} past the monitor)"
        return f"{self.fast:+.1f}/{self.slow:+.1f} ±{self.spread:.1f}{timed}{past}"


def figure(group, shown, reference, fast, slow, handed_on=None, max_spread=MAX_SPREAD):
    """A group's Figure from the Changes that showed its events, by the fast
    and the slow recorder of what is heard, and, where the output holds
    sound past its server's monitor, a recorder of that monitor; a Change
    stamped less precisely than max_spread (seconds) is left out."""
    seconds, left_out = [], []
    for second in GROUPS[group]:
        change = shown.get(second)
        if change is None:
            left_out.append(f"{second} s not placed")
        elif change.spread > max_spread:
            unread = f", {change.unread} frames unread between them" if change.unread else ""
            left_out.append(f"{second} s between frames {2000 * change.spread:.0f} ms apart"
                            f"{unread}")
        else:
            seconds.append(second)
    heard = {recorder: sound_times(recorder, seconds, shown, reference)
             for recorder in (fast, slow, handed_on) if recorder}
    for recorder, times in heard.items():
        for second in [second for second in seconds if times[second] is None]:
            # Silence there: the sound server ran dry just then.
            left_out.append(f"{second} s not heard in the recording of {recorder.monitor}")
            seconds.remove(second)
    heard = {recorder: {second: times[second] for second in seconds}
             for recorder, times in heard.items()}

    def median(values):
        return round(statistics.median(values), 1) if values else None
    offsets = [median([1000 * (at - shown[second].at) for second, at in heard[recorder].items()])
               for recorder in (fast, slow)]
    past_monitor = median([1000 * (heard[fast][second] - at)
                           for second, at in heard[handed_on].items()]) if handed_on else None
    spread = max((1000 * shown[second].spread for second in seconds), default=None)
    return Figure(*offsets, len(seconds), len(GROUPS[group]), spread, tuple(left_out),
                  past_monitor)


def sound_times(recorder, seconds, shown, reference):
    """{second: monotonic time at which the recorder heard it, or None} for
    the events `seconds`, looked for about when they were shown."""
    recording = frames_of(bytes(recorder.data))
    return {second: recorder.heard_at(recording, reference, second, shown[second].at)
            for second in seconds}


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
