# SPDX-License-Identifier: MIT
"""kestrilavon-check's live window on a real X server, fed by the simulated touch screen. The
device questions (name, ranges) need a kernel device: they are tested in the VM suite."""
import os
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


del EndToEnd

if __name__ == "__main__":
    unittest.main()
