// SPDX-License-Identifier: MIT
#include "geometry/outlier.h"

#include "geometry/estimate.h"

#include <cmath>

namespace {

// The chance that any honest touch of a calibration exceeds its limit, shared among the touches.
constexpr double kFalseRate = 0.008;
// Closer than this to where the others put it, a touch is never refused.
constexpr double kFloorPixels = 10;
// The limit when the others leave no scatter to judge from.
constexpr double kShareOfDiagonal = 0.05;

} // namespace

std::optional<size_t> outlyingTouch(const std::vector<TouchOnTarget> &touches, AxisRange x, AxisRange y,
                                    int w, int h)
{
    std::optional<size_t> worst;
    double worstOver = 1;
    for (size_t i = 0; i < touches.size(); ++i) {
        std::vector<TouchOnTarget> others = touches;
        others.erase(others.begin() + long(i));
        const std::optional<Calibration> fit = fitCalibration(others, x, y);
        const std::optional<double> spread = leverage(others, x, y, touches[i].rawX, touches[i].rawY);
        if (!fit || !spread)
            continue;
        const Point at = fit->m.apply(touches[i].rawX, touches[i].rawY);
        const double off = std::hypot((at.x - touches[i].targetX) * w, (at.y - touches[i].targetY) * h);
        double limit = kShareOfDiagonal * std::hypot(w, h);
        if (const std::optional<double> scatter = scatterPixels(others, *fit, w, h)) {
            // The squared distance over its expected variance, on two axes, goes as twice an F
            // distribution with 2 and `freedom` degrees of freedom, whose tail has a closed form.
            const double freedom = 2.0 * (double(others.size()) - 3);
            const double tail = kFalseRate / double(touches.size());
            const double squared = freedom * (std::pow(tail, -2 / freedom) - 1);
            limit = std::max(kFloorPixels, *scatter * std::sqrt(squared * (1 + *spread)));
        }
        if (off / limit > worstOver) {
            worst = i;
            worstOver = off / limit;
        }
    }
    return worst;
}
