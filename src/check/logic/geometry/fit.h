// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_FIT_H
#define KESTRILAVON_FIT_H

#include "forms/driver_forms.h"

#include <optional>
#include <vector>

// A calibration fitted to touches on targets: plain arithmetic, no toolkit.

// One touch: where it was reported raw, and the target it was meant for, in fractions of the
// monitor's width and height.
struct TouchOnTarget {
    double rawX, rawY;
    double targetX, targetY;
};

// The affine map raw -> monitor that fits the touches best (least squares), or nullopt when
// they cannot fix one: fewer than three, or nearly on a line. The raw values are normalised
// by the axis ranges while fitting, so any range fits as well as any other.
std::optional<Calibration> fitCalibration(const std::vector<TouchOnTarget> &touches, AxisRange x,
                                          AxisRange y);

// The borders that the calibration describes on a monitor of w x h pixels, when they put every
// touch on it within a pixel of where the calibration does: each axis read on its own, as
// evdev and the Boder options read it, with the other axis's share taken at the monitor's
// centre. nullopt for a turned, swapped or skewed calibration: evdev swaps axes before it
// calibrates, and the Boder options cannot turn, so it is for libinput only.
std::optional<Borders> axisAlignedBorders(const Calibration &calibration, int w, int h);

#endif
