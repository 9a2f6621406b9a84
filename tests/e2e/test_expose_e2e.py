# SPDX-License-Identifier: MIT
"""Exposes: a part of the window that X uncovers after the first screen is drawn again, the whole
screen in its state's repaint form, however small the part."""
import os
import subprocess
import time
import unittest

from harness import (EndToEnd, first_marker_screen, intro_repaint_screen, intro_screen,
                     open_error_screen, read_error_screen, result_screen, wait_for)


class Exposes(EndToEnd):
    size = (1024, 768)
    window_manager = False

    def setUp(self):
        super().setUp()
        if self.window_manager:
            self.server.start_window_manager()

    def expose_and_wait_for_change(self, before, base_line, x=0, y=0, size=30):
        """Uncovers a small square at (x, y); returns the screen once the line has changed."""
        self.server.cover(x, y, size, size)
        return wait_for("the line to be drawn again", lambda: (
            lambda image: image if image.text_band(base_line) != before.text_band(base_line)
            else None)(self.server.capture()), self.wait)

    def test_first_marker_note_loses_its_blank_when_only_the_markers_corner_is_exposed(self):
        w, h = self.size
        self.run_program(self.touch.path)
        entry = self.wait_screen("first marker", first_marker_screen)
        note = h // 2 + 24
        exposed = self.expose_and_wait_for_change(entry, note, w // 4 - 51, h // 4 - 51)
        # The same note, starting where it did and ending a blank earlier ("Esc.If").
        first, last = entry.ink_columns(note)
        self.assertEqual(exposed.ink_columns(note)[0], first)
        self.assertIn(last - exposed.ink_columns(note)[1], range(1, 10))
        self.wait_screen("first marker", first_marker_screen)
        self.assertEqual(self.server.cursor(), "hidden")

    def test_read_error_after_a_click_is_drawn_again_with_the_full_stop(self):
        w, h = self.size
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        self.server.click_at(w // 4 - 1, h // 4 - 1)
        self.touch_when_reading("repeat 1501 syn")
        after_click = self.wait_screen("read error", read_error_screen)
        exposed = self.expose_and_wait_for_change(after_click, h // 2, w - 30, h - 30)
        # The full-stop message is the one a failed read after Enter shows.
        self.server.key("r")
        self.wait_screen("first marker", first_marker_screen)
        self.server.key("Return")
        self.touch_when_reading("repeat 1501 syn")
        after_key = self.wait_screen("read error", read_error_screen)
        self.assertTrue(exposed.pixels == after_key.pixels, "not the full-stop message")

    def test_an_open_error_becomes_the_first_marker_once_the_device_is_there(self):
        device = os.path.join(self.folder.name, "event-later")
        self.run_program(device)
        self.wait_screen("open error", open_error_screen)
        os.mkfifo(device)
        self.server.cover(0, 0, 30, 30)
        self.wait_screen("first marker", first_marker_screen)
        self.assertEqual(self.server.cursor(), "hidden")

    @unittest.skipIf(os.path.exists("/dev/input/event2"), "this machine has /dev/input/event2")
    def test_the_default_devices_open_error_becomes_the_typed_devices(self):
        h = self.size[1]
        self.run_program()
        default = self.wait_screen("open error", open_error_screen)
        typed = self.expose_and_wait_for_change(default, h // 4)
        self.assertTrue(typed.text_band(h // 4 + 50) == default.text_band(h // 4 + 50))
        self.wait_screen("open error", open_error_screen)

    @unittest.skipUnless(os.geteuid() == 0, "a private /dev needs root")
    def test_the_intro_is_drawn_again_without_usage_and_its_last_line_at_a_third(self):
        # The built-in /dev/input/event2, in a private mount namespace over the real /dev.
        layers = self.folder.name
        for folder in ("upper/input", "work"):
            os.makedirs(os.path.join(layers, folder))
        open(os.path.join(layers, "upper/input/event2"), "w").close()
        mount = ("mount -t overlay overlay -o lowerdir=/dev,upperdir=$0/upper,workdir=$0/work "
                 "/dev && exec \"$@\"")
        if subprocess.run(["unshare", "-m", "sh", "-c", mount, layers, "true"]).returncode:
            self.skipTest("no overlay over /dev here")
        self.run_program(wrapper=["unshare", "-m", "sh", "-c", mount, layers])
        intro = self.wait_screen("intro", intro_screen)
        w, h = self.size
        self.server.cover(w - 30, 0, 30, 30)
        exposed = self.wait_screen("intro repaint", intro_repaint_screen)
        self.assertTrue(exposed.text_band(h // 4) == intro.text_band(h // 4))
        self.assertTrue(exposed.text_band(h // 4 + 60) != intro.text_band(h // 4 + 60),
                        "the usage line still starts with \"Usage: \"")

    def test_the_result_screen_is_drawn_again_unchanged_with_the_pointer(self):
        w, h = self.size
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        result = self.calibrate_from_first_marker()
        self.server.cover(w // 10, h // 6 - 20, 200, 140)
        time.sleep(0.3)
        self.assertTrue(self.wait_screen("result", result_screen).pixels == result.pixels)
        self.assertEqual(self.server.cursor(), "visible")
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)


class ExposesUnderAWindowManager(Exposes):
    window_manager = True


del EndToEnd

if __name__ == "__main__":
    unittest.main()
