#include "x_display.h"

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

} // namespace

std::string xDisplayProblem(int argc, char **argv)
{
    const char *platform = platformOption(argc, argv);
    if (platform && *platform && std::strncmp(platform, "xcb", 3) != 0)
        return {};

    const char *display = displayOption(argc, argv);
    if (!display)
        display = std::getenv("DISPLAY");
    if (!display || !*display)
        return "kestrilavon: cannot connect to an X display: DISPLAY is not set";

    xcb_connection_t *connection = xcb_connect(display, nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (failed)
        return std::string("kestrilavon: cannot connect to X display \"") + display + "\"";
    return {};
}
