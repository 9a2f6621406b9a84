// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CHECK_CALIBRATE_H
#define KESTRILAVON_CHECK_CALIBRATE_H

#include "framebuffer/framebuffer.h"
#include "input/devices.h"
#include "root_part.h"
#include "x_input.h"

#include <QScreen>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// What kestrilavon-check's modes share: which device they take, and the windows they show.

// The outcome and the report in a window of their own, until it is closed. Its status, or 2
// for an output Wayland does not know.
// covered: a window of this program still shown (the check's), closed once the report's has
// the focus.
int showReport(bool kept, const std::string &report, const std::optional<Monitor> &monitor,
               const std::string &monitorName, QWidget *covered = nullptr);

// The device at path, when it is a touch screen whose ranges this user may read; otherwise
// nullopt and *problem says why.
std::optional<DeviceInfo> touchScreen(const std::string &path, std::string *problem);

// What --calibrate is asked to do besides printing the forms.
struct CalibrateOptions {
    bool askFirst = false;  // ask for a touch on the touch screen even when there is one device
    bool apply = false;     // set it on the running X (or sway) at once
    bool install = false;   // keep it (root): the udev rule, or with tslib tslib's pointercal
    bool port = false;      // the udev rule of the device's port
    bool tslib = false;
    FramebufferChoice framebuffer;  // where tslib's W and H come from
    // Run as the user for root: the accepted fit goes there as a hand-over, and root keeps it.
    int handoverFd = -1;
};

// kestrilavon-check --calibrate on one of the devices (open, each with what was found out of
// it): with several (or askFirst), a window first asks the user to touch the one. Then five
// targets on the monitor (the one X maps the device onto, unless monitorNamed); once the fit is
// accepted, the forms on the standard output and what the options ask. Runs in the toolkit's
// application. Status 0 when a fit was accepted (and printed, and applied or installed if
// asked), 1 otherwise.
int runCalibration(const std::vector<int> &devices, const std::vector<DeviceInfo> &infos,
                   const CalibrateOptions &options, const std::optional<XScreenLayout> &layout,
                   std::optional<Monitor> monitor, const std::string &monitorName);

// The check of a kept calibration: the check target on the device's screen until a touch
// decides, the countdown ends or root notes a signal; the verdict as a window part hands it
// over. The touch is the session's, or on the bare framebuffer libinput's (tslib's with
// throughTslib). Status 0, 1 where that reader cannot read the device, or 2 for an output
// Wayland does not know.
// covered: a window of this program still shown, closed once the check's has the focus.
// followUp: once decided, what comes next while the check's window is still shown, given the
// verdict and the window; its status is the check's.
WindowPartEnd checkInWindow(int device, const std::string &devicePath, int bound,
                            const std::optional<Monitor> &monitor, const std::string &monitorName,
                            bool throughTslib = false, QWidget *covered = nullptr,
                            const std::function<int(const WindowPartEnd &, QWidget &)> &followUp = nullptr);

// The same in the window part: the verdict goes to verdictFd, which is closed. With
// reportFollows, root's report comes back on verdictFd (reportText) and shows over the check's
// window, which stays until then.
int runTouchCheck(int device, const std::string &devicePath, int bound, int verdictFd,
                  const std::optional<Monitor> &monitor, const std::string &monitorName, bool throughTslib = false,
                  QWidget *covered = nullptr, bool reportFollows = false);

// The screen the windows go on: on X the monitor chosen; on Wayland the output named, or none
// (the compositor chooses). False, with a line said, for an output Wayland does not know.
bool windowScreen(const std::optional<Monitor> &monitor, const std::string &monitorName,
                  QScreen **screen);

// Shows the window full screen, on the screen where there is one.
void showFullScreenOn(QWidget &window, QScreen *screen);

#endif
