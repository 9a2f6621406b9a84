// SPDX-License-Identifier: MIT
#include "framebuffer/framebuffer.h"

#include <cstdlib>
#include <fstream>

std::optional<std::pair<int, int>> framebufferSize(const std::string &sysfsFile)
{
    std::ifstream in(sysfsFile);
    int width = 0, height = 0;
    char comma = 0;
    if (!(in >> width >> comma >> height) || comma != ',' || width <= 0 || height <= 0 || width > 65535
        || height > 65535)
        return std::nullopt;
    return std::pair(width, height);
}

bool noWindowSystem()
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char *value = std::getenv(name);
        if (value && *value)
            return false;
    }
    return true;
}

std::string pointercalPath()
{
    const char *named = std::getenv("TSLIB_CALIBFILE");
    return named && *named ? named : "/etc/pointercal";
}
