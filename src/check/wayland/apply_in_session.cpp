// SPDX-License-Identifier: MIT
#include "apply_in_session.h"

#include "sway_ipc.h"
#include "udev/rule_edits.h"

#include <cstdlib>

ApplyReport applyInSession(const DeviceInfo &device, const XCalibration &calibration,
                           const std::string &outputName)
{
    if (inSway())
        return applyToSway(device, calibration.libinput, outputName);
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland && xDeviceMatrices(device.path).empty()) {
        ApplyReport report;
        report.text = "this Wayland compositor has no interface for setting a calibration from "
                      "outside; keep it as a udev rule, which libinput reads when the device is "
                      "added: " + keepCommand(device, calibration.libinput) + "\n";
        return report;
    }
    return applyToRunningX(device.path, calibration);
}
