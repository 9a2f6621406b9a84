// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_FRAMEBUFFER_H
#define KESTRILAVON_FRAMEBUFFER_H

#include <optional>
#include <string>
#include <utility>

// The framebuffer of a kiosk that runs no window system: one Qt program on it (Qt's linuxfb or
// eglfs platform), or a program that reads touches through tslib. A Raspberry Pi with an SPI
// display has two (HDMI on fb0, the small panel on fb1), so the one meant must be found.

// The framebuffer meant, and what named it (for the report).
struct FramebufferChoice {
    std::string path;
    std::string namedBy;  // "--framebuffer", "QT_QPA_PLATFORM", "TSLIB_FBDEVICE" or "the default"
    bool byDefault() const { return namedBy == "the default"; }
};

// --framebuffer first (sudo and pkexec drop the variables), then the fb= of a linuxfb
// QT_QPA_PLATFORM (where a Qt kiosk draws), then TSLIB_FBDEVICE (where tslib draws), then
// /dev/fb0. The variables are passed in, null when unset.
FramebufferChoice chooseFramebuffer(const std::string &option, const char *qtPlatform, const char *tslibFbdevice);

// The device a linuxfb platform string names ("linuxfb:fb=/dev/fb1:size=800x480"), if any.
std::optional<std::string> linuxfbDevice(const std::string &platform);

// Whether the platform string asks for Qt's linuxfb platform.
bool isLinuxfbPlatform(const std::string &platform);

// The platform string with its fb= set to device, its other options kept ("linuxfb" when empty).
std::string linuxfbPlatform(const std::string &platform, const std::string &device);

// Why path is no framebuffer to use: it must be /dev/fbN and, where it exists, a framebuffer's
// character device. Empty when it is one (or is missing, which opening it then says).
std::string framebufferPathProblem(const std::string &path);

// The resolution in sysfs's mode line ("U:1024x768p-0"); nullopt when it holds none.
std::optional<std::pair<int, int>> sizeOfModeLine(const std::string &mode);

// The visible resolution of the framebuffer, unturned: FBIOGET_VSCREENINFO's xres and yres, or
// where the device cannot be opened the mode sysfs shows for it. Never the virtual size, which
// is two or three times the visible height on drivers that pan or keep several buffers.
std::optional<std::pair<int, int>> visibleSize(const std::string &device,
                                               const std::string &sysfsClass = "/sys/class/graphics");

// W and H for tslib's pointercal: the chosen framebuffer's visible size; where none was named and
// the default one is not there, the fallback (the window's or the monitor's). *said is one
// comment line on where they come from, or, with nullopt, why the size is not known.
std::optional<std::pair<int, int>> pointercalSize(const FramebufferChoice &framebuffer,
                                                  const std::optional<std::pair<int, int>> &fallback,
                                                  std::string *said);

// Whether no window system is asked for: neither DISPLAY nor WAYLAND_DISPLAY, nor a platform
// of the toolkit's named.
bool noWindowSystem();

// The file tslib reads its calibration from: --pointercal (set with namePointercal), else
// $TSLIB_CALIBFILE, else /etc/pointercal.
std::string pointercalPath();
void namePointercal(const std::string &path);

#endif
