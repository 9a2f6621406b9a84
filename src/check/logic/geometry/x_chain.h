// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_X_CHAIN_H
#define KESTRILAVON_X_CHAIN_H

#include "geometry/matrix.h"

#include <optional>

// X puts a touch where its Coordinate Transformation Matrix takes what the driver's calibration
// made of it: the chain is that matrix after libinput's. A desktop may set the transformation
// whenever the device is added (GNOME on X turns it with the monitor's turn), so what X applies
// after a re-add is told by the chain, not by libinput's matrix alone.
struct ChainFinding {
    // How far, in pixels of the window the fit was measured on, the chain puts the raw positions
    // of the five distinct targets from the places the fit puts them (where they were touched).
    double worstPixels = 0;
    // Where the chain is the fit turned or mirrored afterwards (the turn within a pixel at each
    // target), that turn T: libinput's matrix with T undone before it, T^-1 o L, gives the fit.
    std::optional<Matrix> turn;
    bool agrees() const { return worstPixels <= kWithin; }

    static constexpr double kWithin = 1.0;
};

// The chain compared with the fit at the five distinct targets of a width x height window; a
// fit that cannot be undone agrees with nothing.
ChainFinding compareChain(const Matrix &chain, const Matrix &fit, int width, int height);

#endif
