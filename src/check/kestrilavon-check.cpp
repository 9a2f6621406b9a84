// SPDX-License-Identifier: MIT
// kestrilavon-check: finds the touch screen, says how a calibration with kestrilavon will go,
// shows a calibration at work, hands it to the driver the user has (a udev rule, an xorg.conf
// section, the running X or sway, tslib's pointercal) and calibrates any touch screen on nine
// targets, under X, Wayland or on the bare framebuffer. Writes no file but what --install is
// asked to keep. See its manual page.

#include "CheckWidget.h"
#include "calibration_run.h"
#include "check_forms.h"
#include "check_session.h"
#include "check_window.h"
#include "command_line/command_line.h"
#include "framebuffer/framebuffer.h"
#include "input/devices.h"
#include "input/listing.h"
#include "install.h"
#include "said.h"
#include "udev/rule_edits.h"
#include "udev/rules_file.h"
#include "x_input.h"

#include <QApplication>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int showLive(int device, const std::optional<DeviceInfo> &info, const CheckOptions &options,
             const std::optional<Monitor> &monitor)
{
    QScreen *screen = nullptr;
    if (!windowScreen(monitor, options.monitorName, &screen))
        return 2;
    CheckWidget widget(device, QString::fromLocal8Bit(options.devicePath.c_str()), readResultFile(options.resultPath),
                       QString::fromLocal8Bit(options.resultPath.c_str()), monitor,
                       info && reachesCompositorAsPointer(*info));
    showFullScreenOn(widget, screen);
    return qApp->exec();
}

// What the verb that is no --calibrate reads of the device, before anything else: for a form,
// the touch screen; for the live view, the device open and what it is. Its status where that
// fails.
struct DeviceRead {
    std::optional<DeviceInfo> touchScreen;
    std::vector<int> live;
    std::optional<DeviceInfo> liveInfo;
};

int readDevice(const CheckOptions &options, DeviceRead *read)
{
    if (options.form() != Form::None || options.tslib) {
        std::string problem;
        read->touchScreen = touchScreen(options.devicePath, &problem);
        return read->touchScreen ? 0 : fail(problem);
    }
    const std::optional<std::vector<int>> live = openDevices({options.devicePath}, WhenHeld::Show);
    if (!live)
        return 1;
    read->live = *live;
    read->liveInfo = describeDevice(options.devicePath);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // A closed pipe is a failed write, reported as one, not a silent death part way through
    // (after X was changed, before the line that undoes it).
    std::signal(SIGPIPE, SIG_IGN);
    // Under pkexec the requester picks the arguments, and its polkit action lets them keep a
    // calibration alone: checked before anything is opened.
    const CommandLine commandLine = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                                     ::geteuid() == 0 && std::getenv("PKEXEC_UID"));
    if (!commandLine.options) {
        fail(commandLine.refusal);
        if (commandLine.usageFollows)
            std::fputs(kCheckUsage, stderr);
        return 2;
    }
    const CheckOptions &options = *commandLine.options;
    if (options.action == CheckOptions::Action::Help) {
        std::fputs(kCheckHelp, stdout);
        return finishOutput(0);
    }
    if (options.action == CheckOptions::Action::Version) {
        std::printf("kestrilavon-check %s\n", kVersion);
        return finishOutput(0);
    }
    const bool tslib = options.tslib;
    const std::string &monitorName = options.monitorName;
    // Pinned: the window part's fresh environment holds no TSLIB_CALIBFILE, and its forms name
    // the file root writes.
    namePointercal(options.pointercalFile.empty() ? pointercalPath() : options.pointercalFile);
    const FramebufferChoice framebuffer =
        chooseFramebuffer(options.framebufferPath, std::getenv("QT_QPA_PLATFORM"), std::getenv("TSLIB_FBDEVICE"));
    if ((options.asked(Form::Install) || options.asked(Form::Uninstall)) && ::geteuid() != 0)
        return fail("--install and --uninstall change " + (tslib ? pointercalPath() : std::string(kRulesFolder))
                    + ", which takes root: " + asRootCommand(argc, argv));
    if (options.devicePath.empty() && !options.calibrate)
        return listDevices();
    // Root reads the device; what needs no root from then on runs as the user who ran sudo, so
    // that root asks no one's X. --install and --uninstall write as root to the end.
    DeviceRead device;
    if (!options.calibrate) {
        int status = readDevice(options, &device);
        if (status == 0 && !options.asked(Form::Install) && !options.asked(Form::Uninstall))
            becomeTheUserWhoAsked(device.live, &status);
        if (status != 0)
            return status;
    }
    // Under sudo or pkexec the window runs as the user who asked, in that user's session; run
    // by root alone, as the session's owner, or as nobody.
    int sessionStatus = 0;
    const std::optional<UserSession> session = options.calibrate && ::geteuid() == 0
        ? windowSession(argv, options.waylandName, framebuffer, &sessionStatus) : std::nullopt;
    if (sessionStatus != 0)
        return sessionStatus;
    // The monitor the touch screen lies on. Under a window part, that part asks X itself as the
    // user: root connects to no one's display before it keeps what it is handed.
    std::optional<XScreenLayout> layout;
    std::optional<Monitor> monitor;
    if (!session) {
        // Without X, --install's --output names weston's output (udev's WL_OUTPUT).
        const bool westonsOutput = options.form() == Form::Install && !options.calibrate && !tslib;
        if (const int status = placeOnX(monitorName, &layout, &monitor, westonsOutput))
            return status;
    }
    // Without X, --install keeps the output as udev's WL_OUTPUT for weston: checked before
    // anything is measured.
    const bool waylandOutput = session ? session->wayland : !layout;
    if (waylandOutput && !monitorName.empty() && options.asked(Form::Install) && !tslib
        && !waylandOutputProblem(monitorName).empty())
        return fail("--output " + printable(monitorName) + ": " + waylandOutputProblem(monitorName)) + 1;
    if (options.calibrate)
        return runCalibrate(argv, options, framebuffer, session, layout, monitor);
    if (device.touchScreen)
        return printForm(options, *device.touchScreen, layout, monitor, framebuffer);
    const int status = windowsOn(argv, device.live, framebuffer, [&](const std::vector<int> &fds) {
        return showLive(fds[0], device.liveInfo, options, monitor);
    });
    closeDevices(device.live);
    return status;
}

