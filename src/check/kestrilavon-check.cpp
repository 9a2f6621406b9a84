// SPDX-License-Identifier: MIT
// kestrilavon-check: finds the touch screen, says how a calibration with kestrilavon will go,
// shows a calibration at work, hands it to the driver the user has (a udev rule, an xorg.conf
// section, the running X or sway, tslib's pointercal) and calibrates any touch screen on five
// targets, under X, Wayland or on the bare framebuffer. Writes no file but what --install is
// asked to keep. See its manual page.

#include "CheckWidget.h"
#include "apply_in_session.h"
#include "command_line/command_line.h"
#include "check_calibrate.h"
#include "said.h"
#include "gnome_settings.h"
#include "put_back_list.h"
#include "root_part.h"
#include "running_session.h"
#include "handover/handover.h"
#include "unprivileged_session.h"
#include "window_start.h"
#include "input/devices.h"
#include "framebuffer/framebuffer.h"
#include "install.h"
#include "kwin_dbus.h"
#include "kwin_settings.h"
#include "input/listing.h"
#include "udev/rule_edits.h"
#include "udev/rules_file.h"
#include "text/shell_word.h"
#include "sway_ipc.h"
#include "udev/udevadm.h"
#include "wayland_session.h"
#include "x_input.h"
#include "x_display.h"

#include <QApplication>
#include <QScreen>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace {

// How long the check of a kept calibration may take: its countdown, given again for a touch that
// landed off or never reached the session, and the window's start.
constexpr std::chrono::seconds kCheckTime{120};
// How long the check's window part may take to read root's report.
constexpr std::chrono::seconds kReportSendTime{10};
const char kNoAbsoluteDevice[] = "no event device reports absolute X and Y: no touch screen is "
                                 "plugged in, its driver is not loaded, or /dev/input is not there "
                                 "(a container?)";

