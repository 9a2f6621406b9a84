// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_POINTERCAL_H
#define KESTRILAVON_POINTERCAL_H

#include "input/devices.h"

#include <string>

// --install --tslib: tslib's calibration file, pointercal, written and put back. Needs root.

// tslib's pointercal line as the forms print it: the line, and where it goes.
std::string pointercalText(const std::string &line);

// Writes the line as tslib's calibration file (pointercalPath()): under a new name beside it,
// renamed into place, never through a link; prints the old line (checked as ten integers) to
// undo it. Returns the status.
// What an install of tslib's pointercal changed, to put it back exactly.
struct PointercalChange {
    std::string before, after;
    bool existed = false, written = false;
};

int installPointercal(const std::string &line, PointercalChange *change = nullptr);

// Puts pointercal back as it was before the install, when it is still as the install left it,
// and reads it back: "the old calibration is back" only when it holds the old text again (or is
// gone, where there was none); otherwise what failed and the command that finishes it. Prints
// the report; returns true when the old state is back.
bool restorePointercal(const PointercalChange &change);

// The axes tslib's raw module reads on the device: the multitouch axes where it has them.
AxisRange tslibX(const DeviceInfo &device);
AxisRange tslibY(const DeviceInfo &device);

#endif
