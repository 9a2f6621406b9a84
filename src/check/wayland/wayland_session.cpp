// SPDX-License-Identifier: MIT
#include "wayland_session.h"

#include <QGuiApplication>
#include <QScreen>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

bool useWaylandWindows()
{
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    return wayland && *wayland && !(platform && *platform);
}

void prepareWaylandWindows()
{
    ::setenv("QT_QPA_PLATFORM", "wayland;xcb", 1);
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    struct stat status;
    if (!runtime || !*runtime || ::stat(runtime, &status) != 0 || status.st_uid == ::geteuid())
        return;
    if (wayland && wayland[0] != '/')
        ::setenv("WAYLAND_DISPLAY", (std::string(runtime) + "/" + wayland).c_str(), 1);
    std::fprintf(stderr, "kestrilavon-check: note: the runtime folder %s is another user's: the "
                         "windows are the part to run as the session's user (a member of the input "
                         "group); --install is the part that needs root.\n", runtime);
}

bool onWayland()
{
    return QGuiApplication::platformName().startsWith("wayland");
}

QScreen *screenNamed(const QString &name)
{
    for (QScreen *screen : QGuiApplication::screens()) {
        if (screen->name() == name)
            return screen;
    }
    return nullptr;
}

std::string screenNames()
{
    std::string names;
    for (QScreen *screen : QGuiApplication::screens())
        names += (names.empty() ? "" : ", ") + screen->name().toStdString();
    return names.empty() ? "(the compositor names none)" : names;
}
