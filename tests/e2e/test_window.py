"""The window and the frame loop, end to end, on both builds: the program comes
up fullscreen at 640x480, presents frames, ends with exit code 0 on Escape and
on a close request, and reports a display without a 640x480 mode. On such
displays --windowed and --fullscreen-desktop show the show all the same."""

import os
import subprocess
import unittest

from demo import LINUX_BIN, WINDOWS_BIN, Demo, demo_context, headless

# Displays without a 640x480 mode, and where the 640x480 picture goes when it
# fills them: (x, y, width, height) from the top left.
SCREENS_WITHOUT_THE_MODE = {
    "1024x768x24": (0, 0, 1024, 768),
    "1280x720x24": (160, 0, 960, 720),
}


def screen_size(screen):
    width, height, _ = screen.split("x")
    return int(width), int(height)


def settled_geometry(xvfb, window, size, timeout=30):
    """The window's (x, y, width, height) once it has the given size: Wine
    may map a window at its outer size first and then settle it at the
    client size."""
    def geometry():
        found = xvfb.window_geometry(window)
        return found if found[2:] == size else None
    return headless.wait_for(geometry, timeout, 0.1, f"a {size[0]}x{size[1]} window")


class WindowBehaviour:
    platform = None

    def test_fullscreen_at_640x480_until_escape(self):
        with demo_context(self.platform) as demo:
            demo.start()
            window = demo.window()
            x, y, width, height = demo.xvfb.window_geometry(window)
            self.assertEqual((x, y, width, height), (0, 0, 640, 480))
            # Frames come: the screen shows what the program drew (an undrawn
            # window stays black), and the program is still running.
            demo.xvfb.wait_for_lit(0.0)
            self.assertFalse(demo.ended())
            demo.press_escape(window)
            code, _, err = demo.finish()
            self.assertEqual(code, 0, err)

    def test_close_request_ends_the_loop(self):
        with demo_context(self.platform) as demo:
            demo.start()
            window = demo.window()
            demo.xvfb.wait_for_lit(0.0)  # the frame loop runs
            demo.xvfb.close_window(window)
            code, _, err = demo.finish()
            self.assertEqual(code, 0, err)

    def test_display_without_the_mode_reports_it(self):
        for screen in SCREENS_WITHOUT_THE_MODE:
            with self.subTest(screen=screen), demo_context(self.platform, screen=screen) as demo:
                demo.start()
                demo.dismiss_error_box()
                code, _, err = demo.finish()
                self.assertEqual(code, 0)
                self.assertIn("Failed to change display settings", err)

    def test_windowed_shows_the_show_in_a_640x480_window(self):
        for screen in SCREENS_WITHOUT_THE_MODE:
            with self.subTest(screen=screen), \
                    demo_context(self.platform, screen=screen, args=["--windowed"]) as demo:
                demo.start()
                window = demo.window()
                x, y, width, height = settled_geometry(demo.xvfb, window, (640, 480))
                demo.xvfb.wait_for_screen(lambda image: image.lit_box(x, y, width, height),
                                          what="the show in the window")
                self.assertFalse(demo.ended())
                demo.press_escape(window)
                code, _, err = demo.finish()
                self.assertEqual(code, 0, err)

    def test_fullscreen_desktop_shows_the_picture_centred_between_black_bars(self):
        for screen, area in SCREENS_WITHOUT_THE_MODE.items():
            with self.subTest(screen=screen), \
                    demo_context(self.platform, screen=screen,
                                 args=["--fullscreen-desktop"]) as demo:
                demo.start()
                window = demo.window()
                self.assertEqual(settled_geometry(demo.xvfb, window, screen_size(screen))[:2],
                                 (0, 0))
                self.watch_picture(demo, screen, area)
                self.assertFalse(demo.ended())
                demo.press_escape(window)
                code, _, err = demo.finish()
                self.assertEqual(code, 0, err)

    def watch_picture(self, demo, screen, area):
        """Screenshots until what the show drew, taken together, spans nine
        tenths of the picture area both ways (a picture not scaled up spans
        less, one off centre runs into a bar); the bars are black in every
        one of them."""
        screen_width, screen_height = screen_size(screen)
        x, y, width, height = area
        bars = [(0, 0, x, screen_height), (x + width, 0, screen_width - x - width, screen_height),
                (0, 0, screen_width, y), (0, y + height, screen_width, screen_height - y - height)]
        seen = None

        def spans_the_area(image):
            nonlocal seen
            for bar in bars:
                if bar[2] > 0 and bar[3] > 0:
                    self.assertEqual(image.brightest(*bar), 0, f"bar {bar} lit")
            box = image.lit_box(x, y, width, height)
            if box:
                seen = box if seen is None else (min(seen[0], box[0]), min(seen[1], box[1]),
                                                 max(seen[2], box[2]), max(seen[3], box[3]))
            return seen and seen[2] - seen[0] >= 0.9 * width and seen[3] - seen[1] >= 0.9 * height
        demo.xvfb.wait_for_screen(spans_the_area, what=f"the show across {area}")

    def test_help_lists_options_and_keys_and_unknown_options_are_refused(self):
        with demo_context(self.platform, args=["--help"]) as demo:
            demo.start()
            code, out, err = demo.finish()
            self.assertEqual(code, 0, err)
            for text in ("--windowed", "--fullscreen-desktop", "--start-at", "--loop", "--help",
                         "Space", "Left", "Right", "Home", "Escape", "closing"):
                self.assertIn(text, out)

            refused = Demo(self.platform, demo.xvfb, wine=demo.wine, extra_env=demo.extra_env,
                           args=["--fullscreen"])
            try:
                refused.start()
                code, out, err = refused.finish()
            finally:
                refused.stop()
            self.assertEqual(code, 2)
            self.assertEqual(out, "")
            self.assertIn("unknown option '--fullscreen'", err)
            self.assertIn("--fullscreen-desktop", err)  # the usage follows
            self.assertIsNone(demo.xvfb.window_named("test"))

            # A start that is not a number of seconds is refused the same way.
            for bad in (["--start-at"], ["--start-at", "-3"], ["--start-at", "ten"]):
                refused = Demo(self.platform, demo.xvfb, wine=demo.wine,
                               extra_env=demo.extra_env, args=bad)
                try:
                    refused.start()
                    code, out, err = refused.finish()
                finally:
                    refused.stop()
                self.assertEqual(code, 2, bad)
                self.assertIn("--start-at needs a number of seconds", err)


