// SPDX-License-Identifier: MIT
#include "fit.h"

#include <cmath>

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

Fraction apply(const Calibration &c, double rawX, double rawY)
{
    return {c.m[0] * rawX + c.m[1] * rawY + c.m[2], c.m[3] * rawX + c.m[4] * rawY + c.m[5]};
}

std::optional<Borders> axisAlignedBorders(const Calibration &c, AxisRange x, AxisRange y)
{
    const LibinputMatrix m = libinputMatrix(c, x, y);
    if (!(std::fabs(m[1]) < 0.01 * std::fabs(m[0]) && std::fabs(m[3]) < 0.01 * std::fabs(m[4])))
        return std::nullopt;
    // The raw values where the map reaches each edge, each axis read on its own.
    const auto raw = [](double scale, double offset, double edge) {
        return static_cast<int>(std::lround((edge - offset) / scale));
    };
    return Borders{raw(c.m[0], c.m[2], 0), raw(c.m[0], c.m[2], 1), raw(c.m[4], c.m[5], 0),
                   raw(c.m[4], c.m[5], 1)};
}
