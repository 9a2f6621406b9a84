// SPDX-License-Identifier: MIT
#include "geometry/fit.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

namespace {

double determinant3(const double m[3][3])
{
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1])
         - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0])
         + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// Solves m * result = right by Cramer's rule; the caller has checked the determinant.
std::array<double, 3> solve3(const double m[3][3], const double right[3], double determinant)
{
    std::array<double, 3> result{};
    for (int column = 0; column < 3; ++column) {
        double replaced[3][3];
        for (int row = 0; row < 3; ++row) {
            for (int c = 0; c < 3; ++c)
                replaced[row][c] = c == column ? right[row] : m[row][c];
        }
        result[static_cast<size_t>(column)] = determinant3(replaced) / determinant;
    }
    return result;
}

} // namespace

std::optional<Calibration> fitCalibration(const std::vector<TouchOnTarget> &touches, AxisRange x,
                                          AxisRange y)
{
    if (touches.size() < 3)
        return std::nullopt;
    const double rangeX = double(x.maximum) - x.minimum + 1, rangeY = double(y.maximum) - y.minimum + 1;
    // Normal equations of the least-squares fit in normalised raw units u, v.
    double normal[3][3] = {}, rightX[3] = {}, rightY[3] = {};
    for (const TouchOnTarget &touch : touches) {
        const double row[3] = {(touch.rawX - x.minimum) / rangeX, (touch.rawY - y.minimum) / rangeY, 1};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                normal[i][j] += row[i] * row[j];
            rightX[i] += row[i] * touch.targetX;
            rightY[i] += row[i] * touch.targetY;
        }
    }
    // Per touch, the determinant is the squared area the touches span (in normalised units):
    // touches nearly on a line span next to none.
    const double determinant = determinant3(normal);
    const double n = double(touches.size());
    if (!std::isfinite(determinant) || determinant / (n * n * n) < 1e-6)
        return std::nullopt;
    const std::array<double, 3> sx = solve3(normal, rightX, determinant);
    const std::array<double, 3> sy = solve3(normal, rightY, determinant);
    // Back from normalised units to raw ones.
    return Calibration{{sx[0] / rangeX, sx[1] / rangeY, sx[2] - sx[0] * x.minimum / rangeX - sx[1] * y.minimum / rangeY,
                        sy[0] / rangeX, sy[1] / rangeY, sy[2] - sy[0] * x.minimum / rangeX - sy[1] * y.minimum / rangeY}};
}

std::optional<Borders> axisAlignedBorders(const Calibration &c, int w, int h)
{
    const Matrix &m = c.m;
    // The raw position under a point of the monitor, in fractions of it.
    const std::optional<Matrix> rawAt = m.inverse();
    if (!rawAt)
        return std::nullopt;
    const Point centre = rawAt->apply(0.5, 0.5);
    // Read on its own, each axis is off by the other's share away from the centre: most at a
    // corner.
    for (const Point &corner : {rawAt->apply(0, 0), rawAt->apply(1, 0), rawAt->apply(0, 1), rawAt->apply(1, 1)}) {
        if (std::fabs(m[1] * (corner.y - centre.y)) * w > 1 || std::fabs(m[3] * (corner.x - centre.x)) * h > 1)
            return std::nullopt;
    }
    const double offsetX = m[2] + m[1] * centre.y, offsetY = m[5] + m[3] * centre.x;
    // The raw values where each axis reaches the edges.
    const auto raw = [](double scale, double offset, double edge) {
        const double value = std::round((edge - offset) / scale);
        return static_cast<int>(std::clamp(value, double(INT_MIN), double(INT_MAX)));
    };
    return Borders{raw(m[0], offsetX, 0), raw(m[0], offsetX, 1), raw(m[4], offsetY, 0),
                   raw(m[4], offsetY, 1)};
}
