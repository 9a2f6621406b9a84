// SPDX-License-Identifier: MIT
#include "check_calibrate.h"

#include "CalibrateWidget.h"
#include "check_window.h"
#include "apply_in_session.h"
#include "geometry/compositor_map.h"
#include "handover/handover.h"
#include "ChooseWidget.h"
#include "install.h"
#include "pointercal.h"
#include "sway_ipc.h"
#include "wayland_session.h"
#include "input/listing.h"
#include "udev/rule_edits.h"
#include "udev/udevadm.h"
#include "input/event_device.h"
#include "said.h"
#include "user_part.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QScreen>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <memory>

namespace {

// What the compositor does with libinput's output, as measured, and the matrix libinput should
// read under it: the fit itself where nothing was measured (X, a compositor that could not be
// read), with why.
struct CompositorFrame {
    Matrix matrix;
    std::string said;  // comment lines on what was found
    std::optional<Matrix> map;  // the compositor's map, where it was measured
    int paired = 0;             // the targets' touches it was measured from
};

// The forms of an accepted calibration (libinput's matrix, and the borders where it has them):
// the matrix itself, the udev rule, the xorg.conf section and the xinput command, each where the
// device's name allows it, and why one is missing. The udev rule and the command that keeps it
// carry the matrix for the compositor's frame; X's forms the fit, since X turns nothing.
std::string formsText(const DeviceInfo &device, const Matrix &matrix, const CompositorFrame &frame,
                      const std::optional<Borders> &borders, const std::optional<OntoMonitor> &onto,
                      bool installing, const ErrorEstimate &expected)
{
    std::string text = "# Expected error: about " + roughPixels(expected.mean) + " px on average, up to "
        + roughPixels(expected.worst) + " px near the corners (from " + std::to_string(expected.touches)
        + " touches)\n";
    text += "# The calibration as libinput's matrix: " + frame.matrix.text() + "\n" + frame.said;
    const std::string udevProblem = nameProblemForUdev(device.name);
    text += udevProblem.empty() ? udevHowTo(device.identity(), sysfsPathOfNode(device.path))
            + udevRuleBlock({device.identity(), ""}, frame.matrix)
                                : "# No udev rule for this device: " + udevProblem + "\n";
    const std::string xorgProblem = nameProblemForXorg(device.name);
    text += "\n" + (xorgProblem.empty() ? xorgSnippet(device.identity(), borders, matrix, onto)
                                        : "# No xorg.conf section for this device: " + xorgProblem + "\n");
    // X devices by id: two may share a name, and a name is nothing to put in a shell command.
    std::vector<int> ids;
    for (const XDeviceMatrix &x : xDeviceMatrices(device.path)) {
        if (x.libinput)
            ids.push_back(x.id);
    }
    if (ids.empty()) {
        text += "\n# No xinput command: no X device on this display reads " + printable(device.stablePath())
            + " through X's libinput driver.\n";
    } else {
        text += "\n# To try it on the running X with its libinput driver (a re-plug or a restart of X\n"
                "# forgets it):\n";
        for (const int id : ids)
            text += "xinput set-prop " + std::to_string(id) + " \"libinput Calibration Matrix\" "
                + matrix.textWithLastRow() + "\n";
    }
    if (udevProblem.empty() && !installing)
        text += "\n# To keep it, for libinput under X and Wayland (a udev rule, the device re-added):\n"
            + keepCommand(device, frame.matrix) + "\n";
    return text;
}

// The matrix libinput uses for the device now: sway's own where its IPC shows one, else
// udev's, else none. libinput reads udev's only when the device is added, and a compositor may
// hold its own: a guess, which the solved map checks.
Matrix currentMatrix(const DeviceInfo &device)
{
    const std::optional<std::string> sway = inSway() ? swayMatrixOf(device) : std::nullopt;
    if (sway && !sway->empty())
        if (const auto matrix = Matrix::parse(*sway))
            return *matrix;
    const auto udev = Matrix::parse(udevPropertyOf(sysfsPathOfNode(device.path), "LIBINPUT_CALIBRATION_MATRIX"));
    return udev.value_or(Matrix::identity());
}

const char kOtherCompositors[] =
    "# A rule made for a compositor that turns touches with a turned output is wrong for one\n"
    "# that does not on the same machine (sway, X), and the other way round.\n";

// The outputs as the toolkit lists them, together, over the window: how large a screen spread
// over them all comes out in it.
OutputsExtent outputsOver(const QSize &window)
{
    QRect all;
    for (const QScreen *screen : QGuiApplication::screens())
        all |= screen->geometry();
    if (window.isEmpty() || all.isEmpty())
        return {};
    return {double(all.width()) / window.width(), double(all.height()) / window.height()};
}

CompositorFrame compositorFrame(const DeviceInfo &device, const Matrix &fit, const TouchPairing &pairing,
                                const std::optional<XScreenLayout> &layout, const QSize &window)
{
    if (!onWayland()) {
        const bool xwayland = layout && !layout->monitors.empty()
            && layout->monitors[0].name.rfind("XWAYLAND", 0) == 0;
        if (!xwayland)
            return {fit, "", std::nullopt, 0};
        return {fit, "# Made without the compositor's answer: the window ran on Xwayland (sudo passes no\n"
                     "# WAYLAND_DISPLAY), where the compositor's own map is not seen. Under a compositor\n"
                     "# that turns touches with a turned output it would be turned twice: run --calibrate\n"
                     "# as the session's user, then --install the matrix it prints.\n", std::nullopt, 0};
    }
    const std::vector<CompositorTouch> pairs = pairing.pairs(currentMatrix(device));
    const CompositorMap map = solveCompositorMap(pairs, TargetSequence::kTargets, outputsOver(window));
    const int paired = static_cast<int>(pairs.size());
    if (!map.map)
        return {fit, "# " + map.problem + ".\n# Made without the compositor's answer: under a compositor that "
                     "turns touches with\n# a turned output (weston, GNOME, KDE) it may be turned twice.\n",
                std::nullopt, paired};
    // A turn or a mirror, which always has an inverse.
    return {map.map->inverse()->after(fit), "# Measured: " + map.finding() + ".\n" + kOtherCompositors, map.map,
            paired};
}

// The ranges of the axes whose units the touch tracker gives touches in: the multitouch axes
// when it follows slots, otherwise ABS_X and ABS_Y.
AxisRange trackedX(const DeviceInfo &device, const DeviceState &state)
{
    return state.multitouch() && device.mtX ? *device.mtX : *device.x;
}

AxisRange trackedY(const DeviceInfo &device, const DeviceState &state)
{
    return state.multitouch() && device.mtY ? *device.mtY : *device.y;
}

// The accepted fit to root, which checks it and keeps it; the socket stays open for root's word
// on the check.
QString handOver(int fd, const Handover &handover, int *status)
{
    const bool whole = writeAll(fd, handoverText(handover));
    const int error = errno;
    if (!whole) {
        *status = fail(std::string("could not hand the calibration to root: ") + std::strerror(error));
        return QString("Not kept: the standard error stream says why.");
    }
    return QString("Measured. Root now checks and keeps it: the terminal says how that went.");
}

// X's screen and the monitor the window took, for root to map the device onto again.
std::optional<XPlace> xPlace(const std::optional<XScreenLayout> &layout, const std::optional<Monitor> &monitor)
{
    if (!layout || !monitor)
        return std::nullopt;
    return XPlace{layout->width, layout->height, monitor->x, monitor->y, monitor->width, monitor->height,
                  printable(monitor->name)};
}

// Root's word once it has kept what was handed over: the check of the device (its index among
// those opened) with the bound, and whether root's report follows the verdict, to be shown over
// the check's window; or nothing more (root closed its side).
struct RootsCheck {
    size_t device = 0;
    int bound = 0;
    bool reportFollows = false;
};

std::optional<RootsCheck> checkAskedByRoot(int fd, size_t devices)
{
    std::string line;
    char c = 0;
    while (line.size() < 64) {
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != 1)
            return std::nullopt;
        if (c == '\n')
            break;
        line += c;
    }
    const std::string reportWord = " report";
    const bool reportFollows = line.size() > reportWord.size()
        && line.compare(line.size() - reportWord.size(), reportWord.size(), reportWord) == 0;
    if (reportFollows)
        line.resize(line.size() - reportWord.size());
    unsigned long device = 0;
    int bound = 0;
    char more = 0;
    if (std::sscanf(line.c_str(), "check %lu %d%c", &device, &bound, &more) != 2 || device >= devices || bound <= 0)
        return std::nullopt;
    return RootsCheck{static_cast<size_t>(device), bound, reportFollows};
}

