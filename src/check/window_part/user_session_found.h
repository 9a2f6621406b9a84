// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_USER_SESSION_FOUND_H
#define KESTRILAVON_USER_SESSION_FOUND_H

#include "handover/user_session.h"

#include <optional>
#include <string>
#include <vector>

// The user the window part runs as (who ran sudo or pkexec, the session's owner, or an
// unprivileged user), and what of the session the window part runs in.
struct UserSession {
    uid_t uid = 0;
    gid_t gid = 0;
    WindowEnvironment environment;
    std::optional<gid_t> displayGroup;  // a group more, that of the framebuffer it draws on
    int cookieFd = -1;                  // kept open: the X cookie that XAUTHORITY names
    bool wayland = false;     // the window goes on the session's Wayland display
    bool framebuffer = false;  // no session holds the display: the bare framebuffer
};

// Root's look at the invoking user's session: the passwd entry, /run/user/UID where it is that
// user's closed folder, a live Wayland socket of theirs there (the one named by waylandName or a
// kept WAYLAND_DISPLAY, where there are several), else X's DISPLAY and XAUTHORITY as sudo kept
// them, else the framebuffer, but only where neither is there. nullopt and *problem for a uid
// that names no user, several sockets and none named, or a session that cannot be told.
std::optional<UserSession> findUserSession(uid_t uid, const std::string &waylandName, std::string *problem);

// The user alone, with no display in the environment: for what needs none. nullopt and *problem
// for a uid that names no user.
std::optional<UserSession> sessionWithoutDisplay(uid_t uid, std::string *problem);

// The logind session this process runs in: its owner and type ("x11", "wayland", "tty", ...).
struct LogindSession {
    uid_t owner = 0;
    std::string type;
};
// nullopt where the process runs in no session (a boot script, a service) or logind is not there.
std::optional<LogindSession> logindSession();

// The user whose login this process runs under, logind's session or that user's own systemd;
// nullopt where it is no one's (a service, a boot script) or logind is not there.
std::optional<uid_t> loginOwner();

// In the forked window part, before the toolkit starts: for good to the session's user (its
// groups (and the display's group, where one is given), its real, effective and saved ids, no new privileges), root checked to be out of
// reach; every descriptor closed but the standard three, those kept and the cookie's; the environment the
// session's alone. False, with *problem, when any step fails: the caller must then exit.
bool dropToUser(const UserSession &session, std::vector<int> keep, std::string *problem);

#endif
