# SPDX-License-Identifier: MIT
"""kestrilavon-check's --help and manual page against its command-line parser and the
calibration's counts: an option added, renamed or dropped in one place, or a count that
changed in the code, fails here with what is missing where."""
import os
import re
import subprocess
import unittest

PROJECT = os.environ["KESTRILAVON_PROJECT"]
PROGRAM = os.environ["KESTRILAVON_CHECK"]
MANUAL = os.environ.get("KESTRILAVON_CHECK_MANUAL", os.path.join(PROJECT, "docs", "kestrilavon-check.1"))

# Other programs' options that the texts quote.
FOREIGN = {"--listmonitors": "xrandr", "--reload": "udevadm control"}
WORDS = "zero one two three four five six seven eight nine ten eleven twelve".split()


def read(*path):
    with open(os.path.join(PROJECT, *path), encoding="utf-8") as file:
        return file.read()


def parser_options():
    """{option: takes a value} from the getopt_long table and the short options string."""
    source = read("src", "check", "logic", "command_line", "command_line.cpp")
    table = re.search(r"const option kLongOptions\[\] = \{(.*?)\};", source, re.S).group(1)
    rows = re.findall(r'\{"([a-z-]+)", (no|required)_argument, nullptr, ([^}]+)\}', table)
    options = {"--" + name: kind == "required" for name, kind, _ in rows}
    shorts = re.search(r'getopt_long\([^;]*?"([^"]*)"', source).group(1)
    for letter in re.findall(r"[a-zA-Z]", shorts):
        long_ = [name for name, _, value in rows if value.strip() == "'%s'" % letter]
        options["-" + letter] = options["--" + long_[0]] if long_ else False
    return options


def help_text():
    return subprocess.run([PROGRAM, "--help"], capture_output=True, check=True, text=True).stdout


def help_options(text):
    """{option: takes a value} from the entries of --help: lines "  -h, --help  ..." and
    "  --result FILE  ..."."""
    options = {}
    for line in text.splitlines():
        entry = re.match(r"  ((?:-[a-zA-Z], )?--[a-z-]+)( [A-Z/][\w/]*)?(?:  |$)", line)
        if entry:
            for name in entry.group(1).split(", "):
                options[name] = entry.group(2) is not None
    return options


def manual_section(roff, title):
    found = re.search(r"^\.SH \"?%s\"?\n(.*?)(?=^\.SH )" % title, roff, re.S | re.M)
    return found.group(1) if found else ""


def manual_options(roff):
    """{option: takes a value} from the tag lines of the .TP entries of OPTIONS: an option
    that takes a value is tagged .BI, its value in italics."""
    options = {}
    lines = manual_section(roff, "OPTIONS").splitlines()
    for tp, tag in zip(lines, lines[1:]):
        if tp != ".TP":
            continue
        tag = tag.replace(r"\-", "-")
        takes_value = tag.startswith(".BI ")
        for name in re.findall(r"(?<![\w-])(--[a-z-]+|-[a-zA-Z])\b", tag):
            options[name] = takes_value
    return options


def plain(roff):
    """The words of a manual page, its markup taken out, for phrases split over lines."""
    words = []
    for line in roff.splitlines():
        macro = re.match(r"\.(B|I|BR|RB|BI|IB|IR|RI|SH|SS)\b ?(.*)", line)
        if macro:
            line = macro.group(2).replace('"', "")
        elif line.startswith((".", "'")):
            continue
        words.append(re.sub(r"\\f[BIRP]", "", line).replace(r"\-", "-").replace(r"\(dq", '"'))
    return " ".join(" ".join(words).split())


def differences(wanted, places):
    """Each option of the parser that one of places lacks, or lists with a value where the
    parser takes none (or the other way round). Options the parser does not take are found
    among the quoted ones."""
    problems = []
    for option, takes_value in sorted(wanted.items()):
        missing = [place for place, options in places.items() if option not in options]
        wrong = [place for place, options in places.items() if option in options and options[option] != takes_value]
        if missing:
            problems.append("%s: in the parser; missing from %s" % (option, ", ".join(missing)))
        if wrong:
            problems.append("%s: the parser %s a value, but %s" % (
                option, "takes" if takes_value else "takes no", ", ".join(wrong)))
    return problems


class OptionsAgree(unittest.TestCase):
    def test_help_and_manual_list_the_parsers_options_and_no_other(self):
        wanted = parser_options()
        self.assertGreater(len(wanted), 10, "the option table was not read")
        with open(MANUAL, encoding="utf-8") as file:
            roff = file.read()
        help_ = help_text()
        problems = differences(wanted, {"--help": help_options(help_), "the manual's OPTIONS": manual_options(roff)})
        for place, text in (("--help", help_), ("the manual", roff.replace(r"\-", "-"))):
            quoted = set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", text)) - set(FOREIGN)
            problems += ["%s quotes %s, which the parser does not take" % (place, option)
                         for option in sorted(quoted - set(wanted))]
        if problems:
            self.fail("\n" + "\n".join(problems))


class CountsAgree(unittest.TestCase):
    """The calibration's targets and the touches its compositor map needs paired, as the code
    has them, in the words the texts use."""

    def setUp(self):
        targets = re.search(r"static constexpr int kTargets = (\d+);",
                            read("src", "check", "logic", "geometry", "target_sequence.h"))
        # pairsNeeded: all but one in `share`, never fewer than `floor`.
        formula = re.search(r"size_t pairsNeeded\(int targets\)\s*\{\s*return static_cast<size_t>"
                            r"\(std::max\((\d+), targets - targets / (\d+)\)\);",
                            read("src", "check", "logic", "geometry", "compositor_map.cpp"))
        self.assertIsNotNone(targets, "TargetSequence::kTargets was not found")
        self.assertIsNotNone(formula, "pairsNeeded() changed its form: read it anew here")
        count = int(targets.group(1))
        floor, share = int(formula.group(1)), int(formula.group(2))
        self.targets = WORDS[count]
        self.paired = WORDS[max(floor, count - count // share)]

    def test_help_manual_listing_and_package(self):
        calibrate = "%s of the %s" % (self.paired, self.targets)
        with open(MANUAL, encoding="utf-8") as file:
            manual = plain(file.read())
        places = {
            "--help": (" ".join(help_text().split()), ["on %s targets" % self.targets, calibrate]),
            "the manual page": (manual, ["shows %s red targets" % self.targets, "on %s targets" % self.targets,
                                         "fewer than %s touches paired" % calibrate]),
            "the listing's better: line": (read("src", "check", "logic", "input", "listing.cpp"),
                                           ["(%s targets, one touch each" % self.targets]),
            "debian/control": (" ".join(read("debian", "control").split()), ["on %s targets" % self.targets]),
        }
        missing = ["%s lacks %r" % (place, phrase) for place, (text, phrases) in places.items()
                   for phrase in phrases if phrase not in text]
        if missing:
            self.fail("\n" + "\n".join(missing))


if __name__ == "__main__":
    unittest.main()
