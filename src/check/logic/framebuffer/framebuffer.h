// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_FRAMEBUFFER_H
#define KESTRILAVON_FRAMEBUFFER_H

#include <optional>
#include <string>
#include <utility>

// The first framebuffer, where a kiosk runs no window system: one Qt program on it (Qt's
// linuxfb or eglfs platform), or a program that reads touches through tslib.

constexpr char kFramebuffer[] = "/dev/fb0";

// Its resolution, unturned, as sysfs tells everyone ("1280,800"); nullopt without one.
std::optional<std::pair<int, int>> framebufferSize(const std::string &sysfsFile = "/sys/class/graphics/fb0/virtual_size");

// Whether no window system is asked for: neither DISPLAY nor WAYLAND_DISPLAY, nor a platform
// of the toolkit's named.
bool noWindowSystem();

// The file tslib reads its calibration from: $TSLIB_CALIBFILE, else /etc/pointercal.
std::string pointercalPath();

#endif
