// SPDX-License-Identifier: MIT
#include "install.h"

#include "said.h"
#include "desktops/kwin_input.h"
#include "desktops/unchecked_compositors.h"
#include "framebuffer/framebuffer.h"
#include "result_file.h"
#include "root_part.h"
#include "running_session.h"
#include "safe_file.h"
#include "input/listing.h"
#include "sway_ipc.h"
#include "udev/rule_edits.h"
#include "udev/device_holders.h"
#include "udev/rules_file.h"
#include "text/shell_word.h"
#include "udev/udev_sandbox.h"
#include "udev/udevadm.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <cstdlib>

namespace {

const std::string kRulesPath = std::string(kRulesFolder) + "/" + kRulesFile;

std::string lineList(const std::vector<int> &lines)
{
    std::string text = lines.size() == 1 ? "line " : "lines ";
    for (size_t i = 0; i < lines.size(); ++i)
        text += (i == 0 ? "" : i + 1 == lines.size() ? " and " : ", ") + std::to_string(lines[i]);
    return text;
}

// Re-adds the device and says what the session uses now: udev's property (and, where it is not
// the one written, which line sets it), X's re-added devices and sway's input. *signal gets a
// signal that came meanwhile: then only what is known at once is said.
std::string replugAndReadBack(const DeviceInfo &device, const std::optional<Matrix> &expected,
                              const std::string &rules, const std::optional<OntoMonitor> &onto, bool *ok,
                              int *signal, const AskKWin &askKWin = {})
{
    const std::string sysfsPath = sysfsPathOfNode(device.path);
    SessionReadBack session(device, expected, onto);
    const Replug replug = reloadAndReplug(sysfsPath);
    *signal = replug.signal;
    if (replug.addFailed) {
        *ok = false;
        return "Could not re-add " + device.path + ": " + printable(replug.problem) + ". It may be left "
               "removed: bring it back with sudo udevadm trigger --action=add " + shellWord(sysfsPath)
            + ", or unplug it and plug it in.\n";
    }
    if (!replug.problem.empty()) {
        *ok = false;
        return "Could not re-add " + device.path + ": " + printable(replug.problem)
            + ". Unplug it and plug it in again.\n";
    }
    const std::string udevMatrix = udevPropertyOf(sysfsPath, "LIBINPUT_CALIBRATION_MATRIX");
    std::string report = "Re-added " + device.path + " (as if unplugged and plugged in): udev gives it "
        + (udevMatrix.empty() ? std::string("no LIBINPUT_CALIBRATION_MATRIX")
                              : "LIBINPUT_CALIBRATION_MATRIX=" + printable(udevMatrix)) + ".\n";
    report += holdersReport(replug.holders, replug.secondsWaited);
    if (expected ? udevMatrix != expected->text() : !udevMatrix.empty()) {
        *ok = false;
        const int line = udevMatrix.empty() ? 0 : lineSettingMatrix(rules, udevMatrix);
        report += line ? "Line " + std::to_string(line) + " of " + kRulesPath + " sets that value, and udev "
                         "reads it last.\n"
                : udevMatrix.empty() ? "No rule that udev reads gives it one (udevadm test " + shellWord(sysfsPath)
                + " shows what it reads).\n"
                : "Another rules file sets it (udevadm test " + shellWord(sysfsPath) + " shows which).\n";
    }
    if (*signal) {
        report += "Interrupted: what X and the compositor use was not checked.\n";
        return report;
    }
    std::vector<std::string> holderNames;
    for (const Holder &holder : replug.holders)
        holderNames.push_back(processName(holder.pid));
    const bool swayHolds = std::find(holderNames.begin(), holderNames.end(), "sway") != holderNames.end();
    report += session.after(swayHolds, ok);
    const bool kwinAsked = askKWin && expected
        && std::find(holderNames.begin(), holderNames.end(), "kwin_wayland") != holderNames.end();
    if (kwinAsked) {
        const std::optional<std::string> handed = askKWin(*expected);
        report += kwinReadBackLine(handed ? readKWinAnswer(*handed) : std::nullopt, *expected, ok);
    }
    for (const std::string &compositor : uncheckedCompositors(holderNames)) {
        if (!(kwinAsked && compositor == "KWin"))
            report += notCheckedLine(compositor, device.stablePath());
    }
    return report;
}

// What udev gives the device as WL_OUTPUT after the re-add: weston maps the touch screen onto
// the output of that name when it adds the device.
std::string outputReadBack(const DeviceInfo &device, const std::string &expected, bool *ok)
{
    const std::string sysfsPath = sysfsPathOfNode(device.path);
    const std::string given = udevPropertyOf(sysfsPath, "WL_OUTPUT");
    if (given == expected)
        return "udev gives it WL_OUTPUT=" + expected + ": weston maps it onto that output.\n";
    *ok = false;
    return "udev gives it " + (given.empty() ? std::string("no WL_OUTPUT") : "WL_OUTPUT=" + printable(given))
        + ", not " + expected + ": another rule sets it after this one (udevadm test " + shellWord(sysfsPath)
        + " shows what udev reads).\n";
}

// Prints the report, then ends as the signal that came during the re-add asked: a stop once
// everything is said, anything else as the status 128 + its number.
int finishReport(const std::string &report, int status, int signal)
{
    std::fputs(report.c_str(), stdout);
    status = finishOutput(status);
    if (signal == SIGTSTP) {
        std::fflush(stderr);
        std::raise(SIGTSTP);
    } else if (signal) {
        std::fflush(stderr);
        endBySignal(128 + signal);
    }
    return status;
}

std::string editReport(const RulesEdit &edit)
{
    std::string report;
    if (edit.moved)
        report += "The device's rule now stands before the narrower rules for the same device: udev "
                  "takes the last matrix it reads, so theirs still win for their panels.\n";
    if (!edit.others.empty())
        report += "The rules on " + lineList(edit.others) + " match the same: left as they are (udev "
                  "reads the one edited last).\n";
    if (!edit.unread.empty())
        report += "The rules on " + lineList(edit.unread) + " name this device but hold a pair udev "
                  "cannot read, so udev skips them: left as they are.\n";
    return report;
}

// Why the rules file is left as it is: a line udev may read otherwise than this program.
std::string readOtherwiseProblem(const std::string &rules)
{
    const ReadOtherwise where = whereUdevMayReadOtherwise(rules);
    return where.line == 0 ? std::string()
                           : "line " + std::to_string(where.line) + " of " + kRulesPath + " holds " + where.why
            + ": udev may read the file otherwise than this program, so it is left as it is";
}

// Asks udev, in a namespace of its own, what the new rules give every device with the same ids;
// places the device's rule in front of a rule of the file that udev shows deciding for another
// panel. An empty string when udev's answer is the intended one (the devices that share the
// rule in *sharing), else why nothing may be written.
std::string askUdevFirst(const DeviceInfo &device, const RuleTarget &target, const Matrix &matrix,
                         const std::string &old, RulesEdit *edit, std::vector<std::string> *sharing)
{
    std::vector<JudgedDevice> devices;
    for (const auto &[node, name] : eventDevicesWithIds(device.identity()))
        devices.push_back({node, name, sysfsPathOfNode(node), {}, {}});
    const RulePlace editedBefore{kRulesPath, ruleLine(old, target)};
    int before = 0;
    for (int attempt = 0;; ++attempt) {
        const std::string problem = askUdev(kRulesPath, old.empty() ? nullptr : &old, edit->text, &devices);
        if (!problem.empty())
            return "could not ask udev what the new rule gives (" + problem + "): nothing was changed";
        const Verdict verdict = judge(devices, sysfsPathOfNode(device.path), matrix.text(), editedBefore,
                                      {kRulesPath, edit->line});
        *sharing = verdict.sharing;
        if (verdict.conflict.empty())
            return {};
        if (verdict.placeBefore.line == 0 || attempt == 2)
            return verdict.conflict + ". Nothing was changed. To give this panel a rule of its own, "
                   "read after that one: " + keepCommand(device, matrix, true);
        before = before == 0 ? verdict.placeBefore.line : std::min(before, verdict.placeBefore.line);
        *edit = withMatrix(old, target, matrix, before);
    }
}

} // namespace

