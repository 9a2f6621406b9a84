// SPDX-License-Identifier: MIT
#include "calibration_run.h"

#include "check_calibrate.h"
#include "check_window.h"
#include "check_forms.h"
#include "check_session.h"
#include "handover/handover.h"
#include "install.h"
#include "output_while_measuring.h"
#include "put_back_list.h"
#include "root_part.h"
#include "running_session.h"
#include "said.h"
#include "unprivileged_session.h"
#include "wayland_session.h"
#include "input/listing.h"
#include "udev/rules_file.h"
#include "udev/udevadm.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

// How long the check of a kept calibration may take: its countdown, given again for a touch that
// landed off or never reached the session, and the window's start.
constexpr std::chrono::seconds kCheckTime{120};
// How long the check's window part may take to read root's report.
constexpr std::chrono::seconds kReportSendTime{10};

// Whether to ask for a touch on the touch screen before calibrating: several could be it, or
// the one there is udev calls no touch screen (an absolute mouse may be a BTN_LEFT screen, or
// a virtual machine's pointer).
bool askFirst(const std::vector<DeviceInfo> &candidates)
{
    return candidates.size() > 1 || (candidates[0].judgedByUdev && !candidates[0].touchscreenByUdev);
}

// --calibrate without a device: the devices that can be the touch screen, when this user may
// read them all (a gamepad may be the one readable device: no choosing among the rest).
std::optional<std::vector<DeviceInfo>> calibrationCandidates()
{
    const std::vector<DeviceInfo> devices = listTouchDevices();
    const std::vector<DeviceInfo> candidates = touchScreenCandidates(devices);
    if (candidates.empty()) {
        fail(devices.empty() ? kNoAbsoluteDevice
                             : "no event device here can be a touch screen (kestrilavon-check "
                               "alone lists them, and says what each is)");
        return std::nullopt;
    }
    std::string unreadable;
    for (const DeviceInfo &device : candidates) {
        if (!device.readable || !device.x || !device.y)
            unreadable += (unreadable.empty() ? "" : ", ") + printable(device.path);
    }
    if (!unreadable.empty()) {
        fail("cannot read " + unreadable + ", which could be the touch screen: run as root, or "
             "join the input group (sudo adduser $USER input, then log in again)");
        return std::nullopt;
    }
    if (candidates.size() == 1 && !askFirst(candidates))
        std::fprintf(stderr, "kestrilavon-check: calibrating \"%s\" (%s), the one touch screen here\n",
                     printable(candidates[0].name).c_str(), printable(candidates[0].stablePath()).c_str());
    return candidates;
}

// libinput reads udev's matrix only when a device is added: one loaded since by a mere "change"
// (udevadm trigger's default) is not used yet. The compositor's map is solved against udev's
// matrix, so the device is added again first, and the session's answer is measured through it.
void readdBeforeMeasuring(const std::string &path)
{
    const Replug replug = reloadAndReplug(sysfsPathOfNode(path));
    if (replug.signal)
        endBySignal(128 + replug.signal);
    if (!replug.problem.empty())
        std::fprintf(stderr, "kestrilavon-check: could not re-add %s before measuring: %s\n", printable(path).c_str(),
                     printable(replug.problem).c_str());
    else
        std::fprintf(stderr, "kestrilavon-check: re-added %s first, so that the compositor uses udev's matrix "
                             "while it is measured\n", printable(path).c_str());
}

