# SPDX-License-Identifier: MIT
"""Runs kestrilavon on a private Xvfb with a simulated touch screen, and looks at the screen.

Paths of the built programs come from the environment (set by CTest):
KESTRILAVON, TOUCHSIM, XPROBE; RECORDINGS is the folder of evemu recordings.
"""
import os
import signal
import subprocess
import tempfile
import time
import unittest

KESTRILAVON = os.environ.get("KESTRILAVON", "build/kestrilavon")
TOUCHSIM = os.environ.get("TOUCHSIM", "build/touchsim")
XPROBE = os.environ.get("XPROBE", "build/xprobe")
RECORDINGS = os.environ.get("RECORDINGS", "tests/recordings")
RESULT_FILE = "/tmp/kestrilavon.tmp"
RED = (255, 0, 0)
WAIT = 15.0


def wait_for(what, condition, timeout=WAIT, interval=0.02):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(interval)


class XServer:
    """A private Xvfb with no window manager."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
             "-noreset", "-nolisten", "tcp"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number:
            self.process.kill()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        self.env = dict(os.environ, DISPLAY=self.display)
        self.env.pop("QT_QPA_PLATFORM", None)
        self.manager = None

    def stop(self):
        if self.manager:
            self.manager.terminate()
            self.manager.wait(timeout=10)
        self.process.terminate()
        self.process.wait(timeout=10)

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True)

    def key(self, name):
        self.xdotool("key", name)

    def click_at(self, x, y):
        # No --sync: it waits for a motion that never comes when the pointer is already there.
        self.xdotool("mousemove", x, y, "click", 1)

    def double_click(self):
        self.xdotool("click", "--repeat", 2, "--delay", 60, 1)

    def shows_window(self, program):
        """Whether a window of this program (its X class) is on screen."""
        return bool(subprocess.run(["xdotool", "search", "--onlyvisible", "--class", program],
                                   env=self.env, capture_output=True).stdout)

    def cover(self, x, y, width, height):
        """Maps an X window over that part of the screen and destroys it: an expose beneath."""
        subprocess.run([XPROBE, "cover", *map(str, (x, y, width, height))], env=self.env,
                       check=True)

    def start_window_manager(self):
        """openbox on this display, stopped with the server; returns once it manages windows."""
        self.manager = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Not its first property on the root window: a window mapped while openbox still starts
        # may never be shown. Ready is when it takes a window of ours into a frame.
        subprocess.run([XPROBE, "wait-wm"], env=self.env, check=True)

    def cursor(self):
        return subprocess.run([XPROBE, "cursor"], env=self.env, check=True,
                              capture_output=True, text=True).stdout.strip()

    def capture(self, path=None):
        with tempfile.NamedTemporaryFile(suffix=".ppm") as file:
            subprocess.run([XPROBE, "capture", file.name], env=self.env, check=True)
            image = Image.from_ppm(file.read())
        if path:
            subprocess.run([XPROBE, "capture", path], env=self.env, check=True)
        return image


class Image:
    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    @classmethod
    def from_ppm(cls, data):
        fields = data.split(maxsplit=4)
        assert fields[0] == b"P6" and fields[3] == b"255", "not an 8-bit PPM"
        return cls(int(fields[1]), int(fields[2]), fields[4])

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.pixels[i:i + 3])

    def red_pixels(self):
        return self.pixels_of((255, 0, 0))

    def pixels_of(self, colour):
        p, found = self.pixels, []
        for i in range(0, len(p), 3):
            if (p[i], p[i + 1], p[i + 2]) == colour:
                n = i // 3
                found.append((n % self.width, n // self.width))
        return found

    def dark_rows(self):
        """Rows that hold ink (anything clearly darker than white and not red)."""
        rows = set()
        w = self.width
        p = self.pixels
        for y in range(self.height):
            row = p[3 * w * y:3 * w * (y + 1)]
            if row.count(255) != len(row) and any(
                    row[i] < 128 and row[i + 1] < 128 for i in range(0, len(row), 3)):
                rows.add(y)
        return rows

    def ink_in(self, x0, y0, x1, y1):
        for y in range(max(y0, 0), min(y1, self.height - 1) + 1):
            for x in range(max(x0, 0), min(x1, self.width - 1) + 1):
                r, g, b = self.at(x, y)
                if r < 128 and g < 128:
                    return True
        return False

    def ink_columns(self, base_line):
        """The first and last column with ink in a text line's band."""
        columns = [x for x in range(self.width) for y in range(base_line - 16, base_line + 6)
                   if self.at(x, y)[0] < 128]
        return (min(columns), max(columns)) if columns else None

    def text_band(self, base_line, x0=0, x1=None):
        """The pixels of a text line's band, columns x0 to x1 (excluded), row after row."""
        x1 = self.width if x1 is None else x1
        rows = []
        for y in range(base_line - 16, base_line + 6):
            start = 3 * (y * self.width)
            rows.append(self.pixels[start + 3 * x0:start + 3 * x1])
        return b"".join(rows)