std::optional<RuleTarget> ruleTarget(const DeviceInfo &device, bool port)
{
    const std::string nameProblem = nameProblemForUdev(device.name);
    if (!nameProblem.empty()) {
        fail("will not write a udev rule for " + device.path + ": " + nameProblem);
        return std::nullopt;
    }
    RuleTarget target{device.identity(), ""};
    if (port) {
        target.idPath = udevPropertyOf(sysfsPathOfNode(device.path), "ID_PATH");
        const std::string problem = idPathProblem(target.idPath);
        if (!problem.empty()) {
            fail("no port rule for " + device.path + ": " + problem);
            return std::nullopt;
        }
    }
    return target;
}

std::string asRootCommand(int argc, char **argv)
{
    const std::string program = argv[0];
    std::string command = "sudo " + (program.find('/') == std::string::npos ? std::string("kestrilavon-check")
                                                                            : shellWord(program));
    for (int i = 1; i < argc; ++i)
        command += " " + shellWord(printable(argv[i]));
    return command;
}

int installCalibration(const DeviceInfo &device, const Matrix &matrix,
                       const std::optional<OntoMonitor> &onto, bool port, RulesChange *change,
                       const std::string &waylandOutput, const AskKWin &askKWin)
{
    if (!waylandOutput.empty() && !waylandOutputProblem(waylandOutput).empty())
        return fail("--output " + printable(waylandOutput) + ": " + waylandOutputProblem(waylandOutput));
    // Identical panels share the device's rule: an output set there would map them all onto it.
    const bool twinsMoveToPort = !waylandOutput.empty() && !port && eventDevicesWithIds(device.identity()).size() > 1;
    port = port || twinsMoveToPort;
    std::optional<RuleTarget> target = ruleTarget(device, port);
    if (!target)
        return 1;
    target->waylandOutput = waylandOutput;
    // Held until the re-add and the read-back are done: another run in between would read
    // back this rule, or this run its.
    const RulesLock held(kRulesLock);
    RulesEdit edit;
    std::string unsure;
    std::vector<std::string> sharing;
    bool unchanged = false;
    if (change)
        change->udevBefore = udevPropertyOf(sysfsPathOfNode(device.path), "LIBINPUT_CALIBRATION_MATRIX");
    const std::string problem = editRulesFile(kRulesFolder, held, [&](const std::string &old) {
        if (change)
            change->before = old;
        unsure = readOtherwiseProblem(old);
        edit = withMatrix(old, *target, matrix);
        if (unsure.empty() && !edit.personsOutput.empty())
            unsure = "the rule on line " + std::to_string(ruleLine(old, *target)) + " of " + kRulesPath
                + " sets " + kWaylandOutputKey + "=\"" + printable(edit.personsOutput) + "\", which this program did "
                  "not write: it is left as it is, and nothing was changed (edit that line to map the "
                  "touch screen onto " + waylandOutput + ")";
        if (unsure.empty() && edit.text != old)
            unsure = askUdevFirst(device, *target, matrix, old, &edit, &sharing);
        unchanged = unsure.empty() && edit.text == old;
        return unsure.empty() ? edit.text : old;
    });
    if (!problem.empty() || !unsure.empty())
        return fail(problem.empty() ? unsure : problem);
    std::string report = "Installed in " + kRulesPath + ", line " + std::to_string(edit.line) + ":\n"
        + printable(ruleAt(edit.text, edit.line)) + "\n";
    // Then an undo to the same matrix would undo nothing.
    const std::optional<Matrix> old = edit.oldMatrix && !unchanged ? Matrix::parse(*edit.oldMatrix) : std::nullopt;
    if (unchanged)
        report += "It set that matrix already: the file is left as it was.\n";
    else if (old)
        report += "It replaces the matrix " + old->text() + "; the rule's other keys are kept.\n";
    else if (edit.oldMatrix)
        report += "It replaces a value that was not six numbers (\"" + printable(*edit.oldMatrix)
            + "\"): there is no undo line for it.\n";
    else if (edit.existed)
        report += "The rule was there without a matrix: the matrix is added, its other keys kept.\n";
    else
        report += port ? "The port had no rule there before.\n" : "The device had no rule there before.\n";
    if (twinsMoveToPort)
        report += "An identical panel shares the device's rule: the output is set on this panel's port "
                  "rule, so that the other one is not mapped onto it too.\n";
    if (!edit.oldOutput.empty() && edit.oldOutput != waylandOutput)
        report += "WL_OUTPUT was " + edit.oldOutput + ", as this program set it before.\n";
    report += editReport(edit);
    const std::vector<std::string> matched = matchedByRule(device.identity());
    report += "It matches";
    for (size_t i = 0; i < matched.size(); ++i)
        report += (i ? ", " : " ") + matched[i];
    report += port ? " on the port " + target->idPath + ".\n"
                   : matched.empty() ? " no device plugged in now.\n" : " (and every identical device).\n";
    for (const std::string &other : sharing)
        report += "udev gives it to " + other + " too: identical panels share the device's rule.\n";
    if (change) {
        change->after = edit.text;
        change->written = !unchanged;
    }
    bool ok = true;
    int signal = 0;
    report += replugAndReadBack(device, matrix, edit.text, onto, &ok, &signal, askKWin);
    if (!waylandOutput.empty())
        report += outputReadBack(device, waylandOutput, &ok);
    const std::string portWord = port ? "--port " : "";
    if (old)
        report += "To undo: sudo kestrilavon-check --install " + portWord + "--matrix \"" + old->text() + "\" "
            + (edit.oldOutput.empty() ? "" : "--output " + edit.oldOutput + " ") + shellWord(device.stablePath()) + "\n";
    else if (!edit.oldMatrix)
        report += "To undo: sudo kestrilavon-check --uninstall " + portWord + shellWord(device.stablePath()) + "\n";
    if (change && signal != SIGTSTP) {
        change->signal = signal;
        signal = 0;
    }
    return finishReport(report, ok ? 0 : 1, signal);
}

