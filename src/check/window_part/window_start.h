// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_WINDOW_START_H
#define KESTRILAVON_WINDOW_START_H

#include "framebuffer/framebuffer.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Where the windows start: the devices opened by whoever may read them (root, under sudo), and
// the toolkit started, as the user, on the display the environment names.

enum class WhenHeld { Refuse, Show };

// The devices opened without blocking, and, where their touches must come here, refused when
// another program holds one; nullopt with a line said.
std::optional<std::vector<int>> openDevices(const std::vector<std::string> &paths, WhenHeld whenHeld);
void closeDevices(const std::vector<int> &devices);

// The display the environment names (Wayland, X, else the framebuffer meant), the X display
// asked first (the toolkit would abort without it), then the toolkit, and the window that body
// makes and runs on the devices. Its status, or 1 with a line said.
int windowsOn(char **argv, const std::vector<int> &devices, const FramebufferChoice &framebuffer,
              const std::function<int(const std::vector<int> &devices)> &body);

#endif
