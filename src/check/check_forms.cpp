// SPDX-License-Identifier: MIT
#include "check_forms.h"

#include "apply_in_session.h"
#include "install.h"
#include "pointercal.h"
#include "result_file.h"
#include "check_session.h"
#include "said.h"
#include "input/listing.h"
#include "udev/rule_edits.h"
#include "udev/rules_file.h"
#include "udev/udevadm.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>

extern const char kNoAbsoluteDevice[] = "no event device reports absolute X and Y: no touch screen is "
                                 "plugged in, its driver is not loaded, or /dev/input is not there "
                                 "(a container?)";

int listDevices()
{
    const std::vector<DeviceInfo> devices = listTouchDevices();
    if (devices.empty())
        return fail(kNoAbsoluteDevice);
    // The devices read, what X says is asked as the user who ran sudo.
    if (int status = 0; !becomeTheUserWhoAsked({}, &status))
        return status;
    // Under X, also how X maps each device onto the monitors.
    const std::optional<XScreenLayout> layout = xScreenLayout();
    if (layout) {
        std::printf("X display %s: %zu monitor%s:", std::getenv("DISPLAY"), layout->monitors.size(),
                    layout->monitors.size() == 1 ? "" : "s");
        for (const Monitor &m : layout->monitors)
            std::printf(" %s (%dx%d at %d,%d)", printable(m.name).c_str(), m.width, m.height, m.x, m.y);
        std::printf("\n\n");
    }
    for (size_t i = 0; i < devices.size(); ++i) {
        std::printf("%s%s", i ? "\n" : "", describeForListing(devices[i]).c_str());
        struct stat status;
        if (layout && ::stat(devices[i].path.c_str(), &status) == 0 && S_ISCHR(status.st_mode)) {
            const std::string mapping = describeXMapping(status.st_rdev, *layout);
            std::fputs(mapping.empty() ? "  X: no X input device reads it\n" : mapping.c_str(), stdout);
        }
    }
    return finishOutput(0);
}

namespace {

// --udev: the rule as --install writes it on the standard output; how to load it, on the
// standard error stream.
int printUdevRule(const DeviceInfo &device, const Matrix &matrix, bool port)
{
    const std::optional<RuleTarget> target = ruleTarget(device, port);
    if (!target)
        return 1;
    std::fputs(udevRuleBlock(*target, matrix).c_str(), stdout);
    std::fputs(udevHowTo(device.identity(), sysfsPathOfNode(device.path)).c_str(), stderr);
    return finishOutput(0);
}

std::string resultProblem(const std::string &path, const ResultFile &result)
{
    return "no usable result file " + path + ": " + result.problem;
}

// --xorg, --udev and --apply: the device's ranges and ids, a trusted result, a usable matrix,
// then one form. Any problem: one line, status 1, nothing printed or set.
// --tslib: the pointercal line for the framebuffer's visible pixels (or, with none there, the
// monitor's), printed or, with install, written.
int tslibForm(const DeviceInfo &device, const Matrix &matrix, bool install,
              const std::optional<Monitor> &monitor, const FramebufferChoice &framebuffer)
{
    std::string said;
    const std::optional<std::pair<int, int>> size = pointercalSize(
        framebuffer, monitor ? std::optional(std::pair(monitor->width, monitor->height)) : std::nullopt, &said);
    if (!size)
        return fail(said);
    const std::optional<std::string> line =
        pointercalLine(calibrationFromLibinput(matrix, tslibX(device), tslibY(device)), size->first, size->second);
    if (!line)
        return fail("the calibration does not fit tslib's integers");
    std::fputs(said.c_str(), stdout);
    if (install)
        return installPointercal(*line);
    std::fputs(pointercalText(*line).c_str(), stdout);
    return finishOutput(0);
}


} // namespace

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

int printForm(const CheckOptions &options, const DeviceInfo &device,
              const std::optional<XScreenLayout> &layout, const std::optional<Monitor> &monitor,
              const FramebufferChoice &framebuffer)
{
    const Form form = options.form();
    const std::string &devicePath = options.devicePath;
    const std::string &resultPath = options.resultPath;
    const std::optional<std::string> &givenMatrix = options.givenMatrix;
    const bool port = options.port;
    const bool tslib = options.tslib;
    const std::string &monitorName = options.monitorName;
    std::string problem;
    if (form == Form::Uninstall)
        return uninstallCalibration(device, port);
    const std::optional<OntoMonitor> onto = ontoMonitor(layout, monitor);
    if (givenMatrix) {
        // A matrix given by hand that no driver should take is a wrong argument: status 2.
        const std::optional<Matrix> matrix = Matrix::parse(*givenMatrix);
        if (!matrix)
            return fail("--matrix takes six finite numbers, as \"1 0 0 0 1 0\"") + 1;
        const std::string trouble = matrix->driverProblem();
        if (!trouble.empty())
            return fail("will not use that matrix: " + trouble) + 1;
        if (tslib)
            return tslibForm(device, *matrix, form == Form::Install, monitor, framebuffer);
        return form == Form::Install
            ? installCalibration(device, *matrix, onto, port, nullptr, waylandOutputOf(layout, monitorName))
                                     : printUdevRule(device, *matrix, port);
    }
    const ResultFile result = readResultFile(resultPath);
    if (!result.borders)
        return fail(resultProblem(resultPath, result));
    if (!result.trusted())
        return fail("will not use " + resultPath + " in a configuration: it belongs to "
                    + result.ownerName() + ", not to root or to you");
    const std::optional<Calibration> calibration = calibrationFromBorders(*result.borders);
    if (!calibration)
        return fail("the borders in " + resultPath + " are equal on an axis: calibrate again");
    // The borders are in ABS_X and ABS_Y units; libinput reads the multitouch axes where there
    // are any, in ranges of their own, but in fractions of its range each axis says the same.
    const Matrix matrix = libinputMatrix(*calibration, *device.x, *device.y);
    const std::string matrixTrouble = matrix.driverProblem();
    if (!matrixTrouble.empty())
        return fail("the borders in " + resultPath + " do not fit " + devicePath + ": "
                    + matrixTrouble + "; calibrate again");

    if (tslib)
        return tslibForm(device, matrix, form == Form::Install, monitor, framebuffer);
    if (form == Form::Install)
        return installCalibration(device, matrix, onto, port, nullptr, waylandOutputOf(layout, monitorName));
    if (form == Form::Apply) {
        const ApplyReport report = applyInSession(
            device, {matrix, *result.borders, *device.x, *device.y, onto}, monitorName);
        if (!report.ok)
            return fail(report.text.substr(0, report.text.size() - 1));
        std::fputs(report.text.c_str(), stdout);
        return finishOutput(0);
    }
    problem = form == Form::Xorg ? nameProblemForXorg(device.name) : nameProblemForUdev(device.name);
    if (!problem.empty())
        return fail("will not write a configuration for " + devicePath + ": " + problem);
    if (form == Form::Udev)
        return printUdevRule(device, matrix, port);
    for (const std::string &other : othersMatchedByProduct(device))
        std::fprintf(stderr, "kestrilavon-check: note: the section matches %s as well: its name "
                     "holds \"%s\"\n", other.c_str(), printable(device.name).c_str());
    std::fputs(xorgSnippet(device.identity(), *result.borders, matrix, onto).c_str(), stdout);
    return finishOutput(0);
}