bool restoreRules(const DeviceInfo &device, const RulesChange &change, const std::optional<OntoMonitor> &onto,
                  int *signal)
{
    std::string report;
    std::string rules;
    bool changedSince = false;
    std::string problem;
    {
        const RulesLock held(kRulesLock);
        problem = editRulesFile(kRulesFolder, held, [&](const std::string &now) {
            changedSince = now != change.after;
            rules = changedSince ? now : change.before;
            return rules;
        });
        if (problem.empty() && !changedSince) {
            bool ok = true;
            const std::optional<Matrix> old = Matrix::parse(change.udevBefore);
            report += (change.before.empty() ? "Removed " + kRulesPath + ", which was not there before.\n"
                                             : "Put " + kRulesPath + " back as it was.\n")
                + replugAndReadBack(device, old, rules, onto, &ok, signal);
        }
    }
    const std::string udevNow = udevPropertyOf(sysfsPathOfNode(device.path), "LIBINPUT_CALIBRATION_MATRIX");
    if (problem.empty() && !changedSince && udevNow == change.udevBefore) {
        std::fputs((report + "The old calibration is back.\n").c_str(), stdout);
        return true;
    }
    report += "The old calibration is NOT back: "
        + (!problem.empty() ? printable(problem)
           : changedSince  ? kRulesPath + " was changed by someone else meanwhile, and is left as it is"
                           : "udev gives the device " + (udevNow.empty() ? std::string("no matrix") : printable(udevNow))
                    + ", not " + (change.udevBefore.empty() ? std::string("none") : printable(change.udevBefore)))
        + ". Finish it by hand: sudo kestrilavon-check --uninstall " + shellWord(device.stablePath())
        + (change.udevBefore.empty() ? std::string()
                                     : ", then sudo kestrilavon-check --install --matrix \"" + printable(change.udevBefore)
                   + "\" " + shellWord(device.stablePath()))
        + "\n";
    std::fputs(report.c_str(), stdout);
    return false;
}

