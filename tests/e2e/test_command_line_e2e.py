# SPDX-License-Identifier: MIT
"""The command line: which device is used, the notes on the standard error stream, no display."""
import os
import subprocess
import unittest

from harness import (KESTRILAVON, EndToEnd, first_marker_screen, marker_problems,
                     open_error_screen, wait_for)

NOTES = (b"\nUsage: kestrilavon /dev/input/event*  (*=1,2,3... for example:kestrilavon "
         b"/dev/input/event2)\n"
         b"        If it seems dead for long, press Ctrl+c to kill it.\n"
         b"\nAbout: This kestrilavon(Version:1.0.0) is an X calibration program of Quillomar "
         b"Screen of USB interface for Linux.\n"
         b"       Copyright (C) 2026 The kestrilavon developers. Licensed under the MIT "
         b"License.\n\n\n")


@unittest.skipIf(os.path.exists("/dev/input/event2"), "this machine has /dev/input/event2")
class DefaultDevice1024(EndToEnd):
    size = (1024, 768)

    def test_no_argument_reports_the_default_device_and_r_treats_it_as_typed(self):
        w, h = self.size
        self.run_program()
        default = self.wait_screen("open error", open_error_screen)
        self.assertEqual(self.server.cursor(), "visible")
        self.server.key("r")
        # Now "...the device /dev/input/event2 you typed!...": the first line changes, and only it.
        typed = self.wait_screen("open error", open_error_screen)
        self.assertTrue(typed.text_band(h // 4) != default.text_band(h // 4),
                        "the message did not change to the typed device's")
        self.assertTrue(typed.text_band(h // 4 + 50) == default.text_band(h // 4 + 50),
                        "the usage line changed")
        self.server.double_click()
        self.assertEqual(self.program.wait_exit(), 0)
        self.assertEqual(self.program.errors(), b"")

    def test_two_arguments_behave_as_none_but_print_the_notes(self):
        self.run_program(self.touch.path, "extra")
        self.wait_screen("open error", open_error_screen)
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)
        self.assertEqual(self.program.errors(), NOTES)


    def test_a_toolkit_option_counts_as_an_argument(self):
        self.run_program("-display", self.server.display)
        self.wait_screen("open error", open_error_screen)
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)
        self.assertEqual(self.program.errors(), NOTES)


class DefaultDevice640(DefaultDevice1024):
    size = (640, 480)


class OneArgument(EndToEnd):
    def test_the_argument_is_the_device_and_the_notes_are_exact(self):
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)
        self.assertEqual(self.program.errors(), NOTES)


class NoDisplay(unittest.TestCase):
    def run_without_display(self, display, program=(KESTRILAVON,), **more):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        if display:
            env["DISPLAY"] = display
        return subprocess.run(program, env=dict(env, **more), capture_output=True, timeout=30)

    def test_unset_display_is_one_clear_line_and_status_1(self):
        done = self.run_without_display(None)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr,
                         b"kestrilavon: cannot connect to an X display: DISPLAY is not set\n")

    def test_a_display_that_does_not_answer_is_named(self):
        done = self.run_without_display(":4242")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, b'kestrilavon: cannot connect to X display ":4242"\n')

    def test_the_live_check_says_the_same_and_opens_no_window(self):
        check = os.path.join(os.path.dirname(KESTRILAVON), "kestrilavon-check")
        done = self.run_without_display(None, (check, "/dev/null"), QT_QPA_PLATFORM="xcb")
        self.assertEqual(done.returncode, 1)
        self.assertEqual(done.stderr, b"kestrilavon-check: cannot connect to an X display: "
                                      b"DISPLAY is not set\n")
        # With no window system at all it would take the framebuffer, which this machine lacks.
        if os.access("/dev/fb0", os.R_OK | os.W_OK):
            self.skipTest("/dev/fb0 opens here: the check would draw on it")
        done = self.run_without_display(None, (check, "/dev/null"))
        self.assertEqual(done.returncode, 1)
        self.assertTrue(done.stderr.startswith(
            b"kestrilavon-check: no X display (DISPLAY), no Wayland display (WAYLAND_DISPLAY) and no "
            b"framebuffer (/dev/fb0: "), done.stderr)

    def test_options_that_cannot_go_together_are_one_line_and_status_2(self):
        check = os.path.join(os.path.dirname(KESTRILAVON), "kestrilavon-check")
        for options, said in ((("--calibrate", "--apply", "--install"),
                               b"--calibrate takes --apply (try it now) or --install (keep it), not both"),
                              (("--calibrate", "--framebuffer", "/dev/fb0\x1b]0;x"),
                               b"--framebuffer: /dev/fb0?]0;x is no framebuffer: one is named /dev/fbN")):
            done = self.run_without_display(None, (check, *options))
            self.assertEqual((done.returncode, done.stderr), (2, b"kestrilavon-check: " + said + b"\n"))


class TwoMonitors(EndToEnd):
    """One X screen split into two RandR monitors side by side, the pointer on the right one."""
    size = (2048, 768)

    def test_kestrilavon_opens_on_the_pointers_monitor_and_check_names_the_monitors(self):
        for name, geometry in (("LEFT", "1024/271x768/203+0+0 screen"),
                               ("RIGHT", "1024/271x768/203+1024+0 none")):
            subprocess.run(["xrandr", "--setmonitor", name, *geometry.split()], env=self.server.env,
                           check=True, stdout=subprocess.DEVNULL)
        self.server.xdotool("mousemove", 1500, 300)
        self.run_program(self.touch.path)
        # The first marker on the right monitor's quarter point: W and H are the monitor's.
        wait_for("the first marker on the right monitor",
                 lambda: not marker_problems(self.server.capture(), 1024 + 255, 191))
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)
        unknown = subprocess.run([os.path.join(os.path.dirname(KESTRILAVON), "kestrilavon-check"),
                                  "--output", "MIDDLE", self.touch.path], env=self.server.env,
                                 capture_output=True, text=True)
        self.assertEqual((unknown.returncode, unknown.stderr), (2, "kestrilavon-check: no monitor "
                         "MIDDLE on this X display; its monitors: LEFT, RIGHT\n"))


del EndToEnd

if __name__ == "__main__":
    unittest.main()
