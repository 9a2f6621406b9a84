// SPDX-License-Identifier: MIT
#include "user_session_found.h"

#include "desktops/sway_inputs.h"

#include <dirent.h>
#include <systemd/sd-login.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <climits>

namespace {

// Whether a compositor answers on the socket: a stale one left by a crash refuses.
bool answers(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return connected;
}

// The names of the sockets in the folder that are uid's and that a compositor answers on, and
// whether any Wayland socket was there at all.
std::vector<std::string> liveWaylandSockets(const std::string &folder, uid_t uid, bool *anyThere)
{
    std::vector<std::string> names;
    DIR *dir = ::opendir(folder.c_str());
    while (const dirent *entry = dir ? ::readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        struct stat status;
        if (!waylandSocketName(name) || ::lstat((folder + "/" + name).c_str(), &status) != 0
            || !S_ISSOCK(status.st_mode))
            continue;
        *anyThere = true;
        if (status.st_uid == uid && answers(folder + "/" + name))
            names.push_back(name);
    }
    if (dir)
        ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string variable(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

// Closes every descriptor above the standard three but those kept.
bool closeAllBut(std::vector<int> keep)
{
    std::sort(keep.begin(), keep.end());
    unsigned from = 3;
    for (const int fd : keep) {
        if (fd < 3)
            continue;
        if (static_cast<unsigned>(fd) > from && ::close_range(from, static_cast<unsigned>(fd) - 1, 0) != 0)
            return false;
        from = static_cast<unsigned>(fd) + 1;
    }
    return ::close_range(from, UINT_MAX, 0) == 0;
}

// Adds the group to those initgroups() gave.
bool addGroup(const std::optional<gid_t> &group)
{
    if (!group)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count < 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count) + 1);
    if (::getgroups(count, groups.data()) != count)
        return false;
    groups[static_cast<size_t>(count)] = *group;
    return ::setgroups(groups.size(), groups.data()) == 0;
}

} // namespace

std::optional<UserSession> sessionWithoutDisplay(uid_t uid, std::string *problem)
{
    const passwd *entry = ::getpwuid(uid);
    if (!entry || !entry->pw_name || !entry->pw_dir) {
        *problem = "uid " + std::to_string(uid) + " names no user: the window has no one to run as";
        return std::nullopt;
    }
    UserSession session;
    session.uid = uid;
    session.gid = entry->pw_gid;
    session.environment.name = entry->pw_name;
    session.environment.home = entry->pw_dir;
    return session;
}

std::optional<UserSession> findUserSession(uid_t uid, const std::string &waylandName, std::string *problem)
{
    std::optional<UserSession> found = sessionWithoutDisplay(uid, problem);
    if (!found)
        return std::nullopt;
    UserSession &session = *found;
    const std::string folder = "/run/user/" + std::to_string(uid);
    struct stat status;
    // No folder at all is a machine with no logind session for the user: a kiosk.
    bool missing = false;
    std::string folderProblem;
    if (::lstat(folder.c_str(), &status) != 0) {
        missing = errno == ENOENT;
        folderProblem = std::strerror(errno);
    } else {
        folderProblem = runtimeFolderProblem(status, uid);
    }
    bool anySocket = false;
    std::vector<std::string> sockets;
    if (folderProblem.empty()) {
        session.environment.runtimeFolder = folder;
        sockets = liveWaylandSockets(folder, uid, &anySocket);
    }
    // A display name kept through sudo is a name in that folder, never a path elsewhere.
    const std::string wanted = waylandName.empty() ? variable("WAYLAND_DISPLAY") : waylandName;
    if (!sockets.empty() || !wanted.empty()) {
        const std::optional<std::string> chosen = chooseWaylandSocket(sockets, wanted, problem);
        if (!chosen)
            return std::nullopt;
        session.wayland = true;
        session.environment.display.emplace_back("WAYLAND_DISPLAY", *chosen);
        const std::vector<std::string> sway = liveSwaySockets(folder, uid);
        if (sway.size() == 1)
            session.environment.display.emplace_back("SWAYSOCK", sway[0]);
        return session;
    }
    if (!variable("DISPLAY").empty()) {
        session.environment.display.emplace_back("DISPLAY", variable("DISPLAY"));
        if (!variable("XAUTHORITY").empty())
            session.environment.display.emplace_back("XAUTHORITY", variable("XAUTHORITY"));
        return session;
    }
    // Drawn on the bare framebuffer while a compositor holds the display, the targets would lie
    // behind it, where no one sees them.
    if (anySocket || (!folderProblem.empty() && !missing)) {
        *problem = anySocket ? "a Wayland socket in " + folder + " does not answer: the session's display "
                               "cannot be reached, and the framebuffer lies behind it"
                             : folder + " " + folderProblem + ": whether a session holds the display cannot "
                               "be told, so the framebuffer is not used";
        return std::nullopt;
    }
    session.framebuffer = true;
    return session;
}

std::optional<LogindSession> logindSession()
{
    char *name = nullptr;
    if (::sd_pid_get_session(0, &name) < 0)
        return std::nullopt;
    LogindSession session;
    char *type = nullptr;
    const bool known = ::sd_session_get_uid(name, &session.owner) >= 0;
    if (known && ::sd_session_get_type(name, &type) >= 0)
        session.type = type;
    std::free(type);
    std::free(name);
    return known ? std::optional(session) : std::nullopt;
}

std::optional<uid_t> loginOwner()
{
    uid_t owner = 0;
    return ::sd_pid_get_owner_uid(0, &owner) >= 0 ? std::optional(owner) : std::nullopt;
}

bool dropToUser(const UserSession &session, std::vector<int> keep, std::string *problem)
{
    const std::string &name = session.environment.name;
    const pid_t parent = ::getppid();
    if (::initgroups(name.c_str(), session.gid) != 0 || !addGroup(session.displayGroup)
        || ::setresgid(session.gid, session.gid, session.gid) != 0
        || ::setresuid(session.uid, session.uid, session.uid) != 0) {
        *problem = "could not become user " + name + ": " + std::strerror(errno);
        return false;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        *problem = std::string("could not give up new privileges: ") + std::strerror(errno);
        return false;
    }
    uid_t ruid, euid, suid;
    gid_t rgid, egid, sgid;
    if (::setuid(0) == 0 || ::setgid(0) == 0 || ::getresuid(&ruid, &euid, &suid) != 0
        || ::getresgid(&rgid, &egid, &sgid) != 0 || ruid != session.uid || euid != session.uid
        || suid != session.uid || rgid != session.gid || egid != session.gid || sgid != session.gid) {
        *problem = "root could be had back after becoming user " + name;
        return false;
    }
    // The death signal is cleared by the change of ids: set it now, so that no window (and no
    // grab) outlives the root part.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0 || ::getppid() != parent) {
        *problem = "the root part is gone";
        return false;
    }
    if (session.cookieFd >= 0)
        keep.push_back(session.cookieFd);
    if (!closeAllBut(keep)) {
        *problem = std::string("could not close root's descriptors: ") + std::strerror(errno);
        return false;
    }
    ::clearenv();
    for (const std::string &entry : environmentStrings(session.environment)) {
        const size_t equals = entry.find('=');
        ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
    return true;
}