// Which of the devices to calibrate: with several (or askFirst), the one the user touches in a
// window first; nullopt where none was touched.
std::optional<size_t> chosenDevice(const std::vector<int> &devices, const std::vector<DeviceInfo> &infos,
                                   bool askFirst, QScreen *screen)
{
    size_t chosen = 0;
    if (devices.size() > 1 || askFirst) {
        QStringList names;
        for (const DeviceInfo &info : infos)
            names << QString::fromStdString(printable(info.name));
        ChooseWidget question(devices, names);
        showFullScreenOn(question, screen);
        qApp->exec();
        if (question.chosen() < 0)
            return std::nullopt;
        chosen = static_cast<size_t>(question.chosen());
        std::fprintf(stderr, "kestrilavon-check: calibrating \"%s\" (%s)\n",
                     printable(infos[chosen].name).c_str(), printable(infos[chosen].stablePath()).c_str());
    }
    return chosen;
}

// An accepted fit in the forms it is kept in: libinput's matrix with the borders evdev reads,
// the compositor's frame, and tslib's pointercal line for the framebuffer's visible size (what
// was found of that size said in sizeSaid).
struct AcceptedFit {
    Matrix matrix;
    std::optional<Borders> borders;
    CompositorFrame frame;
    std::string sizeSaid;
    std::optional<std::pair<int, int>> size;
    std::optional<std::string> pointercal;
};

