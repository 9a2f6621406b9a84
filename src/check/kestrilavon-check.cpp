// SPDX-License-Identifier: MIT
// kestrilavon-check: finds the touch screen, says how a calibration with kestrilavon will go,
// shows a calibration at work, hands it to the driver the user has (a udev rule, an xorg.conf
// section, the running X or sway, tslib's pointercal) and calibrates any touch screen on five
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

int showLive(int device, const std::string &devicePath, const std::string &resultPath,
             const std::optional<Monitor> &monitor, const std::string &monitorName)
{
    QScreen *screen = nullptr;
    if (!windowScreen(monitor, monitorName, &screen))
        return 2;
    const std::optional<DeviceInfo> info = describeDevice(devicePath);
    CheckWidget widget(device, QString::fromLocal8Bit(devicePath.c_str()), readResultFile(resultPath),
                       QString::fromLocal8Bit(resultPath.c_str()), monitor, info && reachesCompositorAsPointer(*info));
    showFullScreenOn(widget, screen);
    return qApp->exec();
}

int showLiveView(char **argv, const CheckOptions &options, const FramebufferChoice &framebuffer,
                 const std::optional<Monitor> &monitor)
{
    return inWindow(argv, {options.devicePath}, WhenHeld::Show, framebuffer, [&](const std::vector<int> &fds) {
        return showLive(fds[0], options.devicePath, options.resultPath, monitor, options.monitorName);
    });
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
    if (options.form() != Form::None || tslib)
        return printForm(options, layout, monitor, framebuffer);
    return showLiveView(argv, options, framebuffer, monitor);
}

