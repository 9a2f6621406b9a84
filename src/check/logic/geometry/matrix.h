// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_MATRIX_H
#define KESTRILAVON_MATRIX_H

#include <array>
#include <cstddef>
#include <optional>
#include <string>

// A point of the plane: raw device units, or fractions of a screen.
struct Point {
    double x, y;
};

// A map of the plane as libinput keeps its calibration matrix: the first two rows of a 3x3
// matrix whose last row is 0 0 1,
//   x' = v[0] * x + v[1] * y + v[2],   y' = v[3] * x + v[4] * y + v[5]
// X's matrix properties and compositors' settings take the same six numbers.
struct Matrix {
    std::array<double, 6> v{1, 0, 0, 0, 1, 0};

    static Matrix identity() { return {}; }

    // Six finite numbers separated by blanks, as text() prints them; nullopt for anything else.
    static std::optional<Matrix> parse(const std::string &text);
    // The six values as decimal() prints them, separated by blanks.
    std::string text() const;
    // The same with the row "0 0 1" added, as X's properties and options take it.
    std::string textWithLastRow() const;

    double operator[](size_t i) const { return v[i]; }
    double &operator[](size_t i) { return v[i]; }

    // Whether each value is within tolerance of other's (relative to the value where it is over
    // 1). The default is what a 32-bit float or a printed form keeps.
    bool same(const Matrix &other, double tolerance = 1e-4) const;

    Point apply(double x, double y) const;
    // This map after first: (this o first)(p) = this(first(p)).
    Matrix after(const Matrix &first) const;
    // nullopt where the map squashes the plane onto a line or a point, or the inverse is not
    // finite.
    std::optional<Matrix> inverse() const;

    // Why no driver should be given this matrix as a calibration (a non-finite entry, a 2x2 part
    // that shrinks or stretches by more than a hundred times, or no part of the device landing
    // on the screen), or an empty string.
    std::string driverProblem() const;
};

#endif
