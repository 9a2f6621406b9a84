// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_KWIN_DBUS_H
#define KESTRILAVON_KWIN_DBUS_H

#include "desktops/kwin_input.h"

#include <chrono>
#include <string>

// KWin, through the session's own bus ($XDG_RUNTIME_DIR/bus; none is ever launched): asked as
// the session's user, in a part of its own, never as root.

// How long KWin is asked about a device it has just added again, in all.
constexpr std::chrono::seconds kKWinReadBackTime{5};

// The calibration matrix KWin uses for the device's node: asked every 200 ms until it shows
// the expected one, for at most within in all (each call within 2 s); the last answer.
KWinAnswer askKWinMatrix(const std::string &node, const Matrix &expected,
                         std::chrono::steady_clock::duration within = kKWinReadBackTime);

// In the user's part: asks as above and hands the answer to root on fd (a pipe), which is
// closed. The part's status: 0 where the answer went out whole.
int handOverKWinAnswer(int fd, const std::string &node, const Matrix &expected);

#endif
