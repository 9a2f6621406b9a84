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

// Why the user SUDO_UID or PKEXEC_UID names cannot be taken as the one who asked, or an empty
// string: su and a shell keep SUDO_UID, so it names the asker only where this runs under that
// user's own login (logind's session, or the user's own systemd) or under no one's (a service, a
// boot script). loginOwner is the owner of that login, where there is one.
std::string invokerProblem(uid_t invoking, std::optional<uid_t> loginOwner);

// The user whose session the window part runs in: the one who ran sudo or pkexec, else the owner
// of the logind session the command runs in. nullopt where that is root or there is no session
// (root's own X from startx, a boot script, su - on a console): the window part then runs as an
// unprivileged user handed only what the display needs.
std::optional<uid_t> sessionUser(std::optional<uid_t> invoking, std::optional<uid_t> sessionOwner);

// Whether logind's type of a session is one whose display a window system holds.
bool graphicalSessionType(const std::string &type);

// The display number of an X display reached through this machine's own socket (":0", ":0.1",
// "unix:0"); nullopt for one reached over the network ("localhost:10", as ssh forwards it) or
// no display name.
std::optional<std::string> localXDisplayNumber(const std::string &display);

// Whether an entry of an X authority file (its family and display number, as libXau reads
// them) is a cookie for this machine's display of that number: an entry of this host's own
// (FamilyLocal) or of any (FamilyWild). Those of other hosts and displays are not handed on.
bool localCookieFor(unsigned family, const std::string &number, const std::string &displayNumber);

// The group through which an unprivileged user may draw on the framebuffer with this stat():
// the device's own, where it may read and write it and is not root's; nullopt otherwise.
std::optional<gid_t> framebufferGroup(const struct stat &node);

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
