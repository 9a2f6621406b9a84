# SPDX-License-Identifier: MIT
"""Calibrations on a real kernel, run inside the virtual machine (tests/vm/run-in-vm): uinput
touch screens, Xvfb, and a real Xorg whose evdev or libinput driver turns each touch into a
click, as on a user's desk. The raw targets are those of the markers on a 1024 x 768 screen
with axes of 0..2047: (510, 510) and (1535, 1535), whose borders are exactly (-2, 2047)."""
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import (RESULT_FILE, WAIT, EndToEnd, XServer, first_marker_screen,  # noqa: E402
                     read_error_screen, result_screen, second_marker_screen, wait_for)

UITOUCH = os.environ.get("UITOUCH", "build/uitouch")
FIRST, SECOND = (510, 510), (1535, 1535)
EXACT = ('    Option  "BoderLeft" "-2"\n    Option  "BoderRight" "2047"\n'
         '    Option  "BoderTop" "-2"\n    Option  "BoderBottom" "2047"\n')

XORG_CONF = """
Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "AutoEnableDevices" "false"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 16384
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
    Modeline "1024x768" 65.00 1024 1048 1184 1344 768 771 777 806 -hsync -vsync
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "1024x768"
    EndSubSection
EndSection
Section "InputDevice"
    Identifier "touchscreen"
    Driver "{driver}"
    Option "Device" "{device}"
EndSection
Section "ServerLayout"
    Identifier "layout"
    Screen "screen"
    InputDevice "touchscreen" "CorePointer"
EndSection
"""


class TouchScreen:
    """A uinput touch screen; its commands are uitouch's."""

    def __init__(self, *options):
        self.process = subprocess.Popen([UITOUCH, *options], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        self.path = self.process.stdout.readline().split()[-1]

    def send(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        answer = self.process.stdout.readline()
        assert answer.startswith(("ok", "unplugged")), answer

    def stop(self):
        self.process.stdin.close()
        self.process.wait(timeout=10)
        self.process.stdout.close()


class Xorg(XServer):
    """A real X server: dummy video, one input device given by its driver."""

    def __init__(self, folder, driver, device):
        config = os.path.join(folder, "xorg.conf")
        with open(config, "w") as file:
            file.write(XORG_CONF.replace("{driver}", driver).replace("{device}", device))
        self.width, self.height, self.manager = 1024, 768, None
        self.display = ":7"
        self.process = subprocess.Popen(
            ["Xorg", self.display, "-config", config, "-noreset", "-nolisten", "tcp",
             "-logfile", os.path.join(folder, "Xorg.log")],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.env = dict(os.environ, DISPLAY=self.display)
        wait_for("Xorg", lambda: subprocess.run(["xprop", "-root"], env=self.env,
                                                capture_output=True).returncode == 0, 60)


class RealKernel(EndToEnd):
    wait = 60.0

    def setUp(self):
        # The harness's X server and FIFO are not used: each test makes its own.
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.program = None
        if os.path.lexists(RESULT_FILE):
            os.unlink(RESULT_FILE)

    def screen(self, *options, driver=None):
        self.touch = TouchScreen(*options)
        self.addCleanup(self.touch.stop)
        if driver:
            self.server = Xorg(self.folder.name, driver, self.touch.path)
        else:
            self.server = XServer(1024, 768)
        self.addCleanup(self.server.stop)

    def held(self, point, wait_reading=True):
        """A finger that lands on the point and stays still until the read has begun."""
        self.touch.send("down %d %d" % point)
        if wait_reading:
            self.program.wait_reading(self.touch.path)
        self.touch.send("up")

    def taps_until_read(self, point, limit=25):
        for taps in range(1, limit + 1):
            self.touch.send("touch %d %d" % point)
            time.sleep(0.2)
            if not self.program.has_open(self.touch.path):
                return taps
        self.fail(f"the read did not end after {limit} taps")

    def assert_exact_result(self):
        self.wait_screen("result", result_screen)
        with open(RESULT_FILE) as file:
            self.assertTrue(file.read().endswith(EXACT))
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)

    def enter_then_taps(self, *options):
        """Enter, then taps on each marker until its read ends; returns the taps per marker."""
        self.screen(*options)
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        taps = []
        for point, next_screen in ((FIRST, second_marker_screen), (SECOND, result_screen)):
            self.server.key("Return")
            self.program.wait_reading(self.touch.path)
            taps.append(self.taps_until_read(point))
            self.wait_screen("next", next_screen)
        print(f"\n{' '.join(options)}: taps per marker {taps}", file=sys.stderr)
        self.assert_exact_result()
        return taps

    def test_enter_then_one_touch_per_marker_with_btn_left(self):
        self.assertEqual(self.enter_then_taps("--button", "left"), [1, 1])

    def test_enter_then_taps_with_btn_touch(self):
        self.enter_then_taps("--button", "touch")

    def test_enter_then_taps_with_single_slot_multitouch(self):
        self.enter_then_taps("--button", "touch", "--multitouch")

    def touch_only(self, driver):
        self.screen("--button", "left", driver=driver)
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        self.held(FIRST)
        self.wait_screen("second marker", second_marker_screen)
        self.held(SECOND)
        self.assert_exact_result()

    def test_touch_only_on_xorg_with_evdev_one_still_touch_per_marker(self):
        self.touch_only("evdev")

    def test_touch_only_on_xorg_with_libinput_one_still_touch_per_marker(self):
        subprocess.run(["/lib/systemd/systemd-udevd", "--daemon"], check=True)
        self.addCleanup(subprocess.run, ["udevadm", "control", "--exit"])
        self.touch_only("libinput")

    def window_shown(self):
        return bool(subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "kestrilavon"],
                                   env=self.server.env, capture_output=True).stdout)

    def test_rapid_touches_write_nothing_once_the_window_is_gone(self):
        # A BTN_TOUCH screen driven by X: taps about 0.2 s apart, bursts of five, until two of them
        # make a double click; then as many again, as a user who goes on tapping.
        self.screen("--button", "touch", driver="evdev")
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        gone = None
        for burst in range(16):
            for _ in range(5):
                self.touch.send("touch %d %d" % FIRST)
                self.touch.send("wait 150")
            if gone is None and not self.window_shown():
                gone, bursts_left = time.time(), burst + 3
            if gone is not None and burst >= bursts_left:
                break
        self.assertIsNotNone(gone, "no double click closed the window")
        self.assertEqual(self.program.wait_exit(), 0)
        if os.path.exists(RESULT_FILE):
            self.assertLess(os.stat(RESULT_FILE).st_mtime, gone, "saved after the window went")

    def test_unplugging_during_the_read_gives_the_read_error(self):
        self.screen("--button", "left")
        self.run_program(self.touch.path)
        self.wait_screen("first marker", first_marker_screen)
        self.server.key("Return")
        self.program.wait_reading(self.touch.path)
        started = time.monotonic()
        self.touch.send("unplug")
        wait_for("the read to end", lambda: not self.program.has_open(self.touch.path))
        print(f"\nunplug: read ended after {time.monotonic() - started:.3f} s", file=sys.stderr)
        self.wait_screen("read error", read_error_screen)
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)


del EndToEnd

if __name__ == "__main__":
    unittest.main()
