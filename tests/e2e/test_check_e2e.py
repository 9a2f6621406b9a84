# SPDX-License-Identifier: MIT
"""kestrilavon-check's live window on a real X server, fed by the simulated touch screen. The
device questions (name, ranges) need a kernel device: they are tested in the VM suite."""
import os
import subprocess
import tempfile
import time
import unittest

from harness import KESTRILAVON, EndToEnd, wait_for

CHECK = os.path.join(os.path.dirname(KESTRILAVON), "kestrilavon-check")
RESULT = ('Ok!\n    Option  "BoderLeft" "0"\n    Option  "BoderRight" "1024"\n'
          '    Option  "BoderTop" "0"\n    Option  "BoderBottom" "768"\n')


class LiveCheck(EndToEnd):

    def test_a_touch_draws_the_cross_taps_never_quit_and_a_lost_device_is_said(self):
        result = os.path.join(self.folder.name, "result")
        with open(result, "w") as file:
            file.write(RESULT)
        self.run_program("--result", result, self.touch.path, binary=CHECK)
        wait_for("the check's window", lambda: self.server.shows_window("kestrilavon-check"))
        # Borders 0..1024 and 0..768 on a 1024 x 768 screen: raw values are pixels.
        self.touch.send("touch 700 500")
        image = wait_for("the cross", lambda: (lambda i: i if (700, 500) in i.red_pixels()
                                               else None)(self.server.capture()))
        self.server.double_click()
        time.sleep(0.5)
        self.assertIsNone(self.program.process.poll(), "a double tap quit the check")
        self.touch.send("leave")
        wait_for("a line saying the device went away", lambda: len(
            self.server.capture().dark_rows()) > len(image.dark_rows()))
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)
        self.assertEqual(self.program.errors(), b"")

    def test_a_device_that_never_runs_dry_leaves_the_window_live(self):
        self.run_program("/dev/zero", binary=CHECK)
        wait_for("the check's window", lambda: self.server.shows_window("kestrilavon-check"))
        time.sleep(0.5)
        pressed = time.monotonic()
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)
        self.assertLess(time.monotonic() - pressed, 1.0)


@unittest.skipUnless(os.geteuid() == 0, "pkexec's run is root's")
class UnderPkexec(unittest.TestCase):
    """Root run by pkexec, whose polkit action consents to keeping a calibration: the requester
    picks the arguments, and only the menu entry's command is taken."""

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def test_any_other_list_is_refused_before_anything_is_written(self):
        pointercal = os.path.join(self.folder.name, "nologin")
        rules = "/etc/udev/rules.d/99-kestrilavon.rules"
        rules_before = os.path.exists(rules)
        # pkexec's environment is a fresh one.
        env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "PKEXEC_UID": "1000"}
        for arguments in (["--tslib", "--install", "--matrix", "1 0 0 0 1 0", "--pointercal", pointercal,
                           "/dev/null"],
                          ["--install", "--matrix", "1 0 0 0 1 0", "/dev/null"],
                          ["--calibrate", "--install", "--show-report", "--tslib", "--pointercal", pointercal]):
            done = subprocess.run([CHECK, *arguments], env=env, capture_output=True, timeout=30)
            self.assertEqual((done.returncode, done.stdout), (2, b""), done.stderr)
            self.assertEqual(done.stderr.count(b"\n"), 1, done.stderr)
            self.assertIn(b"under pkexec only the menu entry's command", done.stderr)
        self.assertEqual(os.listdir(self.folder.name), [])
        self.assertEqual(os.path.exists(rules), rules_before)


del EndToEnd

if __name__ == "__main__":
    unittest.main()
