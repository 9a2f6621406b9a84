// SPDX-License-Identifier: MIT
#include "install.h"

#include "check_calibrate.h"
#include "listing.h"
#include "sway_ipc.h"
#include "udev_rules.h"
#include "udevadm.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// Re-adds the device and says what the session uses now: udev's property, and on X the
// re-added X devices' matrix (X gives them new ids). Maps the device onto the monitor again.
std::string replugAndReadBack(const DeviceInfo &device, const std::optional<LibinputMatrix> &expected,
                              const std::optional<OntoMonitor> &onto, bool *ok)
{
    std::string report;
    const std::string sysfsPath = sysfsPathOfNode(device.path);
    const bool onX = !xDeviceMatrices(device.path).empty();
    const std::string problem = reloadAndReplug(sysfsPath);
    if (!problem.empty()) {
        *ok = false;
        return "Could not re-add " + device.path + ": " + problem + ". Unplug it and plug it in again.\n";
    }
    const std::string udevMatrix = udevMatrixOf(sysfsPath);
    report += "Re-added " + device.path + " (as if unplugged and plugged in): udev gives it "
        + (udevMatrix.empty() ? std::string("no LIBINPUT_CALIBRATION_MATRIX")
                              : "LIBINPUT_CALIBRATION_MATRIX=" + printable(udevMatrix)) + ".\n";
    if (expected ? udevMatrix != matrixText(*expected, false) : !udevMatrix.empty()) {
        *ok = false;
        report += "udev does not give it the matrix written: another rules file (read after "
                  "99-kestrilavon.rules, or matching it first) overrides it.\n";
    }
    if (inSway() && expected) {
        // sway adds the device again once libinput hears of it.
        std::string swayMatrix;
        for (int tries = 0; tries < 50 && swayMatrix != matrixText(*expected, false); ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            swayMatrix = swayMatrixOf(device);
        }
        if (swayMatrix.empty()) {
            report += "sway does not show the device yet.\n";
        } else if (swayMatrix != matrixText(*expected, false)) {
            report += "sway uses " + swayMatrix + ", not udev's matrix: a matrix set through its IPC "
                      "or in its config overrides udev's on every re-add (remove that input's "
                      "calibration_matrix line and reload sway).\n";
            *ok = false;
        } else {
            report += "sway reads it now.\n";
        }
    }
    if (!onX)
        return report;
    // X adds the device again once it hears of it from udev.
    std::vector<XDeviceMatrix> devices;
    for (int tries = 0; tries < 50; ++tries) {
        devices = xDeviceMatrices(device.path);
        if (!devices.empty())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (devices.empty()) {
        report += "X has not added the device again: its X configuration may not take devices "
                  "from udev (AutoAddDevices off); restart X to load the rule.\n";
        return report;
    }
    for (const XDeviceMatrix &x : devices) {
        report += "X device " + std::to_string(x.id) + " \"" + x.name + "\" ";
        if (!x.libinput) {
            report += "is driven by evdev, which does not read udev's matrix: use --xorg for it.\n";
            *ok = false;
        } else if (expected && (!x.matrix || !sameMatrix(*x.matrix, *expected))) {
            report += "does not use udev's matrix: an xorg.conf.d CalibrationMatrix option "
                      "overrides it.\n";
            *ok = false;
        } else {
            report += expected ? "reads it now.\n" : "is back to no calibration.\n";
        }
    }
    report += "X added the device again (its ids may be new): undo lines printed before no longer "
              "apply.\n";
    if (onto) {
        const std::string refused = setTransformation(device.path, onto->transformation);
        report += refused.empty() ? "Mapped it onto the monitor " + printable(onto->monitor.name) + " again.\n"
                                  : "Could not map it onto its monitor again: " + refused + "\n";
    }
    return report;
}

} // namespace

std::string asRootCommand(int argc, char **argv)
{
    const std::string program = argv[0];
    std::string command = "sudo " + (program.find('/') == std::string::npos ? std::string("kestrilavon-check")
                                                                            : shellWord(program));
    for (int i = 1; i < argc; ++i)
        command += " " + shellWord(printable(argv[i]));
    return command;
}

int installCalibration(const DeviceInfo &device, const LibinputMatrix &matrix,
                       const std::optional<OntoMonitor> &onto)
{
    const std::string nameProblem = nameProblemForUdev(device.name);
    if (!nameProblem.empty())
        return fail("will not write a udev rule for " + device.path + ": " + nameProblem);
    std::optional<std::string> replaced;
    const std::string problem = editRulesFile(kRulesFolder, [&](const std::string &old) {
        return withRule(old, device.identity(), matrix, &replaced);
    });
    if (!problem.empty())
        return fail(problem);
    std::string report = "Installed in " + std::string(kRulesFolder) + "/" + kRulesFile + ":\n"
        + udevRuleBlock(device.identity(), matrix);
    report += replaced ? "It replaces the rule that gave the matrix " + printable(*replaced) + ".\n"
                       : std::string("The device had no rule there before.\n");
    const std::vector<std::string> matched = matchedByRule(device.identity());
    report += "It matches";
    for (size_t i = 0; i < matched.size(); ++i)
        report += (i ? ", " : " ") + matched[i];
    report += matched.empty() ? " no device plugged in now.\n" : " (and every identical device).\n";
    bool ok = true;
    report += replugAndReadBack(device, matrix, onto, &ok);
    report += "To undo: " + (replaced ? "sudo kestrilavon-check --install --matrix \"" + printable(*replaced)
                                            + "\" " + shellWord(device.stablePath())
                                      : "sudo kestrilavon-check --uninstall " + shellWord(device.stablePath()))
        + "\n";
    std::fputs(report.c_str(), stdout);
    return finishOutput(ok ? 0 : 1);
}

int uninstallCalibration(const DeviceInfo &device)
{
    bool found = false;
    const std::string problem = editRulesFile(kRulesFolder, [&](const std::string &old) {
        return withoutRule(old, device.identity(), &found);
    });
    if (!problem.empty())
        return fail(problem);
    if (!found)
        return fail(std::string(kRulesFolder) + "/" + kRulesFile + " holds no rule for " + device.path
                    + " \"" + printable(device.name) + "\": nothing to remove");
    std::string report = "Removed the rule for \"" + printable(device.name) + "\" from "
        + kRulesFolder + "/" + kRulesFile + " (the file too, if it was the last).\n";
    bool ok = true;
    report += replugAndReadBack(device, std::nullopt, std::nullopt, &ok);
    std::fputs(report.c_str(), stdout);
    return finishOutput(ok ? 0 : 1);
}