AcceptedFit acceptedFit(const Calibration &calibration, const CalibrateWidget &window, const DeviceInfo &info,
                        AxisRange unitsX, AxisRange unitsY, const std::optional<XScreenLayout> &layout,
                        const FramebufferChoice &framebuffer)
{
    const Matrix matrix = libinputMatrix(calibration, unitsX, unitsY);
    const int w = window.width(), h = window.height();
    // evdev and the Boder options read ABS_X and ABS_Y.
    const std::optional<Borders> borders =
        axisAlignedBorders(calibrationFromLibinput(matrix, *info.x, *info.y), w, h);
    const CompositorFrame frame = compositorFrame(info, matrix, window.compositorTouches(), layout, window.size());
    // tslib maps onto the framebuffer's visible pixels; with no framebuffer here, the window's.
    const qreal ratio = window.devicePixelRatioF();
    std::string sizeSaid;
    const std::optional<std::pair<int, int>> size = pointercalSize(
        framebuffer,
        std::pair(static_cast<int>(std::lround(w * ratio)), static_cast<int>(std::lround(h * ratio))), &sizeSaid);
    const std::optional<std::string> pointercal = size
        ? pointercalLine(calibrationFromLibinput(matrix, tslibX(info), tslibY(info)), size->first, size->second)
        : std::nullopt;
    return {matrix, borders, frame, sizeSaid, size, pointercal};
}

// --install with no root apart to hand it to: tslib's pointercal, or the udev rule with the
// device re-added. The window's last words; the status in *status.
QString installHere(const DeviceInfo &info, const AcceptedFit &fit, const CalibrateOptions &options,
                    const std::optional<OntoMonitor> &onto, const std::string &waylandOutput, int *status)
{
    if (options.tslib) {
        std::fputs("\n", stdout);
        *status = fit.pointercal ? installPointercal(*fit.pointercal)
            : fail(fit.size ? "this calibration does not fit tslib's integers" : fit.sizeSaid);
        return *status == 0 ? QString("Installed as tslib's pointercal: start the touch program again.")
                            : QString("Not installed: the standard error stream says why.");
    }
    // The re-add drops what was set on X at run time: the rule is the calibration, and
    // the mapping onto the monitor is set again after it.
    std::fputs("\n", stdout);
    *status = installCalibration(info, fit.frame.matrix, onto, options.port, nullptr, waylandOutput);
    return *status == 0 ? QString("Installed as a udev rule and read again by the device: "
                                  "the finger and the pointer agree now and after a restart.")
                        : QString("Not installed as it should be: the standard output says why.");
}

