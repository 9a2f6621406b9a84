// SPDX-License-Identifier: MIT
#include "calibration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

const char kVersion[] = "1.0.0";
const char kResultFilePath[] = "/tmp/kestrilavon.tmp";

Borders computeBorders(const int x[2], const int y[2])
{
    const int dx = (x[1] - x[0]) / 2;
    const int dy = (y[1] - y[0]) / 2;
    return {x[0] - dx, x[1] + dx, y[0] - dy, y[1] + dy};
}

std::string resultFileText(const Borders &borders)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "Ok! Fill the following data to the X Config file to calibrate your Quillomar "
                  "Screen,then restart X.\n"
                  "    Option  \"BoderLeft\" \"%d\"\n"
                  "    Option  \"BoderRight\" \"%d\"\n"
                  "    Option  \"BoderTop\" \"%d\"\n"
                  "    Option  \"BoderBottom\" \"%d\"\n",
                  borders.left, borders.right, borders.top, borders.bottom);
    return text;
}

namespace {

bool writeAll(int fd, const std::string &text)
{
    const char *next = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        next += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

std::string saveResultFile(const std::string &path, const std::string &text)
{
    // A fresh file with a unique name beside the target, renamed over it when complete:
    // mkstemp never follows a planted link and rename replaces the name, not what it points at.
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(&temporary[0]);
    if (fd < 0)
        return std::strerror(errno);

    int error = 0;
    if (::fchmod(fd, 0644) != 0 || !writeAll(fd, text) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return std::strerror(error);
    }
    return {};
}

int fontPointSize(int screenWidth, int currentPointSize)
{
    if (screenWidth <= 700)
        return 10;
    if (screenWidth <= 800)
        return 12;
    return currentPointSize;
}
