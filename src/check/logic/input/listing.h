// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_LISTING_H
#define KESTRILAVON_LISTING_H

#include "input/devices.h"

#include <string>

// Untrusted text for a terminal (a device's name is its USB product string, which anyone can
// set): control characters, C1's (U+0080..U+009F, which a terminal may take as an escape) as
// well, become '?'.
std::string printable(const std::string &text);

// One plain line on how a calibration with kestrilavon will go on this device, from the raw
// values it would report at the two markers (a quarter and three quarters of each range).
std::string calibrationOutlook(const DeviceInfo &device);

// The listing's lines for one device.
std::string describeForListing(const DeviceInfo &device);

#endif