int listDevices()
{
    const std::vector<DeviceInfo> devices = listTouchDevices();
    if (devices.empty())
        return fail(kNoAbsoluteDevice);
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

int printForm(const CheckOptions &options, const std::optional<XScreenLayout> &layout,
              const std::optional<Monitor> &monitor, const FramebufferChoice &framebuffer)
{
    const Form form = options.form();
    const std::string &devicePath = options.devicePath;
    const std::string &resultPath = options.resultPath;
    const std::optional<std::string> &givenMatrix = options.givenMatrix;
    const bool port = options.port;
    const bool tslib = options.tslib;
    const std::string &monitorName = options.monitorName;
    std::string problem;
    const std::optional<DeviceInfo> device = touchScreen(devicePath, &problem);
    if (!device)
        return fail(problem);
    if (form == Form::Uninstall)
        return uninstallCalibration(*device, port);
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
            return tslibForm(*device, *matrix, form == Form::Install, monitor, framebuffer);
        return form == Form::Install
            ? installCalibration(*device, *matrix, onto, port, nullptr, waylandOutputOf(layout, monitorName))
                                     : printUdevRule(*device, *matrix, port);
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
    const Matrix matrix = libinputMatrix(*calibration, *device->x, *device->y);
    const std::string matrixTrouble = matrix.driverProblem();
    if (!matrixTrouble.empty())
        return fail("the borders in " + resultPath + " do not fit " + devicePath + ": "
                    + matrixTrouble + "; calibrate again");

    if (tslib)
        return tslibForm(*device, matrix, form == Form::Install, monitor, framebuffer);
    if (form == Form::Install)
        return installCalibration(*device, matrix, onto, port, nullptr, waylandOutputOf(layout, monitorName));
    if (form == Form::Apply) {
        const ApplyReport report = applyInSession(
            *device, {matrix, *result.borders, *device->x, *device->y, onto}, monitorName);
        if (!report.ok)
            return fail(report.text.substr(0, report.text.size() - 1));
        std::fputs(report.text.c_str(), stdout);
        return finishOutput(0);
    }
    problem = form == Form::Xorg ? nameProblemForXorg(device->name) : nameProblemForUdev(device->name);
    if (!problem.empty())
        return fail("will not write a configuration for " + devicePath + ": " + problem);
    if (form == Form::Udev)
        return printUdevRule(*device, matrix, port);
    for (const std::string &other : othersMatchedByProduct(*device))
        std::fprintf(stderr, "kestrilavon-check: note: the section matches %s as well: its name "
                     "holds \"%s\"\n", other.c_str(), printable(device->name).c_str());
    std::fputs(xorgSnippet(device->identity(), *result.borders, matrix, onto).c_str(), stdout);
    return finishOutput(0);
}

// The X screen the windows go on, and the monitor the touch screen lies on: the one named, else
// the one that holds the pointer. None in a Wayland session, where X (Xwayland) knows nothing of
// the outputs: the compositor does. Status 2 for a name X does not know, 1 for a name and no X
// to ask (unless the name may be a Wayland output's), said; else 0.
int placeOnX(const std::string &monitorName, std::optional<XScreenLayout> *layout, std::optional<Monitor> *monitor,
             bool waylandNameAllowed = false)
{
    const bool wayland = useWaylandWindows() || inSway();
    *layout = wayland ? std::nullopt : xScreenLayout();
    if (*layout) {
        *monitor = chooseMonitor(**layout, monitorName);
        if (!*monitor) {
            std::string names;
            for (const Monitor &m : (*layout)->monitors)
                names += (names.empty() ? "" : ", ") + printable(m.name);
            std::fprintf(stderr, "kestrilavon-check: no monitor %s on this X display; its monitors: %s\n",
                         printable(monitorName).c_str(), names.c_str());
            return 2;
        }
    } else if (!monitorName.empty() && !wayland && !waylandNameAllowed) {
        return fail("--output needs the X display, and it does not answer");
    }
    return 0;
}

// The windows on the devices at paths, which are closed when they are done.
int inWindow(char **argv, const std::vector<std::string> &paths, WhenHeld whenHeld,
             const FramebufferChoice &framebuffer, const std::function<int(const std::vector<int> &devices)> &body)
{
    const std::optional<std::vector<int>> devices = openDevices(paths, whenHeld);
    if (!devices)
        return 1;
    const int status = windowsOn(argv, *devices, framebuffer, body);
    closeDevices(*devices);
    return status;
}

// Whether the window part, once dropped as the session says, reaches its display: X with what
// it was handed, or the framebuffer through its group. Asked in a part of its own, as it runs.
bool reachesDisplay(const UserSession &session, char **argv, const FramebufferChoice &framebuffer)
{
    const WindowPartEnd end = runWindowPart(session, {}, [&](int) {
        if (!session.framebuffer)
            return xDisplayProblem(1, argv).empty() ? 0 : 1;
        const int fd = ::open(framebuffer.path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0 ? 0 : 1;
    }, std::chrono::seconds(20));
    return end.status == 0;
}

// The session the window part runs in when root runs the program: as the user who ran sudo or
// pkexec, else as the owner of the logind session the command runs in, else (root's own
// session, or none) as nobody handed only what the display needs. nullopt where the window
// runs as root: the display cannot be reached otherwise, said in one line. *status 2 with a
// line said when the user or the session cannot be told.
std::optional<UserSession> windowSession(char **argv, const std::string &waylandName,
                                         const FramebufferChoice &framebuffer, int *status)
{
    std::string problem;
    const std::optional<uid_t> invoking = invokingUid(std::getenv("SUDO_UID"), std::getenv("PKEXEC_UID"), &problem);
    if (invoking && problem.empty())
        problem = invokerProblem(*invoking, loginOwner());
    const std::optional<LogindSession> logind = problem.empty() ? logindSession() : std::nullopt;
    const std::optional<uid_t> user = sessionUser(invoking, logind ? std::optional(logind->owner) : std::nullopt);
    std::optional<UserSession> session;
    if (user) {
        session = findUserSession(*user, waylandName, &problem);
    } else if (problem.empty()) {
        std::string why;
        session = unprivilegedSession(framebuffer, &why);
        if (session && !reachesDisplay(*session, argv, framebuffer))
            why = "user " + session->environment.name + " cannot reach the display with what it is handed";
        if (!why.empty()) {
            std::fprintf(stderr, "kestrilavon-check: the window runs as root: %s\n", printable(why).c_str());
            return std::nullopt;
        }
    }
    // Drawn on the bare framebuffer while a window system holds the display, the targets would
    // lie behind it, where no one sees them.
    if (session && session->framebuffer && logind && graphicalSessionType(logind->type))
        problem = "this runs in a " + printable(logind->type) + " session, whose display was not found (no "
                  "DISPLAY, no Wayland socket of user " + session->environment.name + "): the framebuffer lies "
                  "behind it; run from a terminal of that session";
    if (!problem.empty()) {
        *status = fail(problem) + 1;
        return std::nullopt;
    }
    // Root reads sway's answer back after the install: under pkexec, which sets no SUDO_UID,
    // from the socket found here.
    if (session) {
        for (const auto &[name, value] : session->environment.display) {
            if (name == "SWAYSOCK")
                ::setenv("SWAYSOCK", value.c_str(), 0);
        }
    }
    return session;
}

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

// The other touch screens with the device's vendor and product id: GNOME maps them as one.
int twinsOf(const DeviceInfo &device)
{
    int twins = 0;
    for (const DeviceInfo &other : touchScreenCandidates(listTouchDevices()))
        twins += other.path != device.path && other.vendor == device.vendor && other.product == device.product;
    return twins;
}

// How long the session's user may take to settle or put back the desktop's mapping.
constexpr std::chrono::seconds kSettingTime{60};

// What the session's user changed so that the touch screen lies on its monitor while it is
// measured: GNOME's mapping, or KWin's output for the device.
struct MappingChange {
    std::optional<GnomeMappingChange> gnome;
    std::optional<KWinOutputChange> kwin;
};

bool putBackMapping(const MappingChange &change)
{
    return change.gnome ? putBackGnomeMapping(*change.gnome) : putBackKWinOutput(*change.kwin);
}

// The command that sets the mapping back as it was before, printable.
std::string mappingUndo(const MappingChange &change)
{
    return printable(change.gnome ? gsettingsUndo(change.gnome->path, change.gnome->before)
                                  : kwinOutputUndo(change.kwin->object, change.kwin->before));
}

// The outputs as the toolkit names them: on KWin, its outputs' own names.
std::vector<std::string> outputNames()
{
    std::vector<std::string> names;
    for (const QScreen *screen : QGuiApplication::screens())
        names.push_back(screen->name().toStdString());
    return names;
}

// KWin's output for the device settled, where KWin shows it, with the outputs the toolkit sees.
std::optional<KWinOutputChange> settleKWinWithScreens(char **argv, const FramebufferChoice &framebuffer,
                                                      const DeviceInfo &device, const std::string &outputName,
                                                      bool writing, bool *failed)
{
    const std::optional<std::string> current = kwinOutputName(device.path);
    if (!current)
        return std::nullopt;
    std::optional<KWinOutputChange> change;
    windowsOn(argv, {}, framebuffer, [&](const std::vector<int> &) {
        change = settleKWinOutput(device.path, *current, outputNames(), outputName, writing, failed);
        return 0;
    });
    return change;
}

// The desktop's mapping settled by the session's user, in a window part without a window; the
// change it made, as root checks it: GNOME's own setting's path and a value of three strings at
// most, or the device's object on KWin's bus and one output's name.
std::optional<MappingChange> settledAsUser(const UserSession &session, char **argv, const FramebufferChoice &framebuffer,
                                           const DeviceInfo &device, const std::string &outputName, bool writing,
                                           bool *failed)
{
    const int twins = twinsOf(device);
    const WindowPartEnd end = runWindowPart(session, {}, [&](int changeFd) {
        bool settleFailed = false;
        std::string text;
        if (const std::optional<GnomeMappingChange> gnome =
                settleGnomeMapping(device, twins, outputName, writing, &settleFailed))
            text = gvariantStrings(gnome->before);
        else if (const std::optional<KWinOutputChange> kwin =
                     settleFailed ? std::nullopt
                                  : settleKWinWithScreens(argv, framebuffer, device, outputName, writing, &settleFailed))
            text = kwinOutputHandover(kwin->before);
        if (!text.empty() && ::write(changeFd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            return 1;
        return settleFailed ? 1 : 0;
    }, kSettingTime);
    MappingChange change;
    if (const std::optional<std::string> kwinBefore = end.handover ? readKWinOutputHandover(*end.handover) : std::nullopt)
        change.kwin = KWinOutputChange{kwinDeviceObject(device.path), *kwinBefore};
    const std::optional<std::vector<std::string>> before = end.handover && !change.kwin
        ? parseGvariantStrings(*end.handover) : std::nullopt;
    if (before && before->size() <= 3)
        change.gnome = GnomeMappingChange{gnomeTouchscreenPath(device.vendor, device.product), *before};
    if (end.handover && !change.kwin && !change.gnome) {
        fail("the window part's note of the desktop's mapping before is not one: " + printable(*end.handover));
        return std::nullopt;
    }
    *failed = !end.handover && end.status != 0 && writing;
    if (!end.handover)
        return std::nullopt;
    return change;
}

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
                             std::optional<UserPart> *checkWindow) const;
    void reportInWindow(const std::optional<UserSession> &session, int status,
                        std::optional<UserPart> *checkWindow) const;
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
    // With the report's window to come, the check's window part stays once it has handed its
    // verdict over, and shows the report over its own window.
    std::optional<UserPart> checkWindow;
    const int status = keepWhatIsHandedOver(session, fds, end, calibrationWindow, keepingSaid, &checkWindow);
    calibrationWindow.letGo();
    int duringPutBack = 0;
    if (status != 0 && (whatRootChanged().putBackAll("", &duringPutBack), duringPutBack))
        endBySignal(128 + duringPutBack);
    else if (mapping)
        // Said again here, where the menu entry's report window shows it.
        std::printf("%s is kept with it. To undo that, as your user:\n    %s\n",
                    mapping->gnome ? "GNOME's mapping of the touch screen onto its monitor"
                                   : "KWin's mapping of the touch screen onto its output",
                    mappingUndo(*mapping).c_str());
    whatRootChanged().keepAll();
    if (keepingSaid)
        reportInWindow(session, status, &checkWindow);
    closeDevices(*fds);
    return status;
}

// What the window part handed over kept (or applied), and checked by a touch.
int CalibrationRun::keepWhatIsHandedOver(const std::optional<UserSession> &session,
                                         const std::optional<std::vector<int>> &fds, const WindowPartEnd &end,
                                         UserPart &calibrationWindow, bool keepingSaid,
                                         std::optional<UserPart> *checkWindow) const
{
    const std::string &monitorName = options.monitorName;
    Keeping keeping{options.asked(Form::Install), options.port, layout, monitor, monitorName, {}, {}};
    if (keeping.install || options.asked(Form::Apply)) {
        keeping.touchCheck = [&](size_t device, int bound) {
            // Stopped meanwhile: no check, and the old calibration back at once.
            if (heldSignal())
                return WindowPartEnd{};
            // What the report's window is to show is said into it by the parts forked after
            // it began; the calibration's was forked before.
            if (!keepingSaid
                && calibrationWindow.tell("check " + std::to_string(device) + " " + std::to_string(bound) + "\n"))
                return calibrationWindow.handOver(kCheckTime);
            // A second check, the report's window to come, or a window part gone: a window of
            // its own, once the calibration's has gone (it would read the device's records).
            calibrationWindow.letGo();
            checkWindow->emplace(*session, *fds, [&](int verdictFd) {
                return placed([&](const std::optional<XScreenLayout> &, const std::optional<Monitor> &on) {
                    return windowsOn(argv, *fds, framebuffer, [&](const std::vector<int> &open) {
                        return runTouchCheck(open[device], paths[device], bound, verdictFd, on, monitorName,
                                             false, nullptr, keepingSaid);
                    });
                });
            });
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
                                    std::optional<UserPart> *checkWindow) const
{
    std::string said = stopKeepingWhatIsSaid();
    if (said.empty())
        said = "Nothing was kept: the calibration ended before it was measured.\n";
    // Over the check's window where it waits for it: a window of its own, come after the
    // check's had gone, may be stacked below the program the focus fell back to.
    if (*checkWindow && (*checkWindow)->tellLast(reportText(status == 0, said), kReportSendTime)) {
        (*checkWindow)->handOver(kWindowTime);
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
