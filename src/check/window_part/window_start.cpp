// SPDX-License-Identifier: MIT
#include "window_start.h"

#include "said.h"
#include "input/devices.h"
#include "input/listing.h"
#include "wayland_session.h"
#include "x_display.h"

#include <QApplication>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void quietToolkitMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "kestrilavon-check: %s\n", qUtf8Printable(message));
        std::abort();
    }
}

} // namespace

std::optional<std::vector<int>> openDevices(const std::vector<std::string> &paths, WhenHeld whenHeld)
{
    std::vector<int> devices;
    for (const std::string &path : paths) {
        const int device = openEventDevice(path);
        if (device < 0) {
            const std::string reason = errno == ENOTTY ? "not an input event device" : std::strerror(errno);
            closeDevices(devices);
            fail("cannot open " + printable(path) + ": " + reason);
            return std::nullopt;
        }
        devices.push_back(device);
        if (whenHeld == WhenHeld::Refuse && heldByAnotherProgram(device)) {
            closeDevices(devices);
            fail(printable(path) + " is held by another program: close it and try again");
            return std::nullopt;
        }
    }
    return devices;
}

void closeDevices(const std::vector<int> &devices)
{
    for (const int device : devices)
        ::close(device);
}

int windowsOn(char **argv, const std::vector<int> &devices, const FramebufferChoice &framebuffer,
              const std::function<int(const std::vector<int> &devices)> &body)
{
    // The toolkit sees only the program's name: the options are not its own.
    int toolkitArgc = 1;
    if (useWaylandWindows()) {
        prepareWaylandWindows();
    } else if (const char *platform = std::getenv("QT_QPA_PLATFORM");
               noWindowSystem() || (platform && isLinuxfbPlatform(platform))) {
        // A kiosk with no window system: the windows go straight onto the framebuffer meant.
        const std::string problem = framebufferPathProblem(framebuffer.path);
        const int fd = problem.empty() ? ::open(framebuffer.path.c_str(), O_RDWR | O_CLOEXEC) : -1;
        if (fd < 0) {
            const std::string reason = problem.empty() ? std::strerror(errno) : problem;
            return fail("no X display (DISPLAY), no Wayland display (WAYLAND_DISPLAY) and no framebuffer ("
                        + printable(framebuffer.path) + ": " + reason + "): set one of them, or run "
                        "on the console as root or a member of the video group");
        }
        ::close(fd);
        setenv("QT_QPA_PLATFORM", linuxfbPlatform(platform ? platform : "", framebuffer.path).c_str(), 1);
        std::fprintf(stderr, "kestrilavon-check: on the framebuffer %s (named by %s)\n",
                     framebuffer.path.c_str(), framebuffer.namedBy.c_str());
    } else {
        setenv("QT_QPA_PLATFORM", "xcb", 0);
    }
    const std::string displayProblem = xDisplayProblem(toolkitArgc, argv);
    if (!displayProblem.empty())
        return fail(displayProblem);
    qInstallMessageHandler(quietToolkitMessages);
    keepToolkitFromStartingAnything();
    int status;
    {
        QApplication app(toolkitArgc, argv);
        status = body(devices);
    }
    return status;
}