// The check of tslib's new pointercal in the window part: tslib there reads the file just
// written and root's ts.conf as sealed copies, since the user it runs as may not read them
// where they lie, and a calibration file tslib cannot open leaves its touches uncalibrated.
WindowPartEnd tslibCheckAsUser(const UserSession &session, char **argv, const std::vector<int> &fds,
                               const std::string &path, size_t device, int bound,
                               const FramebufferChoice &framebuffer, const std::optional<Monitor> &monitor,
                               const std::string &monitorName)
{
    const char *conf = std::getenv("TSLIB_CONFFILE");
    const char *plugins = std::getenv("TSLIB_PLUGINDIR");
    const std::string pluginFolder = plugins ? plugins : "";
    std::string problem;
    const int calibration = sealedCopyOf(pointercalPath(), &problem);
    const int settings = calibration < 0 ? -1 : sealedCopyOf(conf && *conf ? conf : "/etc/ts.conf", &problem);
    WindowPartEnd end;
    if (settings < 0) {
        fail("the check cannot hand tslib its files: " + problem);
    } else {
        std::vector<int> kept = fds;
        kept.insert(kept.end(), {calibration, settings});
        end = runWindowPart(session, kept, [&](int verdictFd) {
            ::setenv("TSLIB_CALIBFILE", ("/proc/self/fd/" + std::to_string(calibration)).c_str(), 1);
            ::setenv("TSLIB_CONFFILE", ("/proc/self/fd/" + std::to_string(settings)).c_str(), 1);
            if (!pluginFolder.empty())
                ::setenv("TSLIB_PLUGINDIR", pluginFolder.c_str(), 1);
            return windowsOn(argv, fds, framebuffer, [&](const std::vector<int> &open) {
                return runTouchCheck(open[device], path, bound, verdictFd, monitor, monitorName, true);
            });
        }, kCheckTime);
    }
    for (const int fd : {calibration, settings}) {
        if (fd >= 0)
            ::close(fd);
    }
    return end;
}

// --calibrate: the devices it is to calibrate, the one named or those that can be the touch
// screen; nullopt where there is none, said.
std::optional<std::vector<DeviceInfo>> calibrationDevices(const std::string &devicePath)
{
    if (devicePath.empty())
        return calibrationCandidates();
    std::string problem;
    const std::optional<DeviceInfo> device = touchScreen(devicePath, &problem);
    if (!device) {
        fail(problem);
        return std::nullopt;
    }
    return std::vector<DeviceInfo>{*device};
}

// --calibrate on its devices, where the window is: the steps share what it was asked and found.
struct CalibrationRun {
    char **argv;
    const CheckOptions &options;
    const FramebufferChoice &framebuffer;
    const std::optional<XScreenLayout> &layout;
    const std::optional<Monitor> &monitor;
    std::vector<DeviceInfo> devices;
    std::vector<std::string> paths;
    // A grab tells whether another program holds a device; with several to choose from,
    // the one touched cannot be held, and a grab of each would take a touch from X.
    WhenHeld whenHeld;
    // GNOME's mapping of the touch screen onto its monitor decides whether mutter turns its
    // touches: settled first, so that what is measured is what is kept.
    bool mappingWritten;

    int calibrateOn(const std::vector<int> &fds, int handoverFd, const std::optional<XScreenLayout> &xLayout,
                    const std::optional<Monitor> &on) const
    {
        CalibrateOptions calibrateOptions;
        calibrateOptions.askFirst = options.devicePath.empty() && askFirst(devices);
        calibrateOptions.apply = options.asked(Form::Apply);
        calibrateOptions.install = options.asked(Form::Install);
        calibrateOptions.port = options.port;
        calibrateOptions.tslib = options.tslib;
        calibrateOptions.framebuffer = framebuffer;
        calibrateOptions.handoverFd = handoverFd;
        return runCalibration(fds, devices, calibrateOptions, xLayout, on, options.monitorName);
    }

    int placed(const std::function<int(const std::optional<XScreenLayout> &, const std::optional<Monitor> &)> &window) const
    {
        std::optional<XScreenLayout> ownLayout;
        std::optional<Monitor> ownMonitor;
        const int status = placeOnX(options.monitorName, &ownLayout, &ownMonitor);
        return status ? status : window(ownLayout, ownMonitor);
    }

    int inOwnSession() const;
    int asRoot(const std::optional<UserSession> &session) const;
    std::optional<MappingChange> settleBeforeMeasuring(const std::optional<UserSession> &session,
                                                       std::optional<HeldUntilRestored> *held,
                                                       std::optional<PutBackList::Id> *outputWhileMeasuring,
                                                       bool *mappingFailed) const;
    int keepWhatIsHandedOver(const std::optional<UserSession> &session, const std::optional<std::vector<int>> &fds,
                             const WindowPartEnd &end, UserPart &calibrationWindow, bool keepingSaid,
                             std::optional<UserPart> *checkWindow, UserPart **reportPart) const;
    void reportInWindow(const std::optional<UserSession> &session, int status, UserPart *reportPart) const;
};

