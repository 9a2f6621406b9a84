// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_RULE_EDITS_H
#define KESTRILAVON_RULE_EDITS_H

#include "input/devices.h"
#include "forms/driver_forms.h"
#include "udev/rule_syntax.h"

#include <optional>
#include <string>
#include <vector>

// Everything about the udev rule that gives libinput a device's matrix: what it matches, how
// the device's name is put in it, the block --udev prints, and the edit of the rules file that
// --install and --uninstall make. The file is one people edit too: a rule is found by the set
// of what it matches, never by a comment, and only its matrix is changed; every other key and
// line is kept as it stands.


// Why a device name may not go into a udev rule, or an empty string. udev's own pattern
// characters are no problem: udevMatchName matches them.
std::string nameProblemForUdev(const std::string &name);

// Why udev's ID_PATH of a device cannot go into a rule (a character outside those udev puts
// there), or an empty string.
std::string idPathProblem(const std::string &idPath);

// The rule a calibration goes in: the device's (every identical device: same name and ids), or
// with its port's ID_PATH, the port rule of that one panel among identical ones.
struct RuleTarget {
    DeviceIdentity device;
    std::string idPath;  // empty for the device's rule
    // With --install --output: the Wayland output weston maps the device onto (its udev
    // WL_OUTPUT), set on the rule beside the matrix; empty to leave WL_OUTPUT as it is.
    std::string waylandOutput = {};
};

constexpr char kWaylandOutputKey[] = "ENV{WL_OUTPUT}";

// Why a name is not one of a Wayland output (HDMI-A-1, Virtual-2, eDP-1: letters, digits, '-',
// '_' and '.'), or an empty string. It goes into a rule, so nothing else is let through.
std::string waylandOutputProblem(const std::string &name);

// The block for one rule: a comment naming it, and the rule. --udev prints it, --install
// writes it when the file has no rule of that match yet.
std::string udevRuleBlock(const RuleTarget &target, const Matrix &matrix);

// A rule that sets only WL_OUTPUT to the target's Wayland output, with a comment naming it.
std::string outputOnlyRule(const RuleTarget &target);

// How to load the rule (its folder in sysfs given, for the one device to re-add), and who
// reads it: comment lines, to go with the rule.
std::string udevHowTo(const DeviceIdentity &device, const std::string &sysfsPath);

// What an edit of the rules text did. Lines are counted from 1 in the text given.
struct RulesEdit {
    std::string text;        // the new text; empty when nothing is left in it
    int line = 0;            // where the rule edited stands (0: there is none)
    bool existed = false;    // the target's rule was there before
    bool changed = false;    // install: always; uninstall: the rule set a matrix
    bool lineRemoved = false;  // uninstall: nothing else was left on the rule
    bool moved = false;      // the device's rule moved before a narrower rule
    std::optional<std::string> oldMatrix;  // the value it set before, as written (unchecked)
    std::vector<int> others;  // more rules with the same match, left as they are
    std::vector<int> unread;  // continued rules that name the device but could not be read
    // WL_OUTPUT on the rule: the value this program wrote there before (install) or took out
    // (uninstall); a person's own value, which is left as it is.
    std::string oldOutput, personsOutput;
};

// The text with the target's rule setting this matrix (its other keys kept), or a new rule
// where there was none: the device's rule before any narrower rule of the same device, a port
// rule right after the device's rule. Given the line of a rule in rules, the device's rule
// stands before that one too. With the target's Wayland output, the rule sets WL_OUTPUT to it
// too, and this program's comment above the rule names it, as what is this program's to take
// out again; a WL_OUTPUT of the person's on the rule is left as it is (personsOutput).
RulesEdit withMatrix(const std::string &rules, const RuleTarget &target, const Matrix &matrix,
                     int before = 0);

// The line where the target's rule begins, or 0.
int ruleLine(const std::string &rules, const RuleTarget &target);

// The text with the target's rule setting no matrix, and no WL_OUTPUT where it is still the one
// this program's comment names: the rule goes when nothing but its match is left on it, with
// the comment this program wrote above it.
RulesEdit withoutMatrix(const std::string &rules, const RuleTarget &target);

// The last line of the rules text that gives LIBINPUT_CALIBRATION_MATRIX this value, or 0.
int lineSettingMatrix(const std::string &rules, const std::string &value);


// The command that keeps this calibration: --install with the matrix, for the stable path.
std::string keepCommand(const DeviceInfo &device, const Matrix &matrix, bool port = false);

#endif
