// SPDX-License-Identifier: MIT
#include "unprivileged_session.h"

#include <X11/Xauth.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string variable(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

// The cookies of the local display number from root's authority file, copied into a sealed file
// in memory: -1 where the file holds none (a server with no access control needs none), or
// where *why says it could not be read or copied.
int localCookies(const std::string &number, std::string *why)
{
    const char *file = ::XauFileName();
    FILE *in = file ? std::fopen(file, "rbe") : nullptr;
    if (!in) {
        if (file && errno != ENOENT)
            *why = std::string("cannot read ") + file + ": " + std::strerror(errno);
        return -1;
    }
    const int cookies = ::memfd_create("X cookie", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    FILE *out = cookies >= 0 ? ::fdopen(::dup(cookies), "wb") : nullptr;
    bool any = false, written = out != nullptr;
    while (Xauth *entry = written ? ::XauReadAuth(in) : nullptr) {
        if (localCookieFor(entry->family, std::string(entry->number, entry->number_length), number)) {
            written = ::XauWriteAuth(out, entry) == 1;
            any = true;
        }
        ::XauDisposeAuth(entry);
    }
    std::fclose(in);
    written = out && std::fclose(out) == 0 && written;
    // Sealed, the window part can read the cookies and change nothing root holds.
    if (!written || ::fcntl(cookies, F_ADD_SEALS, F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE) != 0) {
        *why = std::string("could not copy the X cookie: ") + std::strerror(errno);
        any = false;
    }
    if (!any && cookies >= 0)
        ::close(cookies);
    return any ? cookies : -1;
}

} // namespace

std::optional<UserSession> unprivilegedSession(const FramebufferChoice &framebuffer, std::string *why)
{
    const passwd *entry = ::getpwnam("nobody");
    if (!entry || entry->pw_uid == 0 || !entry->pw_dir) {
        *why = "there is no unprivileged user nobody";
        return std::nullopt;
    }
    UserSession session;
    session.uid = entry->pw_uid;
    session.gid = entry->pw_gid;
    session.environment.name = entry->pw_name;
    session.environment.home = entry->pw_dir;
    const std::string platform = variable("QT_QPA_PLATFORM"), display = variable("DISPLAY");
    if (!variable("WAYLAND_DISPLAY").empty() && platform.empty()) {
        *why = "the Wayland display's socket lies in root's own runtime folder";
        return std::nullopt;
    }
    if (noWindowSystem() || isLinuxfbPlatform(platform)) {
        struct stat node;
        if (::stat(framebuffer.path.c_str(), &node) != 0 || !(session.displayGroup = framebufferGroup(node))) {
            *why = framebuffer.path + " is not open to a group of its own to read and write";
            return std::nullopt;
        }
        session.framebuffer = true;
        if (!platform.empty())
            session.environment.display.emplace_back("QT_QPA_PLATFORM", linuxfbPlatform(platform, framebuffer.path));
        return session;
    }
    const std::optional<std::string> number = localXDisplayNumber(display);
    if (!platform.empty() && platform.rfind("xcb", 0) != 0) {
        *why = "the toolkit's platform " + platform + " is not X's";
        return std::nullopt;
    }
    if (!number) {
        *why = "the X display " + display + " is not one of this machine's own";
        return std::nullopt;
    }
    session.environment.display.emplace_back("DISPLAY", display);
    session.cookieFd = localCookies(*number, why);
    if (!why->empty())
        return std::nullopt;
    if (session.cookieFd >= 0)
        session.environment.display.emplace_back("XAUTHORITY", "/proc/self/fd/" + std::to_string(session.cookieFd));
    return session;
}

int sealedCopyOf(const std::string &path, std::string *problem)
{
    constexpr size_t kLimit = 64 * 1024;
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in < 0) {
        *problem = "cannot read " + path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat status;
    if (::fstat(in, &status) != 0 || !S_ISREG(status.st_mode) || static_cast<size_t>(status.st_size) > kLimit) {
        *problem = "will not read " + path + ": not a plain file of at most 64 KiB";
        ::close(in);
        return -1;
    }
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while (text.size() <= kLimit && ((got = ::read(in, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))) {
        if (got > 0)
            text.append(buffer, static_cast<size_t>(got));
    }
    ::close(in);
    const int copy = got == 0 && text.size() <= kLimit ? ::memfd_create("tslib file", MFD_CLOEXEC | MFD_ALLOW_SEALING) : -1;
    const bool whole = copy >= 0 && ::write(copy, text.data(), text.size()) == static_cast<ssize_t>(text.size())
        && ::fcntl(copy, F_ADD_SEALS, F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE) == 0;
    if (!whole) {
        *problem = "could not copy " + path + ": " + std::strerror(errno);
        if (copy >= 0)
            ::close(copy);
        return -1;
    }
    return copy;
}
