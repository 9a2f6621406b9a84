// SPDX-License-Identifier: MIT
#include "check_session.h"

#include "said.h"
#include "sway_ipc.h"
#include "unprivileged_session.h"
#include "user_part.h"
#include "wayland_session.h"
#include "x_display.h"
#include "input/listing.h"

#include <QGuiApplication>
#include <QScreen>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int placeOnX(const std::string &monitorName, std::optional<XScreenLayout> *layout, std::optional<Monitor> *monitor,
             bool waylandNameAllowed)
{
    const bool wayland = useWaylandWindows() || inSway();
    *layout = wayland ? std::nullopt : xScreenLayout();
    if (*layout) {
        *monitor = chooseMonitor(**layout, monitorName);
        if (!*monitor) {
            std::string names;
            for (const Monitor &m : (*layout)->monitors)
                names += (names.empty() ? "" : ", ") + printable(m.name);
            std::fprintf(stderr, "kestrilavon-check: no monitor %s on this X display; its monitors: %s\n",
                         printable(monitorName).c_str(), names.c_str());
            return 2;
        }
    } else if (!monitorName.empty() && !wayland && !waylandNameAllowed) {
        return fail("--output needs the X display, and it does not answer");
    }
    return 0;
}

int inWindow(char **argv, const std::vector<std::string> &paths, WhenHeld whenHeld,
             const FramebufferChoice &framebuffer, const std::function<int(const std::vector<int> &devices)> &body)
{
    const std::optional<std::vector<int>> devices = openDevices(paths, whenHeld);
    if (!devices)
        return 1;
    const int status = windowsOn(argv, *devices, framebuffer, body);
    closeDevices(*devices);
    return status;
}

