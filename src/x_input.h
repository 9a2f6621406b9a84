// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_X_INPUT_H
#define KESTRILAVON_X_INPUT_H

#include "driver_forms.h"

#include <sys/types.h>

#include <string>
#include <vector>

// The running X server's side of a calibration: the X input devices that read one kernel
// device, and their calibration properties, through XInput 2.

// The X ids of the slave devices whose "Device Node" is the kernel device rdev. X's libinput
// driver may make several X devices of one kernel device. Empty when X has none (Xwayland
// gives its clients only virtual devices) or the display does not answer.
std::vector<int> xDevicesOnNode(dev_t rdev);

// What --apply sets: libinput's matrix, or evdev's four borders, whichever the driver reads.
struct XCalibration {
    LibinputMatrix libinput;
    Borders evdev;
    AxisRange evdevX, evdevY;  // evdev's uncalibrated state, for the undo command
};

// Sets the calibration on every X device that reads the kernel device at path, and returns
// the report for the user; on failure (no such X device, or a driver that reads neither
// property) nothing is set and ok is false.
struct ApplyReport {
    bool ok = false;
    std::string text;
};
ApplyReport applyToRunningX(const std::string &path, const XCalibration &calibration);

#endif
