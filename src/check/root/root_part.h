// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_ROOT_PART_H
#define KESTRILAVON_ROOT_PART_H

#include "framebuffer/framebuffer.h"
#include "input/devices.h"
#include "user_part.h"
#include "x_input.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// --calibrate under sudo or pkexec, root's side: root opens the devices and keeps the result;
// the window in between runs as the user who asked, in a child of its own.

// Ends the program with status (128 + a held signal) once whatever root changed and has not put
// back yet is put back.
[[noreturn]] void endBySignal(int status);

// What root is to do with a hand-over.
struct Keeping {
    bool install = false;  // else apply on the running session
    bool port = false;
    std::optional<XScreenLayout> layout;
    std::optional<Monitor> monitor;
    std::string monitorName;  // as --output named it
    // Shows the check target on the device (its index) with the bound, as the user, and
    // returns what that window part handed over; none where nothing is to be checked.
    std::function<WindowPartEnd(size_t device, int bound)> touchCheck;
    // Asks KWin, as the user, what matrix it uses for the device (its index) after the re-add;
    // none where no user's part can ask.
    std::function<std::optional<std::string>(size_t device, const Matrix &expected)> askKWin;
};

// Checks the hand-over as --matrix is checked (nothing kept on a problem, status 1), then
// installs the matrix it comes to, or applies it, as --install and --apply do. An install is
// then checked by a touch: kept (status 0) only when the touch lands within the bound;
// otherwise the rules file is put back and read back (status 1, or 128 + a signal that came).
int keepHandedOver(const std::string &text, const std::vector<DeviceInfo> &devices,
                   const std::vector<int> &fds, const Keeping &keeping);

// Writes tslib's pointercal line, then checks it by a touch as keepHandedOver checks a rule:
// the file is put back unless the touch lands within the bound.
int installPointercalAndCheck(const std::string &line, int bound, const std::function<WindowPartEnd()> &touchCheck);

// --calibrate --install --tslib, root's side: the hand-over checked as keepHandedOver checks it,
// then tslib's pointercal line made here from its fit, for the framebuffer's visible size (else
// the window's), written, and checked by a touch where touchCheck is given, as
// installPointercalAndCheck does.
int keepPointercalHandedOver(const std::string &text, const std::vector<DeviceInfo> &devices,
                             const FramebufferChoice &framebuffer,
                             const std::function<WindowPartEnd(size_t device, int bound)> &touchCheck);

#endif
