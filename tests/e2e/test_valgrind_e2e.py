# SPDX-License-Identifier: MIT
"""One whole calibration under valgrind memcheck: no memory error in the program's own code."""
import glob
import os
import unittest
import xml.etree.ElementTree as ElementTree

from harness import EndToEnd, first_marker_screen

SOURCES = os.path.realpath(os.environ.get("KESTRILAVON_SOURCES", "../../src"))
SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "valgrind.supp")


def own_errors(xml_paths):
    """The errors with a stack frame in our sources, as readable text."""
    found = []
    errors = [e for path in xml_paths for e in ElementTree.parse(path).getroot().iter("error")]
    for error in errors:
        frames = error.findall("./stack/frame")
        if any(os.path.realpath(frame.findtext("dir", "")).startswith(SOURCES) for frame in frames):
            where = [f"{f.findtext('fn', '?')} {f.findtext('file', '')}:{f.findtext('line', '')}"
                     for f in frames]
            found.append(error.findtext("kind") + ": " + " < ".join(where))
    return found


class UnderValgrind(EndToEnd):
    size = (640, 480)
    wait = 180.0

    def test_a_whole_calibration(self):
        # One file per process: the toolkit's D-Bus library may fork a helper.
        log = os.path.join(self.folder.name, "memcheck.%p.xml")
        self.run_program(self.touch.path, wrapper=[
            "valgrind", "--tool=memcheck", "--leak-check=no", f"--suppressions={SUPPRESSIONS}", "--xml=yes", f"--xml-file={log}"])
        self.wait_screen("first marker", first_marker_screen)
        self.calibrate_from_first_marker()
        self.server.key("Escape")
        self.assertEqual(self.program.wait_exit(), 0)
        logs = glob.glob(os.path.join(self.folder.name, "memcheck.*.xml"))
        self.assertTrue(logs)
        self.assertEqual(own_errors(logs), [])


del EndToEnd

if __name__ == "__main__":
    unittest.main()
