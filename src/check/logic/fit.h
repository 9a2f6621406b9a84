// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_FIT_H
#define KESTRILAVON_FIT_H

#include "driver_forms.h"

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

// Where the calibration puts a raw position, in fractions of the monitor.
struct Fraction {
    double x, y;
};
Fraction apply(const Calibration &calibration, double rawX, double rawY);

// The borders that the calibration describes, when it is axis-aligned (the off-diagonal terms
// of libinput's matrix under 1% of the diagonal ones: not turned, not swapped, not skewed).
// evdev swaps axes before it calibrates, and the Boder options cannot turn: a calibration
// without borders is for libinput only.
std::optional<Borders> axisAlignedBorders(const Calibration &calibration, AxisRange x, AxisRange y);

#endif
