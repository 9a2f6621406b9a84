// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CHECK_CALIBRATE_H
#define KESTRILAVON_CHECK_CALIBRATE_H

#include "framebuffer/framebuffer.h"
#include "input/devices.h"
#include "root_part.h"
#include "x_input.h"

#include <QScreen>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// kestrilavon-check --calibrate: the targets, and what is done with the fit they give.

// What --calibrate is asked to do besides printing the forms.
struct CalibrateOptions {
    bool askFirst = false;  // ask for a touch on the touch screen even when there is one device
    bool apply = false;     // set it on the running X (or sway) at once
    bool install = false;   // keep it (root): the udev rule, or with tslib tslib's pointercal
    bool port = false;      // the udev rule of the device's port
    bool tslib = false;
    FramebufferChoice framebuffer;  // where tslib's W and H come from
    // Run as the user for root: the accepted fit goes there as a hand-over, and root keeps it.
    int handoverFd = -1;
};

// kestrilavon-check --calibrate on one of the devices (open, each with what was found out of
// it): with several (or askFirst), a window first asks the user to touch the one. Then nine
// targets on the monitor (the one X maps the device onto, unless monitorNamed); once the fit is
// accepted, the forms on the standard output and what the options ask. Runs in the toolkit's
// application. Status 0 when a fit was accepted (and printed, and applied or installed if
// asked), 1 otherwise.
int runCalibration(const std::vector<int> &devices, const std::vector<DeviceInfo> &infos,
                   const CalibrateOptions &options, const std::optional<XScreenLayout> &layout,
                   std::optional<Monitor> monitor, const std::string &monitorName);

#endif
