// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CHECK_SESSION_H
#define KESTRILAVON_CHECK_SESSION_H

#include "framebuffer/framebuffer.h"
#include "gnome_settings.h"
#include "input/devices.h"
#include "kwin_dbus.h"
#include "kwin_settings.h"
#include "user_session_found.h"
#include "window_start.h"
#include "x_input.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Where kestrilavon-check's windows go and whom they run as: the X screen and monitor, the
// session a window part runs in under root, and the desktop's mapping of the touch screen that
// the session's user settles while it is measured.

// The X screen the windows go on, and the monitor the touch screen lies on: the one named, else
// the one that holds the pointer. None in a Wayland session, where X (Xwayland) knows nothing of
// the outputs: the compositor does. Status 2 for a name X does not know, 1 for a name and no X
// to ask (unless the name may be a Wayland output's), said; else 0.
int placeOnX(const std::string &monitorName, std::optional<XScreenLayout> *layout, std::optional<Monitor> *monitor,
             bool waylandNameAllowed = false);

// The windows on the devices at paths, which are closed when they are done.
int inWindow(char **argv, const std::vector<std::string> &paths, WhenHeld whenHeld,
             const FramebufferChoice &framebuffer, const std::function<int(const std::vector<int> &devices)> &body);

// Under sudo, for what needs root only to read the devices (the listing, the live view, the
// forms that print or set the running X): from here on the program is the user who asked, for
// good, in that user's session (keeping only keep), so that root reaches no one's display.
// True where it goes on as it was (a user's own run, root alone, the bare framebuffer); false
// with *status, said, where the user who asked cannot be taken or become.
bool becomeTheUserWhoAsked(const std::vector<int> &keep, int *status);

// The session the window part runs in when root runs the program: as the user who ran sudo or
// pkexec, else as the owner of the logind session the command runs in, else (root's own
// session, or none) as nobody handed only what the display needs. nullopt where the window
// runs as root: the display cannot be reached otherwise, said in one line. *status 2 with a
// line said when the user or the session cannot be told.
std::optional<UserSession> windowSession(char **argv, const std::string &waylandName,
                                         const FramebufferChoice &framebuffer, int *status);

// The other touch screens with the device's vendor and product id: GNOME maps them as one.
int twinsOf(const DeviceInfo &device);

// How long the session's user may take to settle or put back the desktop's mapping.
constexpr std::chrono::seconds kSettingTime{60};

// What the session's user changed so that the touch screen lies on its monitor while it is
// measured: GNOME's mapping, or KWin's output for the device.
struct MappingChange {
    std::optional<GnomeMappingChange> gnome;
    std::optional<KWinOutputChange> kwin;
};

// Puts the change back as it was, as the session's user: whether that worked.
bool putBackMapping(const MappingChange &change);

// The command that sets the mapping back as it was before, printable.
std::string mappingUndo(const MappingChange &change);

// The outputs as the toolkit names them: on KWin, its outputs' own names.
std::vector<std::string> outputNames();

// The desktop's mapping settled by the session's user, in a window part without a window; the
// change it made, as root checks it: GNOME's own setting's path and a value of three strings at
// most, or the device's object on KWin's bus and one output's name.
std::optional<MappingChange> settledAsUser(const UserSession &session, char **argv, const FramebufferChoice &framebuffer,
                                           const DeviceInfo &device, const std::string &outputName, bool writing,
                                           bool *failed);

#endif
