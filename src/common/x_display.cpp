// SPDX-License-Identifier: MIT
#include "x_display.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

// The same option the toolkit's X platform takes from the command line.
const char *displayOption(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-display") == 0 || std::strcmp(argv[i], "--display") == 0)
            return argv[i + 1];
    }
    return nullptr;
}

const char *platformOption(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return argv[i + 1];
    }
    return std::getenv("QT_QPA_PLATFORM");
}

// What the toolkit accepts as a runtime folder without making one: ours, and ours alone.
bool isUsableRuntimeFolder(const char *path)
{
    struct stat status;
    return path && *path && ::stat(path, &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::geteuid() && (status.st_mode & 07777) == 0700;
}

} // namespace

QScreen *screenForMonitor(const QString &name)
{
    for (QScreen *screen : QGuiApplication::screens()) {
        if (!name.isEmpty() && screen->name() == name)
            return screen;
    }
    QScreen *underPointer = QGuiApplication::screenAt(QCursor::pos());
    return underPointer ? underPointer : QGuiApplication::primaryScreen();
}

std::string xDisplayProblem(int argc, char **argv)
{
    const char *platform = platformOption(argc, argv);
    if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0)
        return {};

    const char *display = displayOption(argc, argv);
    if (!display)
        display = std::getenv("DISPLAY");
    if (!display || !*display)
        return "cannot connect to an X display: DISPLAY is not set";

    xcb_connection_t *connection = xcb_connect(display, nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (failed)
        return std::string("cannot connect to X display \"") + display + "\"";
    return {};
}

void keepToolkitFromStartingAnything()
{
    // "disabled:" is D-Bus's own word for "there is no session bus": nothing is launched.
    const char *bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!bus || !*bus)
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);

    if (isUsableRuntimeFolder(std::getenv("XDG_RUNTIME_DIR")))
        return;
    // Without one (sudo gives none, or the invoking user's) the toolkit makes
    // $TMPDIR/runtime-USER only to look for a sandbox's marker file in it. Under /dev/null no
    // folder can be made, so the look-up just finds nothing. The program makes no temporary
    // files of its own through TMPDIR.
    ::unsetenv("XDG_RUNTIME_DIR");
    struct stat status;
    if (::stat("/dev/null", &status) == 0 && S_ISCHR(status.st_mode))
        ::setenv("TMPDIR", "/dev/null", 1);
}

LaterExposes::LaterExposes(QWidget *watched, std::function<void()> onExpose)
    : window(watched), onLaterExpose(std::move(onExpose))
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11)
        return;  // not on X (the tests' offscreen platform): no exposes to watch
    connection = x11->connection();
    qGuiApp->installNativeEventFilter(this);
}

LaterExposes::~LaterExposes()
{
    if (connection && qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
}

void LaterExposes::firstScreenDrawn()
{
    // Every event carries the number of the last request the server had read when it made the
    // event. A request made now comes before the first screen's own requests, so an expose with
    // a lower number was made before the server had any of the first screen.
    if (connection && firstScreenRequest == 0)
        firstScreenRequest = xcb_no_operation(connection).sequence;
}

bool LaterExposes::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (firstScreenRequest == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_EXPOSE)
        return false;
    const auto *expose = static_cast<const xcb_expose_event_t *>(message);
    const bool afterFirstScreen =
        static_cast<std::int32_t>(event->full_sequence - firstScreenRequest) >= 0;
    if (expose->window == window->internalWinId() && afterFirstScreen)
        onLaterExpose();
    return false;  // the toolkit still keeps its own account of the window
}
