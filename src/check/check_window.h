// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CHECK_WINDOW_H
#define KESTRILAVON_CHECK_WINDOW_H

#include "user_part.h"
#include "x_input.h"

#include <QScreen>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

// The windows kestrilavon-check shows besides the targets: the check of a kept calibration,
// the report, and the screen they go on.

// The outcome and the report in a window of their own, until it is closed. Its status, or 2
// for an output Wayland does not know.
// covered: a window of this program still shown (the check's): the report is shown inside it
// instead, over what it showed.
int showReport(bool kept, const std::string &report, const std::optional<Monitor> &monitor,
               const std::string &monitorName, QWidget *covered = nullptr);

// The check of a kept calibration: the check target on the device's screen until a touch
// decides, the countdown ends or root notes a signal; the verdict as a window part hands it
// over. The touch is the session's, or on the bare framebuffer libinput's (tslib's with
// throughTslib). Status 0, 1 where that reader cannot read the device, or 2 for an output
// Wayland does not know.
// covered: a window of this program still shown (the targets'): the check is shown inside it
// instead, over what it showed.
// followUp: once decided, what comes next while the check's window is still shown, given the
// verdict and the window; its status is the check's.
WindowPartEnd checkInWindow(int device, const std::string &devicePath, int bound,
                            const std::optional<Monitor> &monitor, const std::string &monitorName,
                            bool throughTslib = false, QWidget *covered = nullptr,
                            const std::function<int(const WindowPartEnd &, QWidget &)> &followUp = nullptr);

// The same in the window part: the verdict goes to verdictFd, which is closed. With
// reportFollows, root's report comes back on verdictFd (reportText) and shows in place of the
// check, which stays until then.
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
