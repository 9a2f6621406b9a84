// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_ROOT_PART_H
#define KESTRILAVON_ROOT_PART_H

#include "input/devices.h"
#include "user_session_found.h"
#include "x_input.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// --calibrate under sudo or pkexec, root's side: root opens the devices and keeps the result;
// the window in between runs as the user who asked, in a child of its own.

// What the window part left: its hand-over, unchecked, where one came; its status otherwise.
struct WindowPartEnd {
    std::optional<std::string> handover;
    int status = 1;
};

// Forks the window part, which drops to the session's user keeping only the devices and the
// hand-over's pipe, then runs window with the pipe's end to write to. Waits for the hand-over
// for at most a bounded time; the child is killed and reaped before this returns.
WindowPartEnd runWindowPart(const UserSession &session, const std::vector<int> &devices,
                            const std::function<int(int handoverFd)> &window);

// What root is to do with a hand-over.
struct Keeping {
    bool install = false;  // else apply on the running session
    bool port = false;
    std::optional<XScreenLayout> layout;
    std::optional<Monitor> monitor;
    std::string monitorName;  // as --output named it
};

// Checks the hand-over as --matrix is checked (nothing kept on a problem, status 1), then
// installs the matrix it comes to, or applies it, as --install and --apply do.
int keepHandedOver(const std::string &text, const std::vector<DeviceInfo> &devices,
                   const std::vector<int> &fds, const Keeping &keeping);

#endif
