// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_APPLY_IN_SESSION_H
#define KESTRILAVON_APPLY_IN_SESSION_H

#include "input/devices.h"
#include "x_input.h"

#include <string>

// --apply where the session is: sway through its IPC, another Wayland compositor (which has no
// interface for it: the --install command instead), or the running X.
ApplyReport applyInSession(const DeviceInfo &device, const XCalibration &calibration,
                           const std::string &outputName);

#endif
