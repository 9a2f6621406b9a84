// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_INSTALL_H
#define KESTRILAVON_INSTALL_H

#include "input/devices.h"
#include "udev/rule_edits.h"
#include "x_input.h"

#include <functional>
#include <optional>
#include <string>

// kestrilavon-check --install and --uninstall: the device's rule in the udev rules file, then a
// synthetic re-plug so that libinput (X's driver, every Wayland compositor) reads it now, then
// what the session really uses, read back. Need root.

// The rule a calibration of the device goes in (with port, its port's): one line said and
// nullopt when its name or its port cannot go into a rule.
std::optional<RuleTarget> ruleTarget(const DeviceInfo &device, bool port);

// The line that says how to run this very command as root.
std::string asRootCommand(int argc, char **argv);

// Sets the matrix in the device's rule (with port, in the rule of its port alone), re-adds the
// device, prints the report (and maps the device onto the monitor again on X, where asked).
// Returns the status; a signal held off during the re-add ends the program once the report
// is out, with 128 + its number, unless change is given: then the caller puts the file back
// first, and ends as the signal asked.
// What an install changed, to put it back exactly: the rules file's text before and after
// ("" where there was none), and the matrix udev gave the device before.
struct RulesChange {
    std::string before, after;
    std::string udevBefore;
    bool written = false;  // the new text is in place
    int signal = 0;        // one that came during the re-add (a stop has already been taken)
};

// KWin's answer for the device once it shows the expected matrix (or the time is up), asked by
// the session's user in a part of its own: the text that part handed over, unchecked; nullopt
// where it handed none. Given, the read-back checks what KWin uses rather than saying that it
// was not checked.
using AskKWin = std::function<std::optional<std::string>(const Matrix &expected)>;

// With waylandOutput, the rule also sets WL_OUTPUT to it (on the port rule where an identical
// panel shares the device's rule), for weston; udev's answer is read back after the re-add.
int installCalibration(const DeviceInfo &device, const Matrix &matrix,
                       const std::optional<OntoMonitor> &onto, bool port = false,
                       RulesChange *change = nullptr, const std::string &waylandOutput = "",
                       const AskKWin &askKWin = {});

// The output --output names, where it is a Wayland output: with no X screen to name monitors.
inline std::string waylandOutputOf(const std::optional<XScreenLayout> &layout, const std::string &outputName)
{
    return layout ? std::string() : outputName;
}

// Puts the rules file back as it was before the install, when it is still as the install left
// it (another change since is not undone), re-adds the device and reads udev back: "the old
// calibration is back" only when udev gives the device its old matrix again; otherwise what
// failed and the command that finishes it. Prints the report; returns true when the old state
// is back.
bool restoreRules(const DeviceInfo &device, const RulesChange &change, const std::optional<OntoMonitor> &onto,
                  int *signal);

// Takes the matrix out of the device's rule (the port's), and the rule when nothing else is
// on it; then re-adds the device and reports, as installCalibration does.
int uninstallCalibration(const DeviceInfo &device, bool port = false);

#endif
