// SPDX-License-Identifier: MIT
#include "check_calibrate.h"

#include "CalibrateWidget.h"

#include <QApplication>
#include <QScreen>

#include <cerrno>
#include <cstdio>
#include <cstring>

int fail(const std::string &line)
{
    std::fprintf(stderr, "kestrilavon-check: %s\n", line.c_str());
    return 1;
}

int finishOutput(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return fail(std::string("could not write the output: ") + std::strerror(errno));
    return status;
}

std::optional<DeviceInfo> touchScreen(const std::string &path, std::string *problem)
{
    const std::optional<DeviceInfo> device = describeDevice(path);
    if (!device) {
        *problem = errno == ENOTTY ? path + " is not an input event device"
                                   : "cannot open " + path + ": " + std::strerror(errno);
        if (errno == EACCES)
            *problem += " (its axis ranges are needed: run as root or join the input group)";
    } else if (!device->absoluteXY || !device->x || !device->y) {
        *problem = path + " does not report absolute X and Y: it is no touch screen";
    } else {
        return device;
    }
    return std::nullopt;
}

std::optional<OntoMonitor> ontoMonitor(const std::optional<XScreenLayout> &layout,
                                       const std::optional<Monitor> &monitor)
{
    if (!layout || !monitor || layout->monitors.size() < 2)
        return std::nullopt;
    return OntoMonitor{*monitor, monitorTransformation(*monitor, layout->width, layout->height)};
}

namespace {

// The forms of an accepted calibration: the udev rule, the xorg.conf section and the xinput
// command, each where the device's name allows it.
std::string formsText(const DeviceInfo &device, const Calibration &calibration,
                      const std::optional<OntoMonitor> &onto)
{
    const LibinputMatrix matrix = libinputMatrix(calibration, device.libinputX(), device.libinputY());
    std::string text;
    const std::string udevProblem = nameProblemForUdev(device.name);
    text += udevProblem.empty() ? udevRule(device.identity(), matrix)
                                : "# No udev rule for this device: " + udevProblem + "\n";
    const std::string xorgProblem = nameProblemForXorg(device.name);
    text += "\n" + (xorgProblem.empty()
                        ? xorgSnippet(device.identity(), axisAlignedBorders(calibration, *device.x, *device.y),
                                      matrix, onto)
                        : "# No xorg.conf section for this device: " + xorgProblem + "\n");
    // The command is for a shell: a name it would expand is left out.
    if (device.name.find_first_of("\"\\$`") == std::string::npos && udevProblem.empty()) {
        text += "\n# To try it on the running X with its libinput driver (a re-plug or a restart of X\n"
                "# forgets it):\nxinput set-prop \"" + device.name + "\" \"libinput Calibration Matrix\" "
                + matrixText(matrix, true) + "\n";
    }
    return text;
}

} // namespace

int runCalibration(int device, const DeviceInfo &info, bool apply,
                   const std::optional<XScreenLayout> &layout, const std::optional<Monitor> &monitor)
{
    QScreen *screen = screenForMonitor(monitor ? QString::fromStdString(monitor->name) : QString());
    const std::optional<OntoMonitor> onto = ontoMonitor(layout, monitor);
    int status = 1;
    CalibrateWidget widget(device, screen->geometry().width(), screen->geometry().height(), *info.x,
                           *info.y, [&](const Calibration &calibration) {
        std::fputs(formsText(info, calibration, onto).c_str(), stdout);
        status = finishOutput(0);
        if (!apply)
            return QString("The udev rule, the xorg.conf section and the xinput command are on the "
                           "standard output.");
        const LibinputMatrix matrix = libinputMatrix(calibration, info.libinputX(), info.libinputY());
        const ApplyReport report = applyToRunningX(
            info.path, {matrix, axisAlignedBorders(calibration, *info.x, *info.y), *info.x, *info.y, onto});
        if (!report.ok) {
            status = fail(report.text.substr(0, report.text.size() - 1));
            return QString("Not set on the running X: ") + QString::fromStdString(report.text);
        }
        std::fputs(("\n" + report.text).c_str(), stdout);
        status = finishOutput(status);
        return QString("Set on the running X: the pointer follows the finger now. The forms to keep "
                       "it, and the command to undo it, are on the standard output.");
    });
    widget.setGeometry(screen->geometry());
    widget.showFullScreen();
    widget.activateWindow();
    qApp->exec();
    return widget.accepted() ? status : 1;
}
