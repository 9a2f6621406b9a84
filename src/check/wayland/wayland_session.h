// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_WAYLAND_SESSION_H
#define KESTRILAVON_WAYLAND_SESSION_H

#include <string>

class QScreen;
class QString;

// The check's windows in a Wayland session: native, through the toolkit's Wayland platform,
// falling back to X (Xwayland) when it cannot start. kestrilavon itself stays an X program.

// A Wayland session (WAYLAND_DISPLAY set) and no platform asked for.
bool useWaylandWindows();

// Before the toolkit starts: the Wayland platform first, then X. When the runtime folder is not
// this user's (root through sudo in the user's session), the compositor's socket is named by
// its whole path, since the toolkit takes no runtime folder of another user's, and a note says
// that the windows are the session user's part and --install the part for root.
void prepareWaylandWindows();

// Whether the toolkit runs on Wayland.
bool onWayland();

// The screen (a Wayland output, an X monitor) of this name, or null; and the names there are.
QScreen *screenNamed(const QString &name);
std::string screenNames();

#endif
