# SPDX-License-Identifier: MIT
"""A whole calibration on a private X server with the simulated touch screen.

Saves a PNG of every screen it passes through into screenshots/, then prints the result file.
"""
import os
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
os.environ.setdefault("KESTRILAVON", os.path.join(TOP, "build", "kestrilavon"))
os.environ.setdefault("TOUCHSIM", os.path.join(TOP, "build", "touchsim"))
os.environ.setdefault("XPROBE", os.path.join(TOP, "build", "xprobe"))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))

from harness import (RESULT_FILE, Program, TouchScreen, XServer, first_marker_screen,  # noqa: E402
                     open_error_screen, read_error_screen, result_screen, screen_problems,
                     second_marker_screen, wait_for)

SHOTS = os.path.join(TOP, "screenshots")
WIDTH, HEIGHT = 1024, 768


def wait_and_save(server, program, name, screen):
    lines, markers = screen(WIDTH, HEIGHT)

    def shown():
        if program.process.poll() is not None:
            raise SystemExit(f"kestrilavon ended before the {name} screen")
        return not screen_problems(server.capture(), lines, markers)

    wait_for(f"the {name} screen", shown)
    path = os.path.join(SHOTS, f"{name}.png")
    server.capture(path)
    print(f"  {name:<14} {os.path.relpath(path, TOP)}")


def main():
    os.makedirs(SHOTS, exist_ok=True)
    print(f"No X display: running a demo calibration on a private {WIDTH}x{HEIGHT} Xvfb "
          "with a simulated touch screen.")
    server = XServer(WIDTH, HEIGHT)
    folder = tempfile.TemporaryDirectory()
    touch = TouchScreen(folder.name)
    try:
        program = Program(server, [touch.path])
        wait_and_save(server, program, "1-first-marker", first_marker_screen)
        server.key("Return")
        program.wait_reading(touch.path)
        print("  touch          " + touch.send("touch 300 250"))
        wait_and_save(server, program, "2-second-marker", second_marker_screen)
        server.click_at(3 * WIDTH // 4 - 1, 3 * HEIGHT // 4 - 1)
        program.wait_reading(touch.path)
        print("  touch          " + touch.send("touch 700 650"))
        wait_and_save(server, program, "3-result", result_screen)
        server.key("Escape")
        program.wait_exit()

        # The two screens that say something went wrong.
        program = Program(server, [touch.path])
        wait_and_save(server, program, "1-first-marker", first_marker_screen)
        server.key("Return")
        program.wait_reading(touch.path)
        touch.send("repeat 1501 syn")
        wait_and_save(server, program, "4-read-error", read_error_screen)
        server.key("Escape")
        program.wait_exit()
        program = Program(server, [os.path.join(folder.name, "no-such-event-device")])
        wait_and_save(server, program, "5-open-error", open_error_screen)
        server.key("Escape")
        program.wait_exit()
    finally:
        touch.stop()
        server.stop()
        folder.cleanup()

    print(f"\n{RESULT_FILE}:")
    with open(RESULT_FILE) as file:
        print(file.read())
    print("To calibrate a real touch screen, run on its X display (as root or a member of the "
          "input group):\n  ./run.sh /dev/input/eventN\n"
          "Find N with 'evtest' or in /dev/input/by-id/. See README.md.")


if __name__ == "__main__":
    main()
