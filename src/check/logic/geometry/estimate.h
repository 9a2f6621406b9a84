// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_ESTIMATE_H
#define KESTRILAVON_ESTIMATE_H

#include "geometry/fit.h"

#include <optional>
#include <string>
#include <vector>

// How far from the finger a fitted calibration is likely to put a touch, judged from the fit's
// own touches: the scatter they leave about the fit says how much a finger strays, and how far
// a point of the screen lies from the touches (its leverage) says how much of that stray the
// fit carries there. The corners beyond the targets fare worst.
struct ErrorEstimate {
    // In screen pixels: the mean over the whole screen, and what the worst region (a corner)
    // stays within four times in five.
    double mean = 0, worst = 0;
    int touches = 0;
};

// The expected error over a 17 x 13 grid covering a w x h monitor, corners included; all zero
// but the count with three touches or fewer, which leave nothing to judge the scatter from.
ErrorEstimate estimateError(const std::vector<TouchOnTarget> &touches, const Calibration &fit,
                            AxisRange x, AxisRange y, int w, int h);

// Whether the estimate is more than a careful finger leaves: a mean over 1% of the diagonal.
bool poorEstimate(const ErrorEstimate &estimate, int w, int h);
// A length in pixels as people read it: a tenth below ten pixels, whole ones above.
std::string roughPixels(double pixels);

// A finger's scatter in pixels (on each axis) as the touches' residuals about the fit show it,
// with the degrees of freedom they leave (two axes, three parameters each); nullopt without any.
std::optional<double> scatterPixels(const std::vector<TouchOnTarget> &touches, const Calibration &fit,
                                    int w, int h);

// The leverage of a raw position over a least-squares fit to the touches: the variance of the
// fit there, in units of one touch's variance. nullopt when the touches fix no fit.
std::optional<double> leverage(const std::vector<TouchOnTarget> &touches, AxisRange x, AxisRange y,
                               double rawX, double rawY);

#endif