class LinuxWindowTest(WindowBehaviour, unittest.TestCase):
    platform = "linux"

    def test_no_display_ends_as_a_window_that_cannot_be_created(self):
        """With no display to reach, SDL would fall back to drawing offscreen
        and the show would play unseen for ever: the program says that no
        display was found and ends through the window's error instead."""
        with headless.temp_dir() as runtime:
            env = {name: value for name, value in os.environ.items()
                   if name not in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER")}
            env.update(XDG_RUNTIME_DIR=runtime, SDL_AUDIODRIVER="dummy")
            demo = subprocess.Popen([os.path.join(LINUX_BIN, "viriz"), "--windowed"],
                                    cwd=LINUX_BIN, env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.PIPE, text=True)
            try:
                _, err = demo.communicate(timeout=60)
            finally:
                headless._stop(demo)
        self.assertEqual(demo.returncode, 0, err)
        self.assertIn("no display found", err)
        self.assertIn("Failed to create window", err.split("no display found", 1)[1])


class WindowsWindowTest(WindowBehaviour, unittest.TestCase):
    platform = "windows"

    def test_console_program_importing_only_system_dlls(self):
        exe = os.path.join(WINDOWS_BIN, "viriz.exe")
        headers = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe], capture_output=True,
                                 text=True, check=True).stdout
        self.assertIn("file format pei-x86-64", headers)
        self.assertRegex(headers, r"Subsystem\s+00000003")  # console
        dlls = {line.split(":")[1].strip().upper()
                for line in headers.splitlines() if "DLL Name:" in line}
        system = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "OPENGL32.DLL", "GLU32.DLL",
                  "MSVCRT.DLL", "WINMM.DLL"}
        self.assertTrue(dlls, headers)
        self.assertLessEqual(dlls, system)


if __name__ == "__main__":
    unittest.main()
