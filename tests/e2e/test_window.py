"""The window and the frame loop, end to end, on both builds: the program comes
up fullscreen at 640x480, presents frames, ends with exit code 0 on Escape and
on a close request, and reports a display without a 640x480 mode."""

import os
import subprocess
import unittest

from demo import WINDOWS_BIN, demo_context


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
        with demo_context(self.platform, screen="1024x768x24") as demo:
            demo.start()
            demo.dismiss_error_box()
            code, _, err = demo.finish()
            self.assertEqual(code, 0)
            self.assertIn("Failed to change display settings", err)


class LinuxWindowTest(WindowBehaviour, unittest.TestCase):
    platform = "linux"


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
