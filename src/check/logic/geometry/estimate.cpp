// SPDX-License-Identifier: MIT
#include "geometry/estimate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kGridColumns = 17, kGridRows = 13;
// The mean length of a round two-dimensional normal error of one unit on each axis, and the
// length it stays within four times in five: at the worst point, that is about the median of
// the worst error over the screen, which varies from one corner to the next.
const double kMeanLengthPerSigma = std::sqrt(std::acos(-1.0) / 2);
const double kFourInFiveLengthPerSigma = std::sqrt(-2 * std::log(0.2));

std::array<double, 3> normalisedRow(double rawX, double rawY, AxisRange x, AxisRange y)
{
    return {(rawX - x.minimum) / (double(x.maximum) - x.minimum + 1),
            (rawY - y.minimum) / (double(y.maximum) - y.minimum + 1), 1};
}

// The inverse of the touches' normal matrix, in the normalised units the fit works in.
std::optional<std::array<std::array<double, 3>, 3>> inverseNormal(const std::vector<TouchOnTarget> &touches,
                                                                  AxisRange x, AxisRange y)
{
    double m[3][3] = {};
    for (const TouchOnTarget &touch : touches) {
        const auto row = normalisedRow(touch.rawX, touch.rawY, x, y);
        for (size_t i = 0; i < 3; ++i) {
            for (size_t j = 0; j < 3; ++j)
                m[i][j] += row[i] * row[j];
        }
    }
    const double determinant = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1])
        - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) + m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!std::isfinite(determinant) || std::fabs(determinant) < 1e-12)
        return std::nullopt;
    std::array<std::array<double, 3>, 3> inverse{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            // The cofactor of (j, i), by cyclic indices.
            const int r1 = (j + 1) % 3, r2 = (j + 2) % 3, c1 = (i + 1) % 3, c2 = (i + 2) % 3;
            inverse[size_t(i)][size_t(j)] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / determinant;
        }
    }
    return inverse;
}

double quadratic(const std::array<std::array<double, 3>, 3> &m, const std::array<double, 3> &row)
{
    double sum = 0;
    for (size_t i = 0; i < 3; ++i) {
        for (size_t j = 0; j < 3; ++j)
            sum += row[i] * m[i][j] * row[j];
    }
    return sum;
}

} // namespace

std::optional<double> leverage(const std::vector<TouchOnTarget> &touches, AxisRange x, AxisRange y,
                               double rawX, double rawY)
{
    const auto inverse = inverseNormal(touches, x, y);
    if (!inverse)
        return std::nullopt;
    return quadratic(*inverse, normalisedRow(rawX, rawY, x, y));
}

std::optional<double> scatterPixels(const std::vector<TouchOnTarget> &touches, const Calibration &fit,
                                    int w, int h)
{
    const int freedom = 2 * (int(touches.size()) - 3);
    if (freedom <= 0)
        return std::nullopt;
    double squares = 0;
    for (const TouchOnTarget &touch : touches) {
        const Point at = fit.m.apply(touch.rawX, touch.rawY);
        squares += std::pow((at.x - touch.targetX) * w, 2) + std::pow((at.y - touch.targetY) * h, 2);
    }
    return std::sqrt(squares / freedom);
}

ErrorEstimate estimateError(const std::vector<TouchOnTarget> &touches, const Calibration &fit,
                            AxisRange x, AxisRange y, int w, int h)
{
    ErrorEstimate estimate;
    estimate.touches = int(touches.size());
    const std::optional<double> scatter = scatterPixels(touches, fit, w, h);
    const auto inverse = inverseNormal(touches, x, y);
    const std::optional<Matrix> rawAt = fit.m.inverse();
    if (!scatter || !inverse || !rawAt)
        return estimate;
    // The square root of an unbiased variance runs low, most with few degrees of freedom: this
    // takes its median to the true scatter (Wilson and Hilferty's cube root of chi-square).
    const double freedom = 2 * (double(touches.size()) - 3);
    const double sigma = *scatter / std::pow(1 - 2 / (9 * freedom), 1.5);
    double sum = 0;
    for (int column = 0; column < kGridColumns; ++column) {
        for (int row = 0; row < kGridRows; ++row) {
            const Point raw = rawAt->apply(double(column) / (kGridColumns - 1), double(row) / (kGridRows - 1));
            const double spread = sigma * std::sqrt(quadratic(*inverse, normalisedRow(raw.x, raw.y, x, y)));
            sum += kMeanLengthPerSigma * spread;
            estimate.worst = std::max(estimate.worst, kFourInFiveLengthPerSigma * spread);
        }
    }
    estimate.mean = sum / (kGridColumns * kGridRows);
    return estimate;
}

bool poorEstimate(const ErrorEstimate &estimate, int w, int h)
{
    return estimate.mean > 0.01 * std::hypot(w, h);
}

std::string roughPixels(double pixels)
{
    char text[32];
    std::snprintf(text, sizeof text, pixels < 9.95 ? "%.1f" : "%.0f", pixels);
    return text;
}
