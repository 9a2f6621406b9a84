# SPDX-License-Identifier: MIT
"""Whole calibrations on a real X server, driven by keys, clicks and simulated touches."""
import unittest

from harness import (RESULT_FILE, EndToEnd, first_marker_screen, recording, reference_sample,
                     result_screen, second_marker_screen)

RESULT = ("Ok! Fill the following data to the X Config file to calibrate your Quillomar "
          "Screen,then restart X.\n"
          '    Option  "BoderLeft" "{}"\n'
          '    Option  "BoderRight" "{}"\n'
          '    Option  "BoderTop" "{}"\n'
          '    Option  "BoderBottom" "{}"\n')


def borders(first, second):
    dx = int((second[0] - first[0]) / 2)
    dy = int((second[1] - first[1]) / 2)
    return first[0] - dx, second[0] + dx, first[1] - dy, second[1] + dy


class Calibration1024(EndToEnd):
    size = (1024, 768)

    def test_enter_for_one_marker_and_a_click_for_the_other(self):
        w, h = self.size
        self.run_program(self.touch.path)
        first = self.wait_screen("first marker", first_marker_screen)
        self.assertEqual(self.server.cursor(), "hidden")

        self.server.key("Return")
        self.touch_when_reading("touch 300 250")
        second = self.wait_screen("second marker", second_marker_screen)
        self.assertEqual(self.server.cursor(), "hidden")
        # The same note, 20 pixels further right: the first screen was painted once, in its
        # entry variant (a second paint would show the variant without the blank).
        note = h // 2 + 24
        self.assertTrue(first.text_band(note, 0, w - 20) == second.text_band(note, 20, w),
                        "the first marker's note is not the one drawn on entry")

        self.server.click_at(3 * w // 4 - 1, 3 * h // 4 - 1)
        self.touch_when_reading("touch 701 650")
        self.wait_screen("result", result_screen)
        self.assertEqual(self.server.cursor(), "visible")
        with open(RESULT_FILE) as file:
            self.assertEqual(file.read(), RESULT.format(100, 901, 50, 850))

        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)
        self.assertEqual(self.program.errors()[:7], b"\nUsage:")

    def test_a_double_click_ends_the_result_screen(self):
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        for point in ("touch 1000 1000", "touch 1500 1500"):
            self.server.key("KP_Enter")
            self.touch_when_reading(point)
        self.wait_screen("result", result_screen)
        with open(RESULT_FILE) as file:
            self.assertEqual(file.read(), RESULT.format(750, 1750, 750, 1750))
        self.server.double_click()
        self.assertEqual(self.program.wait_exit(), 0)

    def test_real_recordings_replayed_as_touches(self):
        for name in ("quanta-optical.touch-on-left.events",
                     "ep0430m09.1-finger-drag-up-down.events"):
            with self.subTest(name):
                expected = reference_sample(recording(name))
                self.assertIsNotNone(expected)
                self.run_program(self.touch.path)
                self.wait_screen("first marker", first_marker_screen)
                self.server.key("Return")
                self.touch_when_reading(f"play {self.recordings()}/{name}")
                self.wait_screen("second marker", second_marker_screen)
                # A closed event device forgets what was not read.
                self.touch.send("drain")
                self.server.key("Return")
                self.touch_when_reading("touch 1200 1300")
                self.wait_screen("result", result_screen)
                with open(RESULT_FILE) as file:
                    self.assertEqual(file.read(),
                                     RESULT.format(*borders(expected[:2], (1200, 1300))))
                self.server.key("Escape")
                self.assertEqual(self.program.wait_exit(), 0)

    @staticmethod
    def recordings():
        from harness import RECORDINGS
        return RECORDINGS


class Calibration640(Calibration1024):
    size = (640, 480)


del EndToEnd

if __name__ == "__main__":
    unittest.main()
