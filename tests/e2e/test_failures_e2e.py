# SPDX-License-Identifier: MIT
"""Touch reads that fail, what the screen says, and the way back."""
import os
import unittest

from harness import (RESULT_FILE, EndToEnd, first_marker_screen, read_error_screen,
                     second_marker_screen)


class FailedReads1024(EndToEnd):
    size = (1024, 768)

    def test_1501_records_without_a_good_sample_then_r_starts_again(self):
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        self.server.key("Return")
        # Out of range on X: never acceptable, released or not.
        self.touch_when_reading("x 2000", "y 600", "release", "repeat 1498 syn")
        self.wait_screen("read error", read_error_screen)
        self.assertEqual(self.server.cursor(), "hidden")
        self.server.key("r")
        self.wait_screen("first marker", first_marker_screen)
        self.touch_once_more_and_escape()

    def test_a_writer_that_leaves_mid_touch_gives_the_read_error(self):
        w, h = self.size
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        self.server.click_at(w // 4 - 1, h // 4 - 1)
        self.touch_when_reading("press", "x 500", "partial 10 y 600", "leave")
        self.wait_screen("read error", read_error_screen)
        self.touch.send("return")
        self.server.key("R")
        self.wait_screen("first marker", first_marker_screen)
        self.touch_once_more_and_escape()

    def test_keys_queued_behind_esc_start_nothing_on_the_closed_window(self):
        if os.path.lexists(RESULT_FILE):
            os.unlink(RESULT_FILE)
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        self.server.key("Return")
        self.program.wait_reading(self.touch.path)
        # While the read blocks: Esc, then Enter twice; and touches enough for both markers.
        self.server.xdotool("key", "Escape", "Return", "Return")
        for point in ("touch 400 400", "touch 600 600", "touch 800 800"):
            self.touch.send(point)
        self.assertEqual(self.program.wait_exit(), 0)
        self.assertFalse(os.path.lexists(RESULT_FILE), "a result was saved after Esc")

    def test_a_double_click_ends_the_read_error_screen(self):
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        self.server.key("Return")
        self.touch_when_reading("touch 400 400")
        self.wait_screen("second marker", second_marker_screen)
        self.server.key("Return")
        self.touch_when_reading("repeat 1501 syn")
        self.wait_screen("read error", read_error_screen)
        self.server.double_click()
        self.assertEqual(self.program.wait_exit(), 0)


class FailedReads640(FailedReads1024):
    size = (640, 480)


del EndToEnd

if __name__ == "__main__":
    unittest.main()