// --apply where the session is, its report on the standard output. The window's last words; the
// status in *status.
QString applyHere(const DeviceInfo &info, const AcceptedFit &fit, const std::optional<OntoMonitor> &onto,
                  const std::string &outputName, int *status)
{
    const ApplyReport report = applyInSession(info, {fit.matrix, fit.borders, *info.x, *info.y, onto}, outputName);
    if (!report.ok) {
        *status = fail(report.text.substr(0, report.text.size() - 1));
        return QString("Not set: ") + QString::fromStdString(report.text);
    }
    std::fputs(("\n" + report.text).c_str(), stdout);
    *status = finishOutput(*status);
    return QString("Set on the running %1: the pointer follows the finger now. The forms to keep "
                   "it, and the command to undo it, are on the standard output.")
        .arg(inSway() ? "sway" : "X");
}

// Once the fit is handed over: root's check in a window over the targets' when root asks for
// it; otherwise status, once root has closed its side.
int checkWhenRootAsks(CalibrateWidget &widget, const std::vector<int> &devices, const std::vector<DeviceInfo> &infos,
                      int handoverFd, const std::optional<Monitor> &monitor, const std::string &monitorName,
                      int status)
{
    // Reading the device no more, it shows the check in place of the targets: the check's
    // touches are the session's alone.
    widget.stopReading();
    const std::optional<RootsCheck> check = checkAskedByRoot(handoverFd, devices.size());
    if (!check) {
        ::close(handoverFd);
        return status;
    }
    return runTouchCheck(devices[check->device], infos[check->device].path, check->bound, handoverFd,
                         monitor, monitorName, false, &widget, check->reportFollows);
}

} // namespace

