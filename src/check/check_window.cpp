// SPDX-License-Identifier: MIT
#include "check_window.h"

#include "ReportWidget.h"
#include "TouchCheckWidget.h"
#include "handover/handover.h"
#include "input/listing.h"
#include "said.h"
#include "shown_over.h"
#include "user_part.h"
#include "wayland_session.h"
#include "x_display.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

int showReport(bool kept, const std::string &report, const std::optional<Monitor> &monitor,
               const std::string &monitorName, QWidget *covered)
{
    QScreen *screen = nullptr;
    if (!windowScreen(monitor, monitorName, &screen))
        return 2;
    ReportWidget window(kept, QString::fromStdString(report));
    if (!covered) {
        showFullScreenOn(window, screen);
        return qApp->exec();
    }
    showOver(window, *covered);
    window.whenClosed([] { QCoreApplication::exit(0); });
    return qApp->exec();
}

namespace {

// Root's report, once it has kept or put back what the check decided and closed its side.
std::optional<RootReport> reportFromRoot(int fd)
{
    std::string text;
    bool whole = false;
    // Read as it comes, the event loop running: the window above stays drawn meanwhile.
    QSocketNotifier readable(fd, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &readable, [&] {
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (got > 0) {
            // Beyond the limit, the rest is read and left out.
            text.append(buffer, std::min(static_cast<size_t>(got), kReportLimit - std::min(kReportLimit, text.size())));
            return;
        }
        whole = got == 0;
        readable.setEnabled(false);
        QCoreApplication::exit(0);
    });
    qApp->exec();
    return whole ? readReport(text) : std::nullopt;
}

} // namespace

bool windowScreen(const std::optional<Monitor> &monitor, const std::string &monitorName,
                  QScreen **screen)
{
    if (!onWayland()) {
        *screen = screenForMonitor(monitor ? QString::fromStdString(monitor->name) : QString());
        return true;
    }
    // A Wayland client cannot know where the pointer is: without a name, the compositor places it.
    *screen = monitorName.empty() ? nullptr : screenNamed(QString::fromStdString(monitorName));
    if (!monitorName.empty() && !*screen) {
        std::fprintf(stderr, "kestrilavon-check: no output %s on this Wayland display; its outputs: %s\n",
                     printable(monitorName).c_str(), printable(screenNames()).c_str());
        return false;
    }
    return true;
}

void showFullScreenOn(QWidget &window, QScreen *screen)
{
    if (screen) {
        window.setGeometry(screen->geometry());
        window.winId();
        window.windowHandle()->setScreen(screen);
    }
    window.showFullScreen();
    window.activateWindow();
}

int runTouchCheck(int device, const std::string &devicePath, int bound, int verdictFd,
                  const std::optional<Monitor> &monitor, const std::string &monitorName, bool throughTslib,
                  QWidget *covered, bool reportFollows)
{
    bool handedOver = false;
    // The check's window stays while root keeps or puts back, until root's report covers it.
    const auto report = [&](const WindowPartEnd &decided, QWidget &check) {
        handedOver = decided.handover && writeAll(verdictFd, *decided.handover);
        const std::optional<RootReport> said = handedOver ? reportFromRoot(verdictFd) : std::nullopt;
        if (!said)
            return 0;
        return showReport(said->kept, said->text, monitor, monitorName, check.isVisible() ? &check : nullptr);
    };
    const WindowPartEnd end = checkInWindow(device, devicePath, bound, monitor, monitorName, throughTslib, covered,
                                            reportFollows ? std::function(report) : nullptr);
    // Unwritten, root hears no verdict and puts the old calibration back.
    if (end.handover && !handedOver)
        writeAll(verdictFd, *end.handover);
    ::close(verdictFd);
    return end.status;
}

WindowPartEnd checkInWindow(int device, const std::string &devicePath, int bound, const std::optional<Monitor> &monitor,
                            const std::string &monitorName, bool throughTslib, QWidget *covered,
                            const std::function<int(const WindowPartEnd &, QWidget &)> &followUp)
{
    WindowPartEnd end;
    QScreen *screen = nullptr;
    if (!windowScreen(monitor, monitorName, &screen)) {
        end.status = 2;
        return end;
    }
    // With no session on the bare framebuffer, libinput or tslib on the device is what a kiosk's
    // program gets.
    TouchSource source;
    if (QGuiApplication::platformName() == "linuxfb")
        source = {throughTslib ? TouchSource::Kind::Tslib : TouchSource::Kind::Libinput,
                  devicePath};
    TouchCheckWidget window(device, bound, [&](const TouchCheckWidget::Outcome &outcome) {
        TouchVerdict verdict;
        verdict.none = outcome.none;
        if (outcome.judgement) {
            verdict.kind = outcome.judgement->verdict == TouchCheck::Verdict::Keep ? TouchVerdict::Kind::Kept
                                                                                  : TouchVerdict::Kind::Off;
            verdict.pixels = static_cast<int>(std::lround(outcome.judgement->pixels));
        }
        end.handover = touchVerdictText(verdict);
    }, source);
    if (!window.sourceProblem().empty()) {
        end.status = fail("the check cannot read the touches as " + std::string(throughTslib ? "tslib" : "libinput")
                          + " gives them: " + window.sourceProblem());
        return end;
    }
    // A signal that root holds ends the check at once: the old calibration comes back sooner.
    QTimer signalNoted;
    QObject::connect(&signalNoted, &QTimer::timeout, &window, [&] {
        if (heldSignal())
            window.close();
    });
    signalNoted.start(100);
    if (covered)
        showOver(window, *covered);
    else
        showFullScreenOn(window, screen);
    if (followUp || covered) {
        // Over, it ends only this loop: the window stays for what follows (root's report), and
        // shown inside another window, closing it would end nothing.
        window.setAttribute(Qt::WA_QuitOnClose, false);
        window.replaceOnceOver([] { QCoreApplication::exit(0); });
    }
    qApp->exec();
    end.status = followUp ? followUp(end, window) : 0;
    return end;
}
