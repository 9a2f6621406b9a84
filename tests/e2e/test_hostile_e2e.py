# SPDX-License-Identifier: MIT
"""Hostile devices and planted result files: a clear screen, no crash, no hang, nothing touched
outside the result file, and status 0 after Esc."""
import glob
import os
import pwd
import shutil
import subprocess
import time
import unittest

from harness import (KESTRILAVON, RESULT_FILE, EndToEnd, first_marker_screen, open_error_screen,
                     read_error_screen, second_marker_screen, wait_for)

AS_ROOT = os.geteuid() == 0


def unprivileged_user():
    try:
        return pwd.getpwnam("nobody").pw_uid
    except KeyError:
        return None


def remove_result_file():
    if os.path.isdir(RESULT_FILE) and not os.path.islink(RESULT_FILE):
        os.rmdir(RESULT_FILE)
    elif os.path.lexists(RESULT_FILE):
        os.unlink(RESULT_FILE)


class Hostile(EndToEnd):
    size = (640, 480)

    def escape_ends_with_status_0(self):
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)

    def unprivileged_copy(self):
        """The program where an unprivileged user can run it (the build may not be reachable)."""
        copy = os.path.join(self.folder.name, "kestrilavon")
        shutil.copy(KESTRILAVON, copy)
        os.chmod(copy, 0o755)
        return copy


class HostileDevices(Hostile):

    def test_devices_that_open_but_never_give_a_touch(self):
        for device in (self.folder.name, "/dev/null", "/dev/zero", "/dev/urandom"):
            with self.subTest(device):
                self.run_program(device)
                self.wait_screen("first marker", first_marker_screen)
                self.server.key("Return")
                self.wait_screen("read error", read_error_screen)
                self.escape_ends_with_status_0()

    def test_a_fifo_with_no_writer_is_shown_and_left_with_esc(self):
        device = os.path.join(self.folder.name, "silent-fifo")
        os.mkfifo(device)
        self.run_program(device)
        self.wait_screen("first marker", first_marker_screen)
        self.escape_ends_with_status_0()

    def test_a_file_that_ends_in_the_middle_of_a_record(self):
        device = os.path.join(self.folder.name, "cut")
        record = bytes(16) + bytes([3, 0, 0, 0]) + (500).to_bytes(4, "little")
        with open(device, "wb") as file:
            file.write(record + record.replace(bytes([3, 0, 0, 0]), bytes([3, 0, 1, 0]), 1)[:16]
                       + bytes([3, 0, 1, 0]) + (600).to_bytes(4, "little") + record[:10])
        self.run_program(device)
        self.wait_screen("first marker", first_marker_screen)
        self.server.key("Return")
        # x 500, y 600, then end of file: taken from the 51st record on.
        self.wait_screen("second marker", second_marker_screen)
        self.escape_ends_with_status_0()

    def test_paths_that_do_not_open(self):
        for path in ("/nonexistent/event9", "%s%n%x%s%n", "/tmp/" + "d/" * 1998,
                     os.path.join(self.folder.name, "%s%n%x")):
            with self.subTest(path[:40]):
                self.run_program(path)
                self.wait_screen("open error", open_error_screen)
                self.escape_ends_with_status_0()

    @unittest.skipUnless(AS_ROOT and unprivileged_user() is not None, "needs root and nobody")
    def test_a_device_the_user_may_not_read(self):
        device = os.path.join(self.folder.name, "secret")
        with open(device, "wb") as file:
            file.write(bytes(24 * 60))
        os.chmod(device, 0o600)
        self.run_program(device, user="nobody", binary=self.unprivileged_copy())
        self.wait_screen("open error", open_error_screen)
        self.escape_ends_with_status_0()