// Run by the session's own user (or by root with no one else to run as): the window here.
int CalibrationRun::inOwnSession() const
{
    const std::string &monitorName = options.monitorName;
    bool mappingFailed = false;
    const std::optional<GnomeMappingChange> mapping =
        ::geteuid() != 0 && useWaylandWindows() && devices.size() == 1
        ? settleGnomeMapping(devices[0], twinsOf(devices[0]), monitorName, mappingWritten, &mappingFailed)
        : std::nullopt;
    if (mappingFailed)
        return 1;
    const int status = inWindow(argv, paths, whenHeld, framebuffer, [&](const std::vector<int> &fds) {
        // KWin's output for the device, settled with the outputs this window sees.
        const std::optional<std::string> current = !mapping && ::geteuid() != 0 && onWayland()
                && devices.size() == 1 ? kwinOutputName(devices[0].path) : std::nullopt;
        const std::optional<KWinOutputChange> output = current
            ? settleKWinOutput(devices[0].path, *current, outputNames(), monitorName, mappingWritten,
                               &mappingFailed)
            : std::nullopt;
        const int calibrated = mappingFailed ? 1 : calibrateOn(fds, -1, layout, monitor);
        if (calibrated != 0 && output)
            putBackKWinOutput(*output);
        return calibrated;
    });
    if (status != 0 && mapping)
        putBackGnomeMapping(*mapping);
    return status;
}

// Under root, before the window part measures: the desktop's mapping settled as the user, the
// output an install maps the device onto set, the device re-added; each put back by root's list.
std::optional<MappingChange> CalibrationRun::settleBeforeMeasuring(const std::optional<UserSession> &session,
                                                                   std::optional<HeldUntilRestored> *held,
                                                                   std::optional<PutBackList::Id> *outputWhileMeasuring,
                                                                   bool *mappingFailed) const
{
    const std::string &monitorName = options.monitorName;
    std::optional<MappingChange> mapping;
    if (session->wayland && paths.size() == 1) {
        mapping = settledAsUser(*session, argv, framebuffer, devices[0], monitorName, mappingWritten, mappingFailed);
        if (*mappingFailed)
            return std::nullopt;
    }
    // Put back as the user, by a part of its own that the window part's end does not end,
    // and that the terminal's Ctrl-C does not cut short: root's bound alone does.
    if (mapping) {
        whatRootChanged().add([&session, change = *mapping](int *) {
            UserPart putBack(*session, {}, [&](int) { return putBackMapping(change) ? 0 : 1; }, false);
            if (putBack.answer(kSettingTime))
                return true;
            std::printf("%s is NOT put back. Put it back by hand, as your user:\n    %s\n",
                        change.gnome ? "GNOME's mapping of the touch screen onto its monitor"
                                     : "KWin's mapping of the touch screen onto its output",
                        mappingUndo(change).c_str());
            return false;
        });
    }
    // The output an install is to map the device onto, set while it is measured (weston's).
    const bool outputWanted = session->wayland && paths.size() == 1 && options.asked(Form::Install) && !options.tslib
        && !monitorName.empty();
    if (mapping || outputWanted)
        held->emplace();
    if (outputWanted) {
        int signal = 0;
        std::string outputBefore;
        if (setOutputWhileMeasuring(devices[0], options.port, monitorName, &outputBefore, &signal)) {
            *outputWhileMeasuring = whatRootChanged().add([this, outputBefore](int *duringReadd) {
                return endOutputWhileMeasuring(devices[0], outputBefore, duringReadd);
            });
        }
        if (signal || (*held)->signal())
            endBySignal(128 + (signal ? signal : (*held)->signal()));
    }
    if (session->wayland && paths.size() == 1 && !*outputWhileMeasuring)
        readdBeforeMeasuring(paths[0]);
    return mapping;
}

