// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_USER_SESSION_H
#define KESTRILAVON_USER_SESSION_H

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

// How root, run through sudo or pkexec, finds the user the window part runs as and what of that
// user's session the window part is given. Pure: the callers read the system.

// The user who ran sudo (SUDO_UID) or pkexec (PKEXEC_UID), as given (null where unset).
// nullopt with an empty *problem when neither is set; nullopt with *problem said when one is
// not a plain number, is root's own, or the two disagree.
std::optional<uid_t> invokingUid(const char *sudoUid, const char *pkexecUid, std::string *problem);

// Why a folder with this lstat() is no runtime folder of uid's (a link, another owner, open to
// others), or an empty string.
std::string runtimeFolderProblem(const struct stat &status, uid_t uid);

// Whether a name in the runtime folder can be a compositor's socket: wayland-N and the like,
// never its .lock, never a path.
bool waylandSocketName(const std::string &name);

// The Wayland display to use among the live sockets found (by name, in the runtime folder): the
// one wanted (--wayland-display, or a WAYLAND_DISPLAY kept through sudo) when it is among them,
// else the only one. Several and none wanted, or one wanted and not found: *problem lists what
// was found.
std::optional<std::string> chooseWaylandSocket(const std::vector<std::string> &found, const std::string &wanted,
                                               std::string *problem);

// What the window part's environment holds, and nothing else: the user's HOME, USER and
// LOGNAME, the runtime folder where it passed its checks, and the display variables chosen.
struct WindowEnvironment {
    std::string name, home;
    std::optional<std::string> runtimeFolder;
    std::vector<std::pair<std::string, std::string>> display;
};

// As NAME=VALUE strings; a variable whose value holds a newline or a NUL is left out.
std::vector<std::string> environmentStrings(const WindowEnvironment &environment);

#endif
