"""Runs the demo program of either build (or another program of it) under a
private X server and sound server (and, for the Windows build, under Wine), so
that one set of behavioural tests serves both: every show test sets up through
demo_context."""

import contextlib
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import headless  # noqa: E402

LINUX_BIN = os.environ.get("VIRIZ_LINUX_BIN", os.path.join(headless.REPO, "build", "linux", "bin"))
WINDOWS_BIN = os.environ.get("VIRIZ_WINDOWS_BIN",
                             os.path.join(headless.REPO, "build", "windows", "bin"))


class Demo:
    """One run of the demo: start(), then talk to its window, then finish()."""

    def __init__(self, platform, xvfb, workdir=None, extra_env=None, wine=None, args=(),
                 program=None, sound=None):
        self.platform = platform
        # Another program: an unpacked release, or a Windows test program.
        self.program = program
        self.xvfb = xvfb
        self.sound = sound  # the sound server, whose env is in extra_env
        self.wine = wine
        self.workdir = workdir
        self.extra_env = extra_env or {}
        self.args = list(args)  # the program's command-line options
        self.process = None

    def command(self):
        if self.platform == "windows":
            return ["wine", self.program or os.path.join(WINDOWS_BIN, "viriz.exe")] + self.args
        return [self.program or os.path.join(LINUX_BIN, "viriz")] + self.args

    def start(self):
        # The caller's own variables come last: a test may ask Wine for its
        # messages (WINEDEBUG) over the prefix's default of none.
        env = {**os.environ, **self.xvfb.env, **(self.wine.env if self.wine else {}),
               **self.extra_env}
        cwd = self.workdir or (WINDOWS_BIN if self.platform == "windows" else LINUX_BIN)
        # Files, not pipes: Wine's helper processes inherit the standard
        # streams and outlive the program, so a pipe would never close.
        self.stdout = tempfile.TemporaryFile("w+")
        self.stderr = tempfile.TemporaryFile("w+")
        self.process = subprocess.Popen(self.command(), cwd=cwd, env=env, stdout=self.stdout,
                                        stderr=self.stderr, text=True)
        return self

    def run(self, timeout=120):
        """Runs the program to its end; returns (exit code, stdout, stderr)."""
        self.start()
        return self.finish(timeout)

    def window(self, timeout=60):
        return self.xvfb.find_window("test", timeout)

    def finish(self, timeout=30):
        """Waits for the program to end; returns (exit code, stdout, stderr)."""
        try:
            self.process.wait(timeout)
        finally:
            headless._stop(self.process)
        return self.process.returncode, self.output(self.stdout), self.output(self.stderr)

    @staticmethod
    def output(stream):
        stream.seek(0)
        text = stream.read()
        stream.close()
        return text

    def ended(self):
        return self.process.poll() is not None

    def program_process(self, timeout=60):
        """Id of the process that runs the program: the one started here, or
        under Wine the one that Wine's loader runs the program in."""
        if self.platform != "windows":
            return self.process.pid
        name = os.path.basename(self.command()[1])
        return headless.wait_for(lambda: self.wine.process_of(name), timeout, 0.1,
                                 f"the process of {name}")

    def dismiss_error_box(self, timeout=60):
        """Presses OK (Return) on the error message box, whose caption is the
        system's default, "Error", until the program ends."""
        box = self.find_error_box(timeout)
        self.xvfb.press_until("Return", box, self.ended, timeout)

    def find_error_box(self, timeout=60):
        return self.xvfb.find_window("Error", timeout)

    def press_escape(self, window, timeout=60):
        """Presses Escape in the program's window until the program ends."""
        self.xvfb.press_until("Escape", window, self.ended, timeout)

    def stop(self):
        headless._stop(self.process)
        for stream in (getattr(self, "stdout", None), getattr(self, "stderr", None)):
            if stream and not stream.closed:
                stream.close()


@contextlib.contextmanager
def demo_context(platform, screen="640x480x24", sound=headless.PulseAudio, wine=None,
                 extra_env=None, **kwargs):
    """Xvfb, a private sound server (sound: headless.PulseAudio, headless.PipeWire
    or None) and for the Windows build a Wine prefix (the reused one unless
    wine gives another) around one Demo, which is stopped when the block ends;
    yields the Demo, not yet started. Demo's own arguments pass through."""
    with contextlib.ExitStack() as stack:
        xvfb = stack.enter_context(headless.Xvfb(screen))
        server = sound and stack.enter_context(sound(stack.enter_context(headless.temp_dir())))
        if platform == "windows":
            wine = stack.enter_context(wine or headless.WinePrefix())
        env = dict(server.env if server else {}, **(extra_env or {}))
        demo = Demo(platform, xvfb, wine=wine, extra_env=env, sound=server, **kwargs)
        stack.callback(demo.stop)
        yield demo