// Under root: root opens the devices and keeps the result; the window between runs as the user.
int CalibrationRun::asRoot(const std::optional<UserSession> &session) const
{
    const std::optional<std::vector<int>> fds = openDevices(paths, whenHeld);
    if (!fds)
        return 1;
    std::optional<HeldUntilRestored> held;
    std::optional<PutBackList::Id> outputWhileMeasuring;
    bool mappingFailed = false;
    const std::optional<MappingChange> mapping =
        settleBeforeMeasuring(session, &held, &outputWhileMeasuring, &mappingFailed);
    if (mappingFailed)
        return 1;
    // The window stays open while root keeps what it hands over, and shows the check.
    UserPart calibrationWindow(*session, *fds, [&](int handoverFd) {
        return placed([&](const std::optional<XScreenLayout> &xLayout, const std::optional<Monitor> &on) {
            return windowsOn(argv, *fds, framebuffer, [&](const std::vector<int> &open) {
                return calibrateOn(open, handoverFd, xLayout, on);
            });
        });
    });
    const WindowPartEnd end = calibrationWindow.handOver(kWindowTime, kHandoverLines);
    if (outputWhileMeasuring) {
        // The install that follows writes the output to keep, in its own rule.
        int signal = 0;
        whatRootChanged().putBack(*outputWhileMeasuring, &signal);
        if (signal)
            endBySignal(128 + signal);
    }
    if (held && held->signal())
        endBySignal(128 + held->signal());
    held.reset();
    if (end.timedOut)
        fail("the window part gave no answer within " + std::to_string(kWindowTime.count() / 60)
             + " minutes: it was stopped, and nothing was kept");
    // What is set on X or sway, and read back from them, is set and read as the user too.
    askRunningSessionAs(&*session);
    const bool keepingSaid = options.showReportWindow && startKeepingWhatIsSaid();
    // With the report's window to come, the window part of the last check stays once it has
    // handed its verdict over, and shows the report over its own window.
    std::optional<UserPart> checkWindow;
    UserPart *reportPart = nullptr;
    const int status =
        keepWhatIsHandedOver(session, fds, end, calibrationWindow, keepingSaid, &checkWindow, &reportPart);
    if (reportPart != &calibrationWindow)
        calibrationWindow.letGo();
    int duringPutBack = 0;
    if (status != 0) {
        whatRootChanged().putBackAll("", &duringPutBack);
        if (duringPutBack)
            endBySignal(128 + duringPutBack);
    } else if (mapping) {
        // Said again here, where the menu entry's report window shows it.
        std::printf("%s is kept with it. To undo that, as your user:\n    %s\n",
                    mapping->gnome ? "GNOME's mapping of the touch screen onto its monitor"
                                   : "KWin's mapping of the touch screen onto its output",
                    mappingUndo(*mapping).c_str());
    }
    whatRootChanged().keepAll();
    if (keepingSaid)
        reportInWindow(session, status, reportPart);
    calibrationWindow.letGo();
    closeDevices(*fds);
    return status;
}

