// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CALIBRATION_RUN_H
#define KESTRILAVON_CALIBRATION_RUN_H

#include "command_line/command_line.h"
#include "framebuffer/framebuffer.h"
#include "user_session_found.h"
#include "x_input.h"

#include <optional>

// --calibrate: the devices chosen (the one named, or those that can be the touch screen), then
// the window here, run by the session's own user (or by root with no one else to run as), or,
// with session, under root: root opens the devices and keeps the result, the window between
// running as that user.
int runCalibrate(char **argv, const CheckOptions &options, const FramebufferChoice &framebuffer,
                 const std::optional<UserSession> &session, const std::optional<XScreenLayout> &layout,
                 const std::optional<Monitor> &monitor);

#endif
