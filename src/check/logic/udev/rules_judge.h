// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_RULES_JUDGE_H
#define KESTRILAVON_RULES_JUDGE_H

#include <string>
#include <vector>

// udev as the judge of a new rules file: which matrix each device would get, and from which
// rule. udevadm test prints a device's properties but not the rule that set one, so every
// rule that sets LIBINPUT_CALIBRATION_MATRIX is given a mark at the end of its value in the
// copies udev reads there; the mark in the answer names the rule that decided.

struct RulePlace {
    std::string file;
    int line = 0;  // 0: no rule
    bool operator==(const RulePlace &other) const { return file == other.file && line == other.line; }
};

// The text with a mark after the value of each pair that sets the matrix; *places gets where
// each mark's rule stands, a mark being its index there.
std::string markedRules(const std::string &text, const std::string &path, std::vector<RulePlace> *places);

// What udev gives a device: the matrix without marks, and the rule whose mark came last.
struct UdevAnswer {
    std::string matrix;  // empty: none
    RulePlace decidedBy;
};
// From udevadm test's list of properties.
UdevAnswer answerFromProperties(const std::string &properties, const std::vector<RulePlace> &places);

// One device the edit may touch: every device with the same ids.
struct JudgedDevice {
    std::string node, name, sysfsPath;
    UdevAnswer before, after;  // with the rules as they are, and with the new file
};

// Whether udev's answer is the intended one: the device gets the new matrix from the rule
// edited; a device that had its matrix from another rule keeps it; the others may share the
// edited rule.
struct Verdict {
    std::string conflict;             // why not, naming the rule that decides; empty when it is
    std::vector<std::string> sharing;  // the other devices that take the edited rule
    RulePlace placeBefore;  // a rule of the edited file (its line in the file as it is) to stand before
};
Verdict judge(const std::vector<JudgedDevice> &devices, const std::string &targetSysfsPath, const std::string &matrix,
              const RulePlace &editedBefore, const RulePlace &editedAfter);

// Whether two matrix values are the same six (or any) words.
bool sameWords(const std::string &a, const std::string &b);

#endif