// What the window part handed over kept (or applied), and checked by a touch.
int CalibrationRun::keepWhatIsHandedOver(const std::optional<UserSession> &session,
                                         const std::optional<std::vector<int>> &fds, const WindowPartEnd &end,
                                         UserPart &calibrationWindow, bool keepingSaid,
                                         std::optional<UserPart> *checkWindow, UserPart **reportPart) const
{
    const std::string &monitorName = options.monitorName;
    Keeping keeping{options.asked(Form::Install), options.port, layout, monitor, monitorName, {}, {}};
    if (keeping.install || options.asked(Form::Apply)) {
        keeping.touchCheck = [&, checkedThere = false](size_t device, int bound) mutable {
            // Stopped meanwhile: no check, and the old calibration back at once.
            if (heldSignal())
                return WindowPartEnd{};
            // The first check shows in the calibration's own window part, over its targets, and
            // the report after it over the check: a window of a new process, shown once the
            // focus had passed to another program, was now and then stacked below that program
            // by mutter 43, where no touch reached it.
            if (!checkedThere
                && calibrationWindow.tell("check " + std::to_string(device) + " " + std::to_string(bound)
                                          + (keepingSaid ? " report" : "") + "\n")) {
                checkedThere = true;
                if (keepingSaid)
                    *reportPart = &calibrationWindow;
                return calibrationWindow.handOver(kCheckTime, keepingSaid ? kTouchVerdictLines : 0);
            }
            // A second check, or a window part gone: a window of its own, once the
            // calibration's has gone (it would read the device's records).
            calibrationWindow.letGo();
            checkWindow->emplace(*session, *fds, [&](int verdictFd) {
                return placed([&](const std::optional<XScreenLayout> &, const std::optional<Monitor> &on) {
                    return windowsOn(argv, *fds, framebuffer, [&](const std::vector<int> &open) {
                        return runTouchCheck(open[device], paths[device], bound, verdictFd, on, monitorName,
                                             false, nullptr, keepingSaid);
                    });
                });
            });
            if (keepingSaid)
                *reportPart = &**checkWindow;
            return (*checkWindow)->handOver(kCheckTime, keepingSaid ? kTouchVerdictLines : 0);
        };
    }
    if (keeping.install && session->wayland) {
        keeping.askKWin = [&](size_t device, const Matrix &expected) {
            return runWindowPart(*session, {}, [&](int answerFd) {
                return handOverKWinAnswer(answerFd, paths[device], expected);
            }, kKWinReadBackTime + std::chrono::seconds(10)).handover;
        };
    }
    // tslib's touch is read on the bare framebuffer alone: under a window system the check's
    // touch would be the session's, not tslib's, and the line is written unchecked.
    const auto tslibCheck = [&](size_t device, int bound) {
        return tslibCheckAsUser(*session, argv, *fds, paths[device], device, bound, framebuffer, monitor,
                                monitorName);
    };
    // tslib's check reads the device in a window of its own, which the calibration's would
    // draw over.
    if (options.tslib)
        calibrationWindow.letGo();
    return !end.handover ? end.status
        : options.tslib && keeping.install
        ? keepPointercalHandedOver(*end.handover, devices, framebuffer,
                                   session->framebuffer ? std::function(tslibCheck) : nullptr)
        : keepHandedOver(*end.handover, devices, *fds, keeping);
}

// The menu entry's report: what was said, in the check's window where it waits for it.
void CalibrationRun::reportInWindow(const std::optional<UserSession> &session, int status,
                                    UserPart *reportPart) const
{
    std::string said = stopKeepingWhatIsSaid();
    if (said.empty())
        said = "Nothing was kept: the calibration ended before it was measured.\n";
    // Over the check's window where it waits for it: a window of its own, come after the
    // check's had gone, may be stacked below the program the focus fell back to.
    if (reportPart && reportPart->tellLast(reportText(status == 0, said), kReportSendTime)) {
        reportPart->handOver(kWindowTime);
    } else {
        runWindowPart(*session, {}, [&](int) {
            return placed([&](const std::optional<XScreenLayout> &, const std::optional<Monitor> &on) {
                return windowsOn(argv, {}, framebuffer, [&](const std::vector<int> &) {
                    return showReport(status == 0, said, on, options.monitorName);
                });
            });
        });
    }
}

} // namespace

int runCalibrate(char **argv, const CheckOptions &options, const FramebufferChoice &framebuffer,
                 const std::optional<UserSession> &session, const std::optional<XScreenLayout> &layout,
                 const std::optional<Monitor> &monitor)
{
    const std::optional<std::vector<DeviceInfo>> devices = calibrationDevices(options.devicePath);
    if (!devices)
        return 1;
    std::vector<std::string> paths;
    for (const DeviceInfo &device : *devices)
        paths.push_back(device.path);
    const WhenHeld whenHeld = paths.size() == 1 ? WhenHeld::Refuse : WhenHeld::Show;
    const bool mappingWritten =
        options.asked(Form::Install) || options.asked(Form::Apply) || !options.monitorName.empty();
    const CalibrationRun run{argv, options, framebuffer, layout, monitor, *devices, paths, whenHeld, mappingWritten};
    return session ? run.asRoot(session) : run.inOwnSession();
}