def marker_problems(image, cx, cy):
    """What is wrong with the marker that should be centred on (cx, cy)."""
    problems = []
    for d in range(-80, 81):
        if image.at(cx + d, cy) != RED or image.at(cx, cy + d) != RED:
            problems.append(f"cross not red at offset {d}")
            break
    for x, y in ((cx - 81, cy), (cx + 81, cy), (cx, cy - 81), (cx, cy + 81)):
        if 0 <= x < image.width and 0 <= y < image.height and image.at(x, y) == RED:
            problems.append(f"cross runs on to {x},{y}")
    for radius in (25, 50):
        for sx, sy in ((1, 1), (1, -1), (-1, 1), (-1, -1)):
            px = cx + round(sx * radius * 0.7071)
            py = cy + round(sy * radius * 0.7071)
            if not any(image.at(px + dx, py + dy) == RED for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                problems.append(f"no circle of radius {radius} near {px},{py}")
    return problems


def screen_problems(image, lines, markers=()):
    """Compares the screen with the texts (x, base line) and markers (centre) it should show:
    each text starts at its x, nothing else holds ink, no red outside the markers."""
    problems = []
    for x, y in lines:
        if not image.ink_in(x, y - 12, x + 10, y + 1):
            problems.append(f"no text starting at {x},{y}")
        elif image.ink_in(x - 10, y - 12, x - 1, y + 1):
            problems.append(f"text at {x},{y} starts further left")
    allowed = set()
    for _, y in lines:
        allowed.update(range(y - 16, y + 6))
    for cx, cy in markers:
        allowed.update(range(cy - 81, cy + 82))
    stray = sorted(image.dark_rows() - allowed)
    if stray:
        problems.append(f"ink in rows {stray[0]}..{stray[-1]} where no text belongs")
    red = image.red_pixels()
    for cx, cy in markers:
        problems.extend(marker_problems(image, cx, cy))
    outside = [(x, y) for x, y in red
               if not any(abs(x - cx) <= 80 and abs(y - cy) <= 80 for cx, cy in markers)]
    if outside:
        problems.append(f"{len(outside)} red pixels outside any marker, first at {outside[0]}")
    return problems


# Each screen as (texts, markers) for a w x h screen.
def first_marker_screen(w, h):
    return [(w // 4 - 20, h // 2), (w // 4 - 20, h // 2 + 24)], [(w // 4 - 1, h // 4 - 1)]


def second_marker_screen(w, h):
    return [(w // 4, h // 2), (w // 4, h // 2 + 24)], [(3 * w // 4 - 1, 3 * h // 4 - 1)]


def open_error_screen(w, h):
    return [(w // 8, h // 4), (w // 8 + 50, h // 4 + 50), (w // 6, h // 2)], []


def read_error_screen(w, h):
    return [(w // 4, h // 2)], []


def intro_screen(w, h):
    return [(w // 10, h // 4), (w // 10, h // 4 + 30), (w // 10 + 50, h // 4 + 60),
            (w // 4, h // 2 + 20)], []


def intro_repaint_screen(w, h):
    return [(w // 10, h // 4), (w // 10, h // 4 + 30), (w // 10 + 50, h // 4 + 60),
            (w // 3, h // 2 + 20)], []


def result_screen(w, h):
    top, left = h // 6, w // 10
    return [(left, top), (left + 50, top + 25), (left + 50, top + 50), (left + 50, top + 80),
            (left + 50, top + 105), (left - 20, top + 155), (left - 20, top + 180),
            (w // 80, top + 230), (w // 4, top + 280), (w // 4, top + 330)], []


class TouchScreen:
    """The simulated event device: a FIFO fed by touchsim."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "event-touch")
        self.process = subprocess.Popen([TOUCHSIM, self.path], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        ready = self.process.stdout.readline()
        assert ready.startswith("ready"), ready

    def send(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        answer = self.process.stdout.readline().strip()
        assert not answer.startswith("error"), answer
        return answer

    def stop(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            self.process.wait(timeout=10)
        self.process.stdout.close()


class Program:
    """kestrilavon, run as a person runs it, with its standard error stream kept."""

    def __init__(self, server, args, user=None, wrapper=(), binary=KESTRILAVON, wait=WAIT):
        self.stderr = tempfile.TemporaryFile()
        self.wait = wait
        command = [*wrapper, binary, *args]
        self.process = subprocess.Popen(command, env=server.env, stdout=subprocess.DEVNULL,
                                        stderr=self.stderr, user=user)

    def has_open(self, path):
        folder = f"/proc/{self.process.pid}/fd"
        try:
            return any(os.readlink(os.path.join(folder, fd)) == path for fd in os.listdir(folder))
        except (FileNotFoundError, ProcessLookupError):
            return False

    def wait_reading(self, path):
        wait_for(f"the program to open {path}", lambda: self.has_open(path), self.wait)

    def wait_exit(self):
        return self.process.wait(timeout=self.wait)

    def errors(self):
        self.stderr.seek(0)
        return self.stderr.read()

    def kill_and_check(self):
        """Ends the program if it still runs; a sanitizer's report is a failure."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait()
        errors = self.errors()
        self.stderr.close()
        for mark in (b"Sanitizer", b"runtime error:"):
            if mark in errors:
                raise AssertionError(errors.decode(errors="replace"))


class EndToEnd(unittest.TestCase):
    """A test with its own X server and touch screen; everything is stopped afterwards."""

    size = (1024, 768)
    wait = WAIT

    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        os.chmod(self.folder.name, 0o755)  # also for runs as an unprivileged user
        self.server = XServer(*self.size)
        self.addCleanup(self.server.stop)
        self.touch = TouchScreen(self.folder.name)
        self.addCleanup(self.touch.stop)
        self.program = None

    def tearDown(self):
        if self.program:
            self.program.kill_and_check()

    def run_program(self, *args, **options):
        if self.program:
            self.program.kill_and_check()
        self.program = Program(self.server, [str(a) for a in args], wait=self.wait, **options)
        return self.program

    def wait_screen(self, name, screen, w=None, h=None):
        w = w or self.server.width
        h = h or self.server.height
        lines, markers = screen(w, h)
        last = []

        def shown():
            if self.program and self.program.process.poll() is not None:
                raise AssertionError(f"the program ended ({self.program.process.returncode}) "
                                     f"waiting for the {name} screen")
            image = self.server.capture()
            last[:] = screen_problems(image, lines, markers)
            return image if not last else None

        try:
            return wait_for(f"the {name} screen", shown, self.wait)
        except AssertionError:
            keep = os.path.join(tempfile.gettempdir(), f"e2e-{self.id()}-{name}.png")
            self.server.capture(keep)
            raise AssertionError(f"{name} screen not shown: {last}; see {keep}") from None

    def touch_when_reading(self, *commands):
        self.program.wait_reading(self.touch.path)
        for command in commands:
            self.touch.send(command)

    def calibrate_from_first_marker(self, first="touch 300 250", second="touch 700 650"):
        """Enter for the first marker, a click on the second; returns the result screen."""
        w, h = self.size
        self.server.key("Return")
        self.touch_when_reading(first)
        self.wait_screen("second marker", second_marker_screen)
        self.server.click_at(3 * w // 4 - 1, 3 * h // 4 - 1)
        self.touch_when_reading(second)
        return self.wait_screen("result", result_screen)

    def touch_once_more_and_escape(self):
        """From the first marker: one good touch, then Esc ends the program with status 0."""
        self.server.key("Return")
        self.touch_when_reading("touch 400 400")
        self.wait_screen("second marker", second_marker_screen)
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)


def reference_sample(records):
    """The sample a touch read takes from these (type, code, value) records, by the reader's
    rules written out again here: (x, y, records read) or None."""
    x = y = 0
    released = False
    for count, (kind, code, value) in enumerate(records, start=1):
        if kind == 3 and code in (0, 1):
            if code == 0:
                x = value
            else:
                y = value
        elif kind == 1 and code == 0x110 and value == 0:
            released = True
        if released or count > 50:
            if 1 <= x <= 1999 and 1 <= y <= 1999:
                return x, y, count
            released = False
        if count >= 1501:
            return None
    return None


def recording(name):
    records = []
    with open(os.path.join(RECORDINGS, name)) as file:
        for line in file:
            if line.startswith("E:"):
                _, _, kind, code, value = line.split()[:5]
                records.append((int(kind, 16), int(code, 16), int(value)))
    return records
