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
    std::string key, op, value;           // the key with its {attr}; the value as udev reads it
    size_t begin = 0, end = 0;            // the whole pair
    size_t valueBegin = 0, valueEnd = 0;  // inside the quotes
    bool escaped = false;                 // e"...": udev reads C escapes in it
    bool isMatch() const { return op == "==" || op == "!="; }
    bool setsMatrix() const { return key == kMatrixKey && !isMatch() && op != "-="; }
};

// A comment line, a blank line, or one rule: a line and the lines a trailing backslash joins
// to it, comment lines among them, as udev joins them. Each keeps its lines' own endings.
struct Unit {
    std::string text;
    bool rule = false;
    bool readable = false;  // its pairs were read: udev would not drop it as invalid
    bool dangling = false;  // its last line ends in a backslash at the end of the file: udev never reads it
    std::vector<Pair> pairs;
    int id = 0;  // which unit it was in the text read, or one of those below for one added
};
constexpr int kAddedRule = -2;

void reread(Unit &unit);
std::vector<Unit> units(const std::string &text);
std::string joined(const std::vector<Unit> &all);

// Whether the rule goes on into whatever follows it: its last line ends in a backslash.
bool goesOn(const Unit &unit);

// Where udev may read the text otherwise than units() does, and why: a carriage return or NUL
// that ends a line for udev alone, a line or a rule longer than udev takes, a value with C
// escapes. Line 0 when there is nothing of the kind.
struct ReadOtherwise {
    int line = 0;
    std::string why;
};
ReadOtherwise whereUdevMayReadOtherwise(const std::string &text);

// Line numbers (from 1) of the units, in the text they make.
std::vector<int> lineNumbers(const std::vector<Unit> &all);

// A rule's lines as udev joins them: comment lines skipped, the blanks that begin each line and
// the backslash that ends one dropped.
std::string asUdevJoinsIt(const std::string &text);

// The name as a udev match: udev reads *, ? and [ as patterns and | as "or", so each of them
// is matched by "?", any one character; the device's ids keep the rule to this device.
std::string udevMatchName(const std::string &name);

// The rule that begins at this line of the rules text, with the lines a backslash joins to it,
// without their endings.
std::string ruleAt(const std::string &rules, int line);

#endif
