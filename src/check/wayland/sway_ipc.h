// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_SWAY_IPC_H
#define KESTRILAVON_SWAY_IPC_H

#include "devices.h"
#include "x_input.h"

#include <optional>
#include <string>

// sway, through its IPC socket ($SWAYSOCK): the running compositor's own calibration setting.

// Whether this session is sway's (SWAYSOCK set).
bool inSway();

// Sets the matrix on sway's input for the device (and, with several outputs, maps it onto the
// one named), then reads it back: sway answers success even for an identifier that matches
// nothing. The report, as --apply's on X.
ApplyReport applyToSway(const DeviceInfo &device, const LibinputMatrix &matrix, const std::string &output);

// The matrix sway's input for the device uses now, as text; empty when sway does not say.
std::string swayMatrixOf(const DeviceInfo &device);

#endif
