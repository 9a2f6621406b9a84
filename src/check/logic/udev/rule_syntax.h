// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_RULE_SYNTAX_H
#define KESTRILAVON_RULE_SYNTAX_H

#include <string>
#include <vector>

// A rules file read as udev reads it: its comment lines, blank lines and rules, each rule with
// its KEY{attr}OP"value" pairs and where they stand, so that one value can be changed and every
// other byte kept.

constexpr char kMatrixKey[] = "ENV{LIBINPUT_CALIBRATION_MATRIX}";

// One KEY{attr}OP"value" of a rule, with where it stands in its rule's text.
struct Pair {
    std::string key, op, value;
    size_t begin = 0, end = 0;            // the whole pair
    size_t valueBegin = 0, valueEnd = 0;  // inside the quotes
    bool isMatch() const { return op == "==" || op == "!="; }
    bool setsMatrix() const { return key == kMatrixKey && !isMatch() && op != "-="; }
};

// A comment line, a blank line, or one rule: a line and the lines a trailing backslash joins
// to it (udev skips comment lines among them). Each keeps its lines' own endings.
struct Unit {
    std::string text;
    bool rule = false;
    bool readable = false;  // its pairs were read
    std::vector<Pair> pairs;
    int id = 0;  // which unit it was in the text read, or one of those below for one added
};
constexpr int kAddedRule = -2;

bool lineEndAt(const std::string &text, size_t at, size_t *length);
void reread(Unit &unit);
std::vector<Unit> units(const std::string &text);
std::string joined(const std::vector<Unit> &all);

// Line numbers (from 1) of the units, in the text they make.
std::vector<int> lineNumbers(const std::vector<Unit> &all);

// A rule's lines as udev joins them: each backslash and line end dropped, with the blanks
// that begin the next line.
std::string asUdevJoinsIt(const std::string &text);

// The name as a udev match: udev reads *, ? and [ as patterns and | as "or", so each of them
// is matched by "?", any one character; the device's ids keep the rule to this device.
std::string udevMatchName(const std::string &name);

// The rule that begins at this line of the rules text, with the lines a backslash joins to it,
// without their endings.
std::string ruleAt(const std::string &rules, int line);

#endif
