// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_UNPRIVILEGED_SESSION_H
#define KESTRILAVON_UNPRIVILEGED_SESSION_H

#include "framebuffer/framebuffer.h"
#include "user_session_found.h"

#include <optional>
#include <string>

// Root with no one who ran sudo or pkexec, in its own session or in none: the unprivileged user
// (nobody) the window part runs as, handed only what the display in root's environment needs.
// On X, the cookies of the local display from root's authority file, in a sealed file in memory
// that XAUTHORITY names by its inherited descriptor; on the bare framebuffer, the framebuffer's
// group. nullopt with *why where the display cannot be reached that way: Wayland (its socket is
// in root's own folder), X over the network, another platform of the toolkit, a framebuffer
// that only root may draw on.
std::optional<UserSession> unprivilegedSession(const FramebufferChoice &framebuffer, std::string *why);

// A sealed copy in memory of a plain file root reads (at most 64 KiB), for a window part that may
// not read the file where it lies: it opens /proc/self/fd/N of the copy, and can change nothing
// through it. -1 with *problem where the file cannot be read or copied.
int sealedCopyOf(const std::string &path, std::string *problem);

#endif