namespace {

// Whether the window part, once dropped as the session says, reaches its display: X with what
// it was handed, or the framebuffer through its group. Asked in a part of its own, as it runs.
bool reachesDisplay(const UserSession &session, char **argv, const FramebufferChoice &framebuffer)
{
    const WindowPartEnd end = runWindowPart(session, {}, [&](int) {
        if (!session.framebuffer)
            return xDisplayProblem(1, argv).empty() ? 0 : 1;
        const int fd = ::open(framebuffer.path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0 ? 0 : 1;
    }, std::chrono::seconds(20));
    return end.status == 0;
}

} // namespace

namespace {

// The user who ran sudo or pkexec, as far as it may be taken; nullopt with *problem said where
// it may not, with none where no one did.
std::optional<uid_t> askingUser(std::string *problem)
{
    const std::optional<uid_t> invoking = invokingUid(std::getenv("SUDO_UID"), std::getenv("PKEXEC_UID"), problem);
    if (invoking && problem->empty())
        *problem = invokerProblem(*invoking, loginOwner());
    return problem->empty() ? invoking : std::nullopt;
}

} // namespace

bool becomeTheUserWhoAsked(const std::vector<int> &keep, int *status)
{
    if (::geteuid() != 0)
        return true;
    std::string problem;
    const std::optional<uid_t> user = askingUser(&problem);
    if (!problem.empty()) {
        *status = fail(problem) + 1;
        return false;
    }
    if (!user)
        return true;
    std::string displayProblem;
    std::optional<UserSession> session = findUserSession(*user, "", &displayProblem);
    // Where the user's display cannot be told (several Wayland sessions, one that does not
    // answer), what needs none goes on as the user without it.
    if (!session) {
        std::fprintf(stderr, "kestrilavon-check: note: %s; going on without it\n", printable(displayProblem).c_str());
        session = sessionWithoutDisplay(*user, &problem);
    }
    if (!session) {
        *status = fail(problem) + 1;
        return false;
    }
    // On the bare framebuffer root draws, as before: no one's display is reached.
    if (session->framebuffer)
        return true;
    if (!dropToUser(*session, keep, &problem)) {
        *status = fail(problem);
        return false;
    }
    return true;
}

std::optional<UserSession> windowSession(char **argv, const std::string &waylandName,
                                         const FramebufferChoice &framebuffer, int *status)
{
    std::string problem;
    const std::optional<uid_t> invoking = askingUser(&problem);
    const std::optional<LogindSession> logind = problem.empty() ? logindSession() : std::nullopt;
    const std::optional<uid_t> user = sessionUser(invoking, logind ? std::optional(logind->owner) : std::nullopt);
    std::optional<UserSession> session;
    if (user) {
        session = findUserSession(*user, waylandName, &problem);
    } else if (problem.empty()) {
        std::string why;
        session = unprivilegedSession(framebuffer, &why);
        if (session && !reachesDisplay(*session, argv, framebuffer))
            why = "user " + session->environment.name + " cannot reach the display with what it is handed";
        if (!why.empty()) {
            std::fprintf(stderr, "kestrilavon-check: the window runs as root: %s\n", printable(why).c_str());
            return std::nullopt;
        }
    }
    // Drawn on the bare framebuffer while a window system holds the display, the targets would
    // lie behind it, where no one sees them.
    if (session && session->framebuffer && logind && graphicalSessionType(logind->type))
        problem = "this runs in a " + printable(logind->type) + " session, whose display was not found (no "
                  "DISPLAY, no Wayland socket of user " + session->environment.name + "): the framebuffer lies "
                  "behind it; run from a terminal of that session";
    if (!problem.empty()) {
        *status = fail(problem) + 1;
        return std::nullopt;
    }
    // Root reads sway's answer back after the install: under pkexec, which sets no SUDO_UID,
    // from the socket found here.
    if (session) {
        for (const auto &[name, value] : session->environment.display) {
            if (name == "SWAYSOCK")
                ::setenv("SWAYSOCK", value.c_str(), 0);
        }
    }
    return session;
}

int twinsOf(const DeviceInfo &device)
{
    int twins = 0;
    for (const DeviceInfo &other : touchScreenCandidates(listTouchDevices()))
        twins += other.path != device.path && other.vendor == device.vendor && other.product == device.product;
    return twins;
}

bool putBackMapping(const MappingChange &change)
{
    return change.gnome ? putBackGnomeMapping(*change.gnome) : putBackKWinOutput(*change.kwin);
}


std::string mappingUndo(const MappingChange &change)
{
    return printable(change.gnome ? gsettingsUndo(change.gnome->path, change.gnome->before)
                                  : kwinOutputUndo(change.kwin->object, change.kwin->before));
}

std::vector<std::string> outputNames()
{
    std::vector<std::string> names;
    for (const QScreen *screen : QGuiApplication::screens())
        names.push_back(screen->name().toStdString());
    return names;
}

namespace {

// KWin's output for the device settled, where KWin shows it, with the outputs the toolkit sees.
std::optional<KWinOutputChange> settleKWinWithScreens(char **argv, const FramebufferChoice &framebuffer,
                                                      const DeviceInfo &device, const std::string &outputName,
                                                      bool writing, bool *failed)
{
    const std::optional<std::string> current = kwinOutputName(device.path);
    if (!current)
        return std::nullopt;
    std::optional<KWinOutputChange> change;
    windowsOn(argv, {}, framebuffer, [&](const std::vector<int> &) {
        change = settleKWinOutput(device.path, *current, outputNames(), outputName, writing, failed);
        return 0;
    });
    return change;
}

} // namespace

std::optional<MappingChange> settledAsUser(const UserSession &session, char **argv, const FramebufferChoice &framebuffer,
                                           const DeviceInfo &device, const std::string &outputName, bool writing,
                                           bool *failed)
{
    const int twins = twinsOf(device);
    const WindowPartEnd end = runWindowPart(session, {}, [&](int changeFd) {
        bool settleFailed = false;
        std::string text;
        if (const std::optional<GnomeMappingChange> gnome =
                settleGnomeMapping(device, twins, outputName, writing, &settleFailed))
            text = gvariantStrings(gnome->before);
        else if (const std::optional<KWinOutputChange> kwin =
                     settleFailed ? std::nullopt
                                  : settleKWinWithScreens(argv, framebuffer, device, outputName, writing, &settleFailed))
            text = kwinOutputHandover(kwin->before);
        if (!text.empty() && ::write(changeFd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            return 1;
        return settleFailed ? 1 : 0;
    }, kSettingTime);
    MappingChange change;
    if (const std::optional<std::string> kwinBefore = end.handover ? readKWinOutputHandover(*end.handover) : std::nullopt)
        change.kwin = KWinOutputChange{kwinDeviceObject(device.path), *kwinBefore};
    const std::optional<std::vector<std::string>> before = end.handover && !change.kwin
        ? parseGvariantStrings(*end.handover) : std::nullopt;
    if (before && before->size() <= 3)
        change.gnome = GnomeMappingChange{gnomeTouchscreenPath(device.vendor, device.product), *before};
    if (end.handover && !change.kwin && !change.gnome) {
        fail("the window part's note of the desktop's mapping before is not one: " + printable(*end.handover));
        return std::nullopt;
    }
    *failed = !end.handover && end.status != 0 && writing;
    if (!end.handover)
        return std::nullopt;
    return change;
}
