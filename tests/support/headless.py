"""Helpers for headless tests: a private X server, a private PulseAudio or
PipeWire with a null sink, a Wine prefix, and the few X and audio chores the
tests share.

Every helper is a context manager that starts its own processes (on a free
display number, in private directories) and stops exactly those processes, by
their ids, when the block ends. Nothing here touches processes it did not start.
"""

import contextlib
import ctypes
import fcntl
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

from audio_match import BYTES_PER_SECOND
from polling import wait_for  # noqa: F401 (the tests take it from here too)

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def lit_share(png, threshold="6%"):
    """Share of an image's pixels brighter than near-black."""
    out = subprocess.run(["convert", png, "-colorspace", "gray", "-threshold", threshold,
                          "-format", "%[fx:mean]", "info:"], capture_output=True, text=True,
                         check=True, timeout=60)
    return float(out.stdout)


class GreyImage:
    """An image as 8-bit grey levels, for looking at parts of a screenshot:
    GreyImage(png).lit_box(x, y, width, height)."""

    def __init__(self, png):
        data = subprocess.run(["convert", png, "-colorspace", "gray", "-depth", "8", "pgm:-"],
                              capture_output=True, check=True, timeout=60).stdout
        # A binary PGM: "P5", width, height and the maximum value, each
        # followed by one whitespace byte, then one byte a pixel.
        header = re.match(rb"P5\s+(\d+)\s+(\d+)\s+255\s", data)
        if not header:
            raise ValueError(f"{png}: not an 8-bit grey image")
        self.width, self.height = int(header.group(1)), int(header.group(2))
        self.pixels = data[header.end():]

    def _rows(self, x, y, width, height):
        for row in range(max(0, y), min(self.height, y + height)):
            start = row * self.width
            yield row, self.pixels[start + max(0, x):start + min(self.width, x + width)]

    def brightest(self, x, y, width, height):
        """The highest grey level in a rectangle (0 when it is all black)."""
        return max((max(line) for _, line in self._rows(x, y, width, height) if line), default=0)

    def lit_box(self, x, y, width, height, level=15):
        """(left, top, right, bottom), exclusive at right and bottom, of the
        pixels brighter than level in a rectangle (15 is lit_share's 6%), or
        None when there are none."""
        lit = bytes(1 if value > level else 0 for value in range(256))
        box = None
        for row, line in self._rows(x, y, width, height):
            marks = line.translate(lit)
            first = marks.find(1)
            if first < 0:
                continue
            left, right = x + first, x + marks.rfind(1) + 1
            box = (left, row, right, row + 1) if box is None else (
                min(box[0], left), box[1], max(box[2], right), row + 1)
        return box


