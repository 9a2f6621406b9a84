// SPDX-License-Identifier: MIT
#include "framebuffer/framebuffer.h"

#include "input/listing.h"

#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

constexpr char kDefaultFramebuffer[] = "/dev/fb0";
constexpr unsigned kFramebufferMajor = 29;  // the kernel's FB_MAJOR

std::string pointercalOption;

bool plausibleSize(int width, int height)
{
    return width > 0 && height > 0 && width <= 65535 && height <= 65535;
}

// Qt's own reading of a platform string: the plugin's name, then options after colons.
std::vector<std::string> platformParts(const std::string &platform)
{
    std::vector<std::string> parts;
    std::istringstream in(platform);
    for (std::string part; std::getline(in, part, ':');)
        parts.push_back(part);
    return parts;
}

} // namespace

FramebufferChoice chooseFramebuffer(const std::string &option, const char *qtPlatform, const char *tslibFbdevice)
{
    if (!option.empty())
        return {option, "--framebuffer"};
    if (qtPlatform)
        if (const std::optional<std::string> device = linuxfbDevice(qtPlatform))
            return {*device, "QT_QPA_PLATFORM"};
    if (tslibFbdevice && *tslibFbdevice)
        return {tslibFbdevice, "TSLIB_FBDEVICE"};
    return {kDefaultFramebuffer, "the default"};
}

bool isLinuxfbPlatform(const std::string &platform)
{
    const std::vector<std::string> parts = platformParts(platform);
    return !parts.empty() && parts[0] == "linuxfb";
}

std::optional<std::string> linuxfbDevice(const std::string &platform)
{
    if (!isLinuxfbPlatform(platform))
        return std::nullopt;
    std::optional<std::string> device;
    for (const std::string &part : platformParts(platform)) {
        if (part.rfind("fb=", 0) == 0 && part.size() > 3)
            device = part.substr(3);  // Qt takes the last one
    }
    return device;
}

std::string linuxfbPlatform(const std::string &platform, const std::string &device)
{
    std::string result = "linuxfb";
    const std::vector<std::string> parts = platformParts(platform);
    for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].rfind("fb=", 0) != 0)
            result += ":" + parts[i];
    }
    return result + ":fb=" + device;
}

std::string framebufferPathProblem(const std::string &path)
{
    const std::string digits = path.rfind("/dev/fb", 0) == 0 ? path.substr(7) : "";
    if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos)
        return printable(path) + " is no framebuffer: one is named /dev/fbN";
    struct stat node;
    if (::lstat(path.c_str(), &node) == 0 && (!S_ISCHR(node.st_mode) || ::major(node.st_rdev) != kFramebufferMajor))
        return path + " is not a framebuffer's character device";
    return "";
}

std::optional<std::pair<int, int>> sizeOfModeLine(const std::string &mode)
{
    // "U:1024x768p-0": the kind of mode, a colon, then the resolution.
    const size_t colon = mode.find(':');
    int width = 0, height = 0;
    char by = 0;
    std::istringstream in(colon == std::string::npos ? mode : mode.substr(colon + 1));
    if (!(in >> width >> by >> height) || by != 'x' || !plausibleSize(width, height))
        return std::nullopt;
    return std::pair(width, height);
}

std::optional<std::pair<int, int>> visibleSize(const std::string &device, const std::string &sysfsClass)
{
    const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        fb_var_screeninfo screen{};
        const bool read = ::ioctl(fd, FBIOGET_VSCREENINFO, &screen) == 0;
        ::close(fd);
        if (read && plausibleSize(static_cast<int>(screen.xres), static_cast<int>(screen.yres)))
            return std::pair(static_cast<int>(screen.xres), static_cast<int>(screen.yres));
    }
    const std::string name = device.substr(device.rfind('/') + 1);
    std::ifstream in(sysfsClass + "/" + name + "/mode");
    std::string line;
    if (!std::getline(in, line))
        return std::nullopt;
    return sizeOfModeLine(line);
}

std::optional<std::pair<int, int>> pointercalSize(const FramebufferChoice &framebuffer,
                                                  const std::optional<std::pair<int, int>> &fallback,
                                                  std::string *said)
{
    const std::string problem = framebufferPathProblem(framebuffer.path);
    if (!problem.empty()) {
        *said = problem + " (named by " + framebuffer.namedBy + "): tslib's screen size is not known";
        return std::nullopt;
    }
    if (const std::optional<std::pair<int, int>> size = visibleSize(framebuffer.path)) {
        *said = "# W H: the visible resolution of " + framebuffer.path + " (named by " + framebuffer.namedBy + ")\n";
        return size;
    }
    struct stat node;
    const bool absent = ::stat(framebuffer.path.c_str(), &node) != 0 && errno == ENOENT;
    if (framebuffer.byDefault() && absent && fallback) {
        *said = "# W H: the screen's, as there is no framebuffer here\n";
        return fallback;
    }
    *said = "the size of " + framebuffer.path + " (named by " + framebuffer.namedBy + ") is not known: "
        + (absent ? "there is no such device" : "it cannot be opened and sysfs shows no mode for it")
        + "; no pointercal is made with a guessed size";
    return std::nullopt;
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

void namePointercal(const std::string &path)
{
    pointercalOption = path;
}

std::string pointercalPath()
{
    if (!pointercalOption.empty())
        return pointercalOption;
    const char *named = std::getenv("TSLIB_CALIBFILE");
    return named && *named ? named : "/etc/pointercal";
}
