// SPDX-License-Identifier: MIT
#include "geometry/matrix.h"

#include "text/decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

std::optional<Matrix> Matrix::parse(const std::string &text)
{
    Matrix matrix;
    const char *at = text.data(), *end = text.data() + text.size();
    for (double &value : matrix.v) {
        while (at < end && (*at == ' ' || *at == '\t'))
            ++at;
        // from_chars reads no leading '+' and never looks at the locale.
        const auto read = std::from_chars(at, end, value);
        if (read.ec != std::errc() || !std::isfinite(value)
            || (read.ptr < end && *read.ptr != ' ' && *read.ptr != '\t'))
            return std::nullopt;
        at = read.ptr;
    }
    while (at < end && (*at == ' ' || *at == '\t'))
        ++at;
    if (at != end)
        return std::nullopt;
    return matrix;
}

std::string Matrix::text() const
{
    std::string text;
    for (const double value : v)
        text += (text.empty() ? "" : " ") + decimal(value);
    return text;
}

std::string Matrix::textWithLastRow() const
{
    return text() + " 0 0 1";
}

bool Matrix::same(const Matrix &other, double tolerance) const
{
    for (size_t i = 0; i < 6; ++i) {
        if (std::fabs(v[i] - other[i]) > tolerance * std::max(1.0, std::fabs(other[i])))
            return false;
    }
    return true;
}

Point Matrix::apply(double x, double y) const
{
    return {v[0] * x + v[1] * y + v[2], v[3] * x + v[4] * y + v[5]};
}

Matrix Matrix::after(const Matrix &first) const
{
    const Matrix &f = first;
    return {v[0] * f[0] + v[1] * f[3], v[0] * f[1] + v[1] * f[4], v[0] * f[2] + v[1] * f[5] + v[2],
            v[3] * f[0] + v[4] * f[3], v[3] * f[1] + v[4] * f[4], v[3] * f[2] + v[4] * f[5] + v[5]};
}

std::optional<Matrix> Matrix::inverse() const
{
    const double determinant = v[0] * v[4] - v[1] * v[3];
    if (determinant == 0 || !std::isfinite(determinant))
        return std::nullopt;
    // The 2x2 part's inverse, then the offset carried back through it.
    Matrix back{v[4] / determinant, -v[1] / determinant, 0, -v[3] / determinant, v[0] / determinant, 0};
    back[2] = -(back[0] * v[2] + back[1] * v[5]);
    back[5] = -(back[3] * v[2] + back[4] * v[5]);
    for (const double value : back.v) {
        if (!std::isfinite(value))
            return std::nullopt;
    }
    return back;
}

namespace {

// Whether the image of the device's unit square (a parallelogram) meets the screen's, [0,1]^2:
// two convex shapes meet unless one of their edges' normals separates them.
bool meetsScreen(const Matrix &m)
{
    const std::array<Point, 4> image = {m.apply(0, 0), m.apply(1, 0), m.apply(0, 1), m.apply(1, 1)};
    const std::array<Point, 4> screen = {{{0, 0}, {1, 0}, {0, 1}, {1, 1}}};
    const std::array<Point, 4> normals = {{{1, 0}, {0, 1}, {-m[3], m[0]}, {-m[4], m[1]}}};
    for (const Point &normal : normals) {
        const auto span = [&](const std::array<Point, 4> &corners) {
            double low = HUGE_VAL, high = -HUGE_VAL;
            for (const Point &c : corners) {
                const double along = normal.x * c.x + normal.y * c.y;
                low = std::min(low, along);
                high = std::max(high, along);
            }
            return std::pair(low, high);
        };
        const auto [imageLow, imageHigh] = span(image);
        const auto [screenLow, screenHigh] = span(screen);
        if (imageHigh < screenLow || screenHigh < imageLow)
            return false;
    }
    return true;
}

} // namespace

std::string Matrix::driverProblem() const
{
    for (const double value : v) {
        if (!std::isfinite(value))
            return "the calibration matrix has an entry that is not a finite number";
    }
    const Matrix &m = *this;
    // The singular values of the 2x2 part: how much it stretches and shrinks at most.
    const double squares = m[0] * m[0] + m[1] * m[1] + m[3] * m[3] + m[4] * m[4];
    const double determinant = m[0] * m[4] - m[1] * m[3];
    const double root = std::sqrt(std::max(0.0, squares * squares - 4 * determinant * determinant));
    const double largest = std::sqrt((squares + root) / 2);
    const double smallest = largest > 0 ? std::fabs(determinant) / largest : 0;
    if (!std::isfinite(largest) || largest > 100)
        return "the calibration would stretch the touch screen more than a hundred times";
    if (smallest < 0.01)
        return "the calibration would shrink the touch screen more than a hundred times "
               "(or squash it onto a line)";
    if (!meetsScreen(m))
        return "the calibration would put no part of the touch screen on the screen";
    return {};
}