def _stop(process, timeout=10):
    """Ends a child process (and nothing else): SIGTERM, then SIGKILL."""
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Xvfb:
    """A virtual X server at a fixed size, e.g. Xvfb("640x480x24")."""

    def __init__(self, screen="640x480x24"):
        self.screen = screen
        self.process = None
        self.display = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        # -displayfd lets the server pick a free display number and tell us.
        # On a busy machine xdotool's press and release of a key can come
        # more than the usual half second apart: no key repeats.
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen,
             "-nolisten", "tcp", "-noreset", "-ardelay", "60000"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            _stop(self.process)
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        return self

    def __exit__(self, *exc):
        _stop(self.process)

    @property
    def env(self):
        return {"DISPLAY": self.display}

    def run(self, args, **kwargs):
        env = dict(os.environ, **self.env)
        return subprocess.run(args, env=env, capture_output=True, text=True, **kwargs)

    def window_named(self, name):
        """Id of the first window whose name is exactly name, or None. Read
        from the window tree: `xdotool search --name` misses UTF-8 names."""
        pattern = re.compile(r'^\s*(0x[0-9a-f]+) "' + re.escape(name) + '"', re.MULTILINE)
        match = pattern.search(self.run(["xwininfo", "-root", "-tree"], timeout=30).stdout)
        return int(match.group(1), 16) if match else None

    def find_window(self, name, timeout=20):
        """Id of the first window whose name is exactly name, once it exists."""
        return wait_for(lambda: self.window_named(name), timeout, 0.1, f"window '{name}'")

    def window_geometry(self, window):
        """(x, y, width, height) of a window, as xwininfo sees it."""
        info = self.run(["xwininfo", "-id", str(window)]).stdout
        values = {}
        for line in info.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                int(values["Width"]), int(values["Height"]))

    def key(self, name, window=None):
        args = ["xdotool"]
        if window is not None:
            args += ["windowfocus", "--sync", str(window)]
        self.run(args + ["key", name], check=True, timeout=30)

    def press_until(self, name, window, done, timeout=60):
        """Focuses window and presses key name until done() is true. A window
        that has just been mapped may not take the focus yet (xdotool then
        fails), and a press may come before the program looks for keys, so
        both are tried again until the deadline."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.run(["xdotool", "windowfocus", "--sync", str(window), "key", name],
                         timeout=10)
            except subprocess.TimeoutExpired:
                pass
            try:
                return wait_for(done, min(2.0, max(0.1, deadline - time.monotonic())), 0.05,
                                f"{name} to take effect")
            except TimeoutError:
                if time.monotonic() > deadline:
                    raise

    def screenshot(self, path):
        self.run(["import", "-window", "root", path], check=True, timeout=60)

    def wait_for_shot(self, look, timeout=60, what="the screen to show it"):
        """Takes screenshots until look(path of the PNG) returns a true
        value, which is returned."""
        with temp_dir() as tmp:
            shot = os.path.join(tmp, "shot.png")

            def seen():
                self.screenshot(shot)
                return look(shot)
            return wait_for(seen, timeout, 0.1, what)

    def wait_for_lit(self, share, timeout=60):
        """Takes screenshots until more than `share` of the screen is lit;
        returns that share. A program's first frames may come late on a
        busy machine, and the show's object may start small."""
        def lit(shot):
            value = lit_share(shot)
            return value if value > share else None
        return self.wait_for_shot(lit, timeout, f"more than {share:.1%} of the screen lit")

    def wait_for_screen(self, look, timeout=60, what="the screen to show it"):
        """Takes screenshots until look(GreyImage of the screen) returns a
        true value, which is returned."""
        return self.wait_for_shot(lambda shot: look(GreyImage(shot)), timeout, what)

    def close_window(self, window):
        """Asks a window to close the way a window manager does: a
        WM_DELETE_WINDOW client message."""
        _send_delete_window(self.display, window)


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def _send_delete_window(display_name, window):
    xlib = ctypes.CDLL("libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                ctypes.POINTER(_XEvent)]
    xlib.XFlush.argtypes = [ctypes.c_void_p]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = xlib.XOpenDisplay(display_name.encode())
    if not display:
        raise RuntimeError(f"cannot open display {display_name}")
    try:
        event = _XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = xlib.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = xlib.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        event.xclient.data[1] = 0  # CurrentTime
        xlib.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        xlib.XFlush(display)
    finally:
        xlib.XCloseDisplay(display)


NULL_SINK = "module-null-sink sink_name=null rate=44100 channels=2"


class PulseAudio:
    """A private PulseAudio server with one null sink named "null" at 44.1 kHz
    stereo, in its own directories under workdir. `modules` replaces the
    null sink with other modules (each "name arguments")."""

    def __init__(self, workdir, modules=(NULL_SINK,), command=("pulseaudio",)):
        self.workdir = os.path.abspath(workdir)
        self.modules = modules
        self.command = list(command)
        self.process = None

    @property
    def socket(self):
        return os.path.join(self.workdir, "pulse.sock")

    @property
    def env(self):
        return {"HOME": os.path.join(self.workdir, "home"),
                "XDG_RUNTIME_DIR": os.path.join(self.workdir, "xdg"),
                "PULSE_SERVER": "unix:" + self.socket}

    @property
    def heard_env(self):
        """The server whose null sink's monitor is what is heard: this one."""
        return self.env

    def __enter__(self):
        env = dict(os.environ, **self.env)
        os.makedirs(env["HOME"], exist_ok=True)
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        os.chmod(env["XDG_RUNTIME_DIR"], 0o700)
        self.process = subprocess.Popen(
            self.command + ["-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--disallow-exit", "--disable-shm"] + [f"--load={module}" for module in self.modules] +
            [f"--load=module-native-protocol-unix auth-anonymous=1 socket={self.socket}"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def ready():
            if self.process.poll() is not None:
                raise RuntimeError("pulseaudio exited")
            return subprocess.run(["pactl", "info"], env=env, capture_output=True).returncode == 0
        try:
            wait_for(ready, 20, 0.1, "pulseaudio")
        except Exception:
            _stop(self.process)
            raise
        return self

    def __exit__(self, *exc):
        _stop(self.process)

    def record(self, path, timeout=60):
        return record_monitor(self.env, path, timeout)


class DeviceLatencyPulseAudio:
    """A sink that holds sound past the server's monitor and reports that
    delay to its clients, as a sound card, a network sink or Bluetooth does:
    two private PulseAudio servers under workdir. The far one has the null
    sink, whose monitor is what is heard (heard_env). The near one, which
    the program uses (env), has one sink, its default: "device", the old
    tunnel module's sink to the far null sink, 80 ms behind it.
    (module-tunnel-sink-new shrinks its latency to the lowest one a client
    asks for, and its far end breaks up.) Once connected the tunnel
    describes its sink as the far one's "on user@host", and its monitor then
    as "Monitor Source of ..."; it is described as a sound card's monitor is,
    "Monitor of <sink description>", which is how Wine lists sound cards'
    monitors."""

    LATENCY_MS = 80
    DEVICE_MONITOR = "device.monitor"  # on the near server: before the latency

    def __init__(self, workdir):
        self.workdir = os.path.abspath(workdir)
        self.far = PulseAudio(os.path.join(self.workdir, "far"))
        self.cli_socket = os.path.join(self.workdir, "near", "cli.sock")
        self.near = PulseAudio(os.path.join(self.workdir, "near"), (
            f"module-tunnel-sink server=unix:{self.far.socket} sink=null sink_name=device "
            f"rate=44100 channels=2 latency_msec={self.LATENCY_MS}",
            f"module-cli-protocol-unix socket={self.cli_socket}"))

    @property
    def env(self):
        return self.near.env

    @property
    def heard_env(self):
        return self.far.env

    def _pactl(self, *args):
        return subprocess.run(["pactl", *args], env=dict(os.environ, **self.env),
                              capture_output=True, text=True, timeout=30).stdout

    def _description(self, kind, name):
        """The description of the near server's sink or source `name`."""
        listing = self._pactl("list", kind)
        match = re.search(r"^\s*Name: " + re.escape(name) + r"\n\s*Description: (.*)$", listing,
                          re.MULTILINE)
        return match.group(1) if match else None

    def _connected(self):
        """The tunnel's sink's description once it names the far server."""
        description = self._description("sinks", "device")
        return description if description and " on " in description else None

    def _describe_monitor(self, description):
        """Sets the monitor's description through the server's command line
        interface (pactl has no command for it)."""
        with socket.socket(socket.AF_UNIX) as cli:
            cli.connect(self.cli_socket)
            cli.sendall(f'update-source-proplist {self.DEVICE_MONITOR} device.description="'
                        f'{description}"\n'.encode())
        return self._description("sources", self.DEVICE_MONITOR) == description

    def __enter__(self):
        with contextlib.ExitStack() as stack:
            stack.enter_context(self.far)
            stack.enter_context(self.near)
            sink = wait_for(self._connected, 30, 0.1, "the tunnel to reach the far server")
            self._pactl("set-default-sink", "device")
            wait_for(lambda: self._describe_monitor(f"Monitor of {sink}"), 30, 0.1,
                     "the near monitor's description")
            stack.pop_all()
        return self

    def __exit__(self, *exc):
        self.near.__exit__(*exc)
        self.far.__exit__(*exc)

    def record(self, path, timeout=60):
        return record_monitor(self.heard_env, path, timeout)


@contextlib.contextmanager
def record_monitor(server_env, path, timeout=60):
    """Records the null sink's monitor as raw s16le stereo 44.1 kHz into path
    for the duration of the block. The block begins once the recorder
    delivers sound: an idle sink takes about two seconds to settle at the
    recorder's short latency, and what plays before then is lost."""
    env = dict(os.environ, **server_env)
    with open(path, "wb") as out:
        recorder = subprocess.Popen(
            ["parec", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
             "--latency-msec=20", "-d", "null.monitor"],
            env=env, stdout=out, stderr=subprocess.DEVNULL)
        try:
            def streaming():
                if recorder.poll() is not None:
                    raise RuntimeError("parec exited")
                return os.path.getsize(path) >= BYTES_PER_SECOND // 10
            wait_for(streaming, timeout, 0.02, "the recorder to deliver sound")
            yield recorder
        finally:
            _stop(recorder)


# PipeWire's PulseAudio-protocol server: the modules that a PipeWire client
# and the protocol need, listening on $XDG_RUNTIME_DIR/pulse/native.
PULSE_SERVER_CONFIG = """
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse }
]
pulse.properties = {
    server.address = [ "unix:native" ]
}
"""


class PipeWire:
    """A private PipeWire as current desktops run it: the graph (pipewire), its
    session manager (wireplumber) and its PulseAudio-protocol server, on a
    private D-Bus session, in directories under workdir, with a null sink
    named "null" as the default sink. The same env and record() as
    PulseAudio, so that PulseAudio clients (SDL, Wine, parec) use it
    unchanged. The graph runs at 48 kHz: 44.1 kHz streams are resampled on
    their way in and out, and its period follows the shortest latency a
    client asks for.

    The PulseAudio-protocol server is pipewire with PULSE_SERVER_CONFIG, what
    Debian's pipewire-pulse runs, without that package: its user services
    would take the desktop's sound socket from a PulseAudio beside it."""

    def __init__(self, workdir):
        self.workdir = os.path.abspath(workdir)
        self.processes = []

    @property
    def env(self):
        runtime = os.path.join(self.workdir, "xdg")
        return {"HOME": os.path.join(self.workdir, "home"),
                "XDG_RUNTIME_DIR": runtime,
                "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(runtime, "bus"),
                "PULSE_SERVER": "unix:" + os.path.join(runtime, "pulse", "native")}

    @property
    def heard_env(self):
        """The server whose null sink's monitor is what is heard: this one."""
        return self.env

    def _start(self, args, env):
        process = subprocess.Popen(args, env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def _wait_for_file(self, path, process, what):
        def there():
            if process.poll() is not None:
                raise RuntimeError(f"{what} exited")
            return os.path.exists(path)
        wait_for(there, 30, 0.05, what)

    def _pactl(self, env, *args):
        return subprocess.run(["pactl", *args], env=env, capture_output=True, text=True,
                              timeout=30)

    def __enter__(self):
        env = dict(os.environ, **self.env)
        runtime = env["XDG_RUNTIME_DIR"]
        os.makedirs(env["HOME"], exist_ok=True)
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        os.chmod(runtime, 0o700)
        # The session manager leaves the machine's sound cards, cameras and
        # Bluetooth alone: they may belong to the desktop's own server.
        for part, monitors in (("main", ("alsa", "v4l2", "libcamera")), ("bluetooth", ("bluez",))):
            folder = os.path.join(env["HOME"], ".config", "wireplumber", part + ".lua.d")
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "51-no-devices.lua"), "w") as config:
                config.writelines(f"{monitor}_monitor.enabled = false\n" for monitor in monitors)
        try:
            # WirePlumber does not start without a D-Bus session.
            bus = self._start(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                               "--address=" + env["DBUS_SESSION_BUS_ADDRESS"]], env)
            self._wait_for_file(os.path.join(runtime, "bus"), bus, "dbus-daemon")
            graph = self._start(["pipewire"], env)
            self._wait_for_file(os.path.join(runtime, "pipewire-0"), graph, "pipewire")
            self._start(["wireplumber"], env)
            config = os.path.join(self.workdir, "pipewire-pulse.conf")
            with open(config, "w") as out:
                out.write(PULSE_SERVER_CONFIG)
            pulse = self._start(["pipewire", "-c", config], env)
            self._wait_for_file(os.path.join(runtime, "pulse", "native"), pulse,
                                "the PulseAudio-protocol server")
            wait_for(lambda: self._pactl(env, "info").returncode == 0, 30, 0.1,
                     "the PulseAudio-protocol server to answer")
            self._pactl(env, "load-module", "module-null-sink", "sink_name=null")

            # The session manager keeps the default sink; it may not be
            # listening yet, so the choice is made again until it holds.
            def null_is_default():
                self._pactl(env, "set-default-sink", "null")
                return self._pactl(env, "get-default-sink").stdout.strip() == "null"
            wait_for(null_is_default, 30, 0.1, "the null sink to become the default")
        except Exception:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        for process in reversed(self.processes):
            _stop(process)
        self.processes = []

    def record(self, path, timeout=60):
        return record_monitor(self.env, path, timeout)


class WinePrefix:
    """A Wine prefix with its own wineserver, stopped when the block ends.

    By default the prefix under build/, made once by wineboot and reused
    (making one takes about 12 s), with a server started here. With
    new=True, path is a folder that does not exist yet, and nothing is made
    beforehand: the program's own start makes the prefix and its server, as
    on a viewer's first run."""

    def __init__(self, path=None, new=False):
        self.path = os.path.abspath(path or os.path.join(REPO, "build", "wine-prefix"))
        self.new = new
        self.server = None
        self.session = None

    @property
    def env(self):
        return {"WINEPREFIX": self.path, "WINEDEBUG": "-all",
                "WINEDLLOVERRIDES": "mscoree,mshtml="}

    def _ensure_prefix(self, env):
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        with open(self.path + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            stamp = os.path.join(self.path, ".viriz-ready")
            if os.path.exists(stamp):
                return
            shutil.rmtree(self.path, ignore_errors=True)
            subprocess.run(["wineboot", "-i"], env=env, capture_output=True, timeout=300)
            subprocess.run(["wineserver", "-w"], env=env, capture_output=True, timeout=300)
            open(stamp, "w").close()

    def __enter__(self):
        if self.new:
            if os.path.exists(self.path):
                raise FileExistsError(f"{self.path}: a new prefix's folder must not exist yet")
            return self
        env = dict(os.environ, **self.env)
        env.pop("DISPLAY", None)
        self._ensure_prefix(env)
        # One session at a time in a prefix, across test runs too: a second
        # one would join the first one's server, see its display's size, and
        # end its programs when it stops that server with -k.
        self.session = open(self.path + ".session-lock", "w")
        fcntl.flock(self.session, fcntl.LOCK_EX)
        self.server = subprocess.Popen(["wineserver", "--foreground", "--persistent"], env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self

    def __exit__(self, *exc):
        # The prefix's own server ends its client processes (services,
        # devices, explorer) with -k; they would outlive a plain SIGTERM. In a
        # new prefix the server is the program's; -w waits until it has gone.
        env = dict(os.environ, **self.env)
        if os.path.isdir(self.path):
            subprocess.run(["wineserver", "-k"], env=env, capture_output=True, timeout=60)
            if self.new:
                subprocess.run(["wineserver", "-w"], env=env, capture_output=True, timeout=60)
        _stop(self.server)
        if self.session:
            self.session.close()  # releases the lock
            self.session = None

    def process_of(self, program):
        """Id of the process that runs the Windows program named `program`
        (e.g. "viriz.exe") in this prefix, or None. Wine gives such a process
        the program's Windows path as its command line, and the environment
        it was started with names the prefix."""
        prefix = b"WINEPREFIX=" + os.fsencode(self.path)
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    command = f.read().split(b"\0")[0].decode(errors="replace")
                with open(f"/proc/{entry}/environ", "rb") as f:
                    environment = f.read().split(b"\0")
            except OSError:
                continue
            name = command.replace("\\", "/").rsplit("/", 1)[-1]
            if name.lower() == program.lower() and prefix in environment:
                return int(entry)
        return None


def temp_dir(prefix="viriz-test-"):
    return tempfile.TemporaryDirectory(prefix=prefix)
