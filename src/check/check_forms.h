// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CHECK_FORMS_H
#define KESTRILAVON_CHECK_FORMS_H

#include "command_line/command_line.h"
#include "framebuffer/framebuffer.h"
#include "input/devices.h"
#include "x_input.h"

#include <optional>

// What kestrilavon-check prints with no window: the devices it finds (and whether the one named
// is a touch screen), and the forms of a calibration already made (or kept by --install, or
// taken out by --uninstall).

// The device at path, when it is a touch screen whose ranges this user may read; otherwise
// nullopt and *problem says why.
std::optional<DeviceInfo> touchScreen(const std::string &path, std::string *problem);

// Said where no device could be the touch screen.
extern const char kNoAbsoluteDevice[];

// The devices that report absolute X and Y, and under X how X maps each onto the monitors.
int listDevices();

// --xorg, --udev, --apply, --install, --uninstall and --tslib on the device named, read before
// by touchScreen: the calibration given by --matrix, or the result file's, in that one form. Any
// problem: one line, status 1 (2 for a wrong --matrix), nothing printed or set.
int printForm(const CheckOptions &options, const DeviceInfo &device,
              const std::optional<XScreenLayout> &layout, const std::optional<Monitor> &monitor,
              const FramebufferChoice &framebuffer);

#endif
