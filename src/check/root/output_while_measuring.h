// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_OUTPUT_WHILE_MEASURING_H
#define KESTRILAVON_OUTPUT_WHILE_MEASURING_H

#include "input/devices.h"

#include <string>

// --calibrate --install --output NAME on Wayland: weston maps a touch screen onto an output only
// by udev's WL_OUTPUT, read when the device is added. For the measurement, a rule of its own in
// udev's runtime folder, read after every other, gives the device WL_OUTPUT=NAME, and the device
// is re-added, so that weston's answer is measured on the output the calibration is kept for.
// Only where weston holds the device. Says on stderr what was done and what udev gives; returns
// whether that rule is in place, with the WL_OUTPUT udev gave before in *before, and in *signal
// one held off during the re-add (or 0).
bool setOutputWhileMeasuring(const DeviceInfo &device, bool port, const std::string &output, std::string *before,
                             int *signal);

// Takes that rule out and re-adds the device, which the session then maps as before (or as
// the install that follows writes). Whether udev then gives it the WL_OUTPUT it gave before
// (said on stderr where not); a signal held off during the re-add goes in *signal (or 0).
bool endOutputWhileMeasuring(const DeviceInfo &device, const std::string &before, int *signal);

#endif