class PlantedResultFiles(Hostile):
    """What lies at /tmp/kestrilavon.tmp before the result is saved."""

    def setUp(self):
        super().setUp()
        remove_result_file()
        self.addCleanup(remove_result_file)

    def calibrate(self, **options):
        self.run_program(self.touch.path, **options)
        self.wait_screen("first marker", first_marker_screen)
        image = self.calibrate_from_first_marker()
        self.escape_ends_with_status_0()
        # Line 7 says where the data is, or why it is not there.
        return image.text_band(self.size[1] // 6 + 180)

    def assert_saved(self):
        self.assertFalse(os.path.islink(RESULT_FILE))
        with open(RESULT_FILE) as file:
            self.assertIn('    Option  "BoderLeft" "100"\n', file.read())
        self.assertEqual(os.stat(RESULT_FILE).st_mode & 0o777, 0o644)

    def test_a_planted_link_is_replaced_and_its_target_untouched(self):
        victim = os.path.join(self.folder.name, "victim")
        with open(victim, "w") as file:
            file.write("precious\n")
        os.symlink(victim, RESULT_FILE)
        self.calibrate()
        with open(victim) as file:
            self.assertEqual(file.read(), "precious\n")
        self.assert_saved()

    def test_a_planted_fifo_neither_blocks_nor_is_written(self):
        os.mkfifo(RESULT_FILE)
        self.calibrate()
        self.assert_saved()

    def test_a_planted_directory_is_reported_on_the_result_screen(self):
        saved_line = self.calibrate()
        remove_result_file()
        os.mkdir(RESULT_FILE)
        self.assertTrue(self.calibrate() != saved_line, "line 7 still names the file")
        self.assertTrue(os.path.isdir(RESULT_FILE))
        self.assertEqual(os.listdir(RESULT_FILE), [])

    @unittest.skipUnless(AS_ROOT and unprivileged_user() is not None, "needs root and nobody")
    def test_another_users_file_in_sticky_tmp_is_left_alone(self):
        binary = self.unprivileged_copy()
        saved_line = self.calibrate(user="nobody", binary=binary)
        remove_result_file()
        with open(RESULT_FILE, "w") as file:
            file.write("root's own\n")
        self.assertTrue(self.calibrate(user="nobody", binary=binary) != saved_line,
                        "line 7 still names the file")
        with open(RESULT_FILE) as file:
            self.assertEqual(file.read(), "root's own\n")
        # Nor the hidden temporary file the result was written to.
        self.assertEqual(glob.glob(os.path.join(os.path.dirname(RESULT_FILE), "." + os.path.basename(RESULT_FILE) + ".*")), [])


def bus_processes():
    found = subprocess.run(["pgrep", "-x", "dbus-launch|dbus-daemon"], capture_output=True, text=True)
    return set(found.stdout.split())


class NothingLeftBehind(Hostile):
    """Run as root through sudo is: no session bus, no runtime folder. The toolkit must neither
    start a bus of its own nor make a folder, and a session's own bus is still used."""

    def setUp(self):
        super().setUp()
        self.home = os.path.join(self.folder.name, "home")
        os.mkdir(self.home)
        os.chmod(self.home, 0o777)
        for name in ("DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"):
            self.server.env.pop(name, None)
        self.server.env["HOME"] = self.home

    def left_behind(self, user):
        runtime = f"/tmp/runtime-{user}"
        return ([runtime] if os.path.exists(runtime) else []) + glob.glob("/tmp/dbus-*") \
            + os.listdir(self.home)

    def run_to_first_marker_and_escape(self, **options):
        started = time.monotonic()
        self.run_program(self.touch.path, **options)
        self.wait_screen("first marker", first_marker_screen)
        shown = time.monotonic() - started
        self.escape_ends_with_status_0()
        return shown

    def test_no_bus_is_started_and_nothing_written_as_root_or_nobody(self):
        runs = [("root", {})]
        if AS_ROOT and unprivileged_user() is not None:
            runs.append(("nobody", {"user": "nobody", "binary": self.unprivileged_copy()}))
        for user, options in runs:
            with self.subTest(user):
                buses, before = bus_processes(), self.left_behind(user)
                shown = self.run_to_first_marker_and_escape(**options)
                self.assertEqual(bus_processes() - buses, set())
                self.assertEqual(self.left_behind(user), before)
                # A refused bus start costs 3 s before the first screen.
                self.assertLess(shown, 2.0)
        with self.subTest("kestrilavon-check"):
            buses, before = bus_processes(), self.left_behind("root")
            self.run_program(self.touch.path,
                             binary=os.path.join(os.path.dirname(KESTRILAVON), "kestrilavon-check"))
            wait_for("the check's window", lambda: self.server.shows_window("kestrilavon-check"))
            self.escape_ends_with_status_0()
            self.assertEqual(bus_processes() - buses, set())
            self.assertEqual(self.left_behind("root"), before)

    def test_a_session_bus_that_is_there_is_used(self):
        buses = bus_processes()
        self.run_program(self.touch.path, wrapper=["dbus-run-session", "--"])
        self.wait_screen("first marker", first_marker_screen)
        runner = self.program.process.pid
        program = wait_for("the program under dbus-run-session", lambda: next(
            (pid for pid in subprocess.run(["pgrep", "-P", str(runner), "-x", "kestrilavon"],
                                           capture_output=True, text=True).stdout.split()), None))
        with open(f"/proc/{program}/environ", "rb") as file:
            environment = dict(entry.split(b"=", 1) for entry in file.read().split(b"\0") if entry)
        bus = ["dbus-send", "--bus=" + environment[b"DBUS_SESSION_BUS_ADDRESS"].decode(),
               "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus"]
        names = subprocess.run([*bus, "org.freedesktop.DBus.ListNames"], check=True,
                               capture_output=True, text=True).stdout.split()
        pids = [subprocess.run([*bus, "org.freedesktop.DBus.GetConnectionUnixProcessID",
                                "string:" + name.strip('"')], capture_output=True,
                               text=True).stdout.split()[-1:] for name in names if '":' in name]
        self.assertIn([program], pids)
        self.assertEqual(len(bus_processes() - buses), 1, "another bus was started")
        self.escape_ends_with_status_0()


del EndToEnd, Hostile

if __name__ == "__main__":
    unittest.main()
