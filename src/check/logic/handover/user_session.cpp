// SPDX-License-Identifier: MIT
#include "handover/user_session.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// A uid as the environment gives it: digits only, nothing around them.
std::optional<uid_t> plainUid(const char *text)
{
    const size_t length = std::strlen(text);
    if (length == 0 || length > 9 || std::strspn(text, "0123456789") != length)
        return std::nullopt;
    return static_cast<uid_t>(std::strtoul(text, nullptr, 10));
}

} // namespace

std::optional<uid_t> invokingUid(const char *sudoUid, const char *pkexecUid, std::string *problem)
{
    std::optional<uid_t> found;
    for (const auto &[name, value] : {std::pair("SUDO_UID", sudoUid), std::pair("PKEXEC_UID", pkexecUid)}) {
        if (!value)
            continue;
        const std::optional<uid_t> uid = plainUid(value);
        if (!uid || *uid == 0) {
            *problem = std::string(name) + " names no user the window can run as (a user's own uid, not root's)";
            return std::nullopt;
        }
        if (found && *found != *uid) {
            *problem = "SUDO_UID and PKEXEC_UID name two users: which one ran this is not known";
            return std::nullopt;
        }
        found = uid;
    }
    return found;
}

std::string invokerProblem(uid_t invoking, std::optional<uid_t> loginOwner)
{
    if (!loginOwner || *loginOwner == invoking)
        return {};
    return "SUDO_UID or PKEXEC_UID names user " + std::to_string(invoking) + ", but this runs in the login of user "
        + std::to_string(*loginOwner) + ": that user did not ask for it through sudo or pkexec (su keeps "
        "SUDO_UID); run sudo from the login of the user whose session it is";
}

std::optional<uid_t> sessionUser(std::optional<uid_t> invoking, std::optional<uid_t> sessionOwner)
{
    if (invoking)
        return invoking;
    if (sessionOwner && *sessionOwner != 0)
        return sessionOwner;
    return std::nullopt;
}

bool graphicalSessionType(const std::string &type)
{
    return type == "x11" || type == "wayland" || type == "mir";
}

std::optional<std::string> localXDisplayNumber(const std::string &display)
{
    const size_t colon = display.rfind(':');
    if (colon == std::string::npos)
        return std::nullopt;
    const std::string host = display.substr(0, colon);
    const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
    if ((!host.empty() && host != "unix") || number.empty() || number.size() > 9
        || std::strspn(number.c_str(), "0123456789") != number.size())
        return std::nullopt;
    return number;
}

bool localCookieFor(unsigned family, const std::string &number, const std::string &displayNumber)
{
    // The families as X11/Xauth.h numbers them.
    constexpr unsigned kFamilyLocal = 256, kFamilyWild = 65535;
    return (family == kFamilyLocal || family == kFamilyWild) && number == displayNumber;
}

std::optional<gid_t> framebufferGroup(const struct stat &node)
{
    if (!S_ISCHR(node.st_mode) || node.st_gid == 0 || (node.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return std::nullopt;
    return node.st_gid;
}

std::string runtimeFolderProblem(const struct stat &status, uid_t uid)
{
    if (S_ISLNK(status.st_mode))
        return "is a link";
    if (!S_ISDIR(status.st_mode))
        return "is no folder";
    if (status.st_uid != uid)
        return "belongs to uid " + std::to_string(status.st_uid);
    if ((status.st_mode & 07777) != 0700)
        return "is open to others";
    return {};
}

bool waylandSocketName(const std::string &name)
{
    const std::string lock = ".lock";
    return name.rfind("wayland-", 0) == 0 && name.size() > 8 && name.find('/') == std::string::npos
        && !(name.size() >= lock.size() && name.compare(name.size() - lock.size(), lock.size(), lock) == 0);
}

std::optional<std::string> chooseWaylandSocket(const std::vector<std::string> &found, const std::string &wanted,
                                               std::string *problem)
{
    if (!wanted.empty() && std::find(found.begin(), found.end(), wanted) != found.end())
        return wanted;
    if (wanted.empty() && found.size() == 1)
        return found[0];
    std::string names;
    for (const std::string &name : found)
        names += (names.empty() ? "" : ", ") + name;
    if (!wanted.empty())
        *problem = "no live Wayland socket " + wanted + " of this user; found: " + (found.empty() ? "none" : names);
    else if (!found.empty())
        *problem = "this user has several Wayland sessions (" + names + "): name one with --wayland-display NAME";
    return std::nullopt;
}

std::vector<std::string> environmentStrings(const WindowEnvironment &environment)
{
    std::vector<std::pair<std::string, std::string>> all = {
        {"HOME", environment.home}, {"USER", environment.name}, {"LOGNAME", environment.name}};
    if (environment.runtimeFolder)
        all.emplace_back("XDG_RUNTIME_DIR", *environment.runtimeFolder);
    all.insert(all.end(), environment.display.begin(), environment.display.end());
    std::vector<std::string> strings;
    for (const auto &[name, value] : all) {
        if (value.find_first_of(std::string("\n\0", 2)) == std::string::npos)
            strings.push_back(name + "=" + value);
    }
    return strings;
}