int runCalibration(const std::vector<int> &devices, const std::vector<DeviceInfo> &infos,
                   const CalibrateOptions &options, const std::optional<XScreenLayout> &layout,
                   std::optional<Monitor> monitor, const std::string &monitorName)
{
    QScreen *screen = nullptr;
    if (!windowScreen(monitor, monitorName, &screen))
        return 2;
    const bool monitorNamed = !monitorName.empty();
    const std::optional<size_t> picked = chosenDevice(devices, infos, options.askFirst, screen);
    if (!picked)
        return 1;
    const size_t chosen = *picked;
    const int device = devices[chosen];
    const DeviceInfo &info = infos[chosen];
    // Where X already maps the device onto one monitor of several, that is the touch screen's.
    struct stat node;
    if (layout && !monitorNamed && ::fstat(device, &node) == 0 && S_ISCHR(node.st_mode)) {
        if (const std::optional<Monitor> mapped = xMappedMonitor(node.st_rdev, *layout)) {
            monitor = mapped;
            screen = screenForMonitor(QString::fromStdString(mapped->name));
        }
    }
    const std::optional<OntoMonitor> onto = ontoMonitor(layout, monitor);
    // A guess where the compositor places the window: the window takes its output's size.
    const QRect guess = (screen ? screen : QGuiApplication::primaryScreen())->geometry();
    // The touches come in the units of the axes the tracker follows.
    const DeviceState start = readDeviceState(device);
    const AxisRange unitsX = trackedX(info, start), unitsY = trackedY(info, start);
    int status = 1;
    CalibrateWidget *window = nullptr;
    // Root on the bare framebuffer with no one to run a window part as: what a window part
    // would hand over is kept here once this window is gone, and checked through libinput.
    const bool keepHere = options.install && options.handoverFd < 0 && QGuiApplication::platformName() == "linuxfb";
    std::optional<std::string> toKeep, pointercalToKeep;
    int pointercalBound = 0;
    // Handed over, this window stays until root has kept the calibration and asks for the check
    // here, or ends.
    bool handedOver = false;
    std::unique_ptr<QSocketNotifier> rootSaid;
    auto widget = std::make_unique<CalibrateWidget>(device, guess.width(), guess.height(), unitsX, unitsY, onWayland(),
                                                    reachesCompositorAsPointer(info),
                                                    [&](const Calibration &calibration) {
        const int w = window->width(), h = window->height();
        const AcceptedFit fit = acceptedFit(calibration, *window, info, unitsX, unitsY, layout, options.framebuffer);
        const ErrorEstimate &expected = window->expected();
        const bool poor = poorEstimate(expected, w, h);
        std::fputs(formsText(info, fit.matrix, fit.frame, fit.borders, onto, options.install, expected).c_str(),
                   stdout);
        if (fit.pointercal)
            std::fputs(("\n" + fit.sizeSaid + pointercalText(*fit.pointercal)).c_str(), stdout);
        else if (!fit.size)
            std::fputs(("\n# No pointercal for tslib: " + fit.sizeSaid + ".\n").c_str(), stdout);
        status = finishOutput(0);
        // Kept, a poor calibration would outlast the moment: it is not installed.
        if (poor && options.install) {
            status = fail("not installed: the expected error, " + roughPixels(expected.mean)
                          + " px on average, is more than a steady finger leaves; touch each target "
                          "slowly, or use a stylus, and calibrate again");
            return QString("Not installed: touch each target slowly, or use a stylus, then touch Again.");
        }
        if (keepHere && options.tslib && fit.pointercal) {
            pointercalToKeep = fit.pointercal;
            pointercalBound = window->checkBoundPixels();
            QTimer::singleShot(0, window, &QWidget::close);
            return QString("Measured: the check follows.");
        }
        if (keepHere && !options.tslib) {
            toKeep = handoverText({chosen, fit.matrix, fit.frame.map, fit.frame.paired, TargetSequence::kTargets, w, h,
                                   window->checkBoundPixels(), xPlace(layout, monitor)});
            QTimer::singleShot(0, window, &QWidget::close);
            return QString("Measured: the check follows.");
        }
        if (options.handoverFd >= 0 && (options.install || options.apply)) {
            const QString said = handOver(options.handoverFd, {chosen, fit.matrix, fit.frame.map, fit.frame.paired,
                                                               TargetSequence::kTargets, w, h,
                                                               window->checkBoundPixels(), xPlace(layout, monitor)},
                                          &status);
            handedOver = status == 0;
            if (handedOver) {
                window->waitForTheCheck();
                rootSaid = std::make_unique<QSocketNotifier>(options.handoverFd, QSocketNotifier::Read);
                // Out of the loop with the window still shown (quit() would close it).
                QObject::connect(rootSaid.get(), &QSocketNotifier::activated, window,
                                 [] { QCoreApplication::exit(0); });
            }
            return said;
        }
        if (options.install)
            return installHere(info, fit, options, onto, waylandOutputOf(layout, monitorName), &status);
        if (!options.apply)
            return QString("The udev rule, the xorg.conf section and the xinput command are on the "
                           "standard output.");
        return applyHere(info, fit, onto, monitorNamed ? monitorName : window->screen()->name().toStdString(),
                         &status);
    });
    window = widget.get();
    showFullScreenOn(*widget, screen);
    qApp->exec();
    const bool accepted = widget->accepted();
    rootSaid.reset();
    if (handedOver)
        return checkWhenRootAsks(*widget, devices, infos, options.handoverFd, monitor, monitorName, status);
    widget.reset();
    if (options.handoverFd >= 0)
        ::close(options.handoverFd);
    if (pointercalToKeep) {
        std::fputs("\n", stdout);
        return installPointercalAndCheck(*pointercalToKeep, pointercalBound, [&] {
            return checkInWindow(devices[chosen], infos[chosen].path, pointercalBound, monitor, monitorName, true);
        });
    }
    if (toKeep) {
        Keeping keeping{true, options.port, layout, monitor, monitorName, {}, {}};
        keeping.touchCheck = [&](size_t index, int pixels) {
            return checkInWindow(devices[index], infos[index].path, pixels, monitor, monitorName);
        };
        return keepHandedOver(*toKeep, infos, devices, keeping);
    }
    return accepted ? status : 1;
}