int uninstallCalibration(const DeviceInfo &device, bool port)
{
    const std::optional<RuleTarget> target = ruleTarget(device, port);
    if (!target)
        return 1;
    const RulesLock held(kRulesLock);
    RulesEdit edit;
    std::string unsure;
    const std::string problem = editRulesFile(kRulesFolder, held, [&](const std::string &old) {
        unsure = readOtherwiseProblem(old);
        edit = withoutMatrix(old, *target);
        return unsure.empty() ? edit.text : old;
    });
    if (!problem.empty() || !unsure.empty())
        return fail(problem.empty() ? unsure : problem);
    if (!edit.changed)
        return fail(kRulesPath + " holds no " + (port ? "port rule" : "rule") + " with a matrix for "
                    + device.path + " \"" + printable(device.name) + "\": nothing to remove");
    std::string report = edit.lineRemoved
        ? "Removed the rule on line " + std::to_string(edit.line) + " of " + kRulesPath
            + (edit.text.empty() ? " (and the file: nothing else was in it).\n" : ".\n")
        : "Removed the matrix from the rule on line " + std::to_string(edit.line) + " of " + kRulesPath
            + "; its other keys are kept:\n" + printable(ruleAt(edit.text, edit.line)) + "\n";
    if (!edit.oldOutput.empty())
        report += "Removed WL_OUTPUT=" + edit.oldOutput + ", which this program set.\n";
    if (!edit.personsOutput.empty())
        report += "The rule's " + std::string(kWaylandOutputKey) + "=\"" + printable(edit.personsOutput)
            + "\" was not written by this program: kept.\n";
    report += editReport(edit);
    bool ok = true;
    int signal = 0;
    report += replugAndReadBack(device, std::nullopt, edit.text, std::nullopt, &ok, &signal);
    if (const std::optional<Matrix> old = edit.oldMatrix ? Matrix::parse(*edit.oldMatrix) : std::nullopt)
        report += "To undo: sudo kestrilavon-check --install " + std::string(port ? "--port " : "")
            + "--matrix \"" + old->text() + "\" " + (edit.oldOutput.empty() ? "" : "--output " + edit.oldOutput + " ")
            + shellWord(device.stablePath()) + "\n";
    return finishReport(report, ok ? 0 : 1, signal);
}
