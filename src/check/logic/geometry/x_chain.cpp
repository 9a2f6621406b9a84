// SPDX-License-Identifier: MIT
#include "geometry/x_chain.h"

#include "geometry/compositor_map.h"
#include "geometry/target_sequence.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The farthest, in pixels, that `chain` puts a target's raw position from where `expected`
// (the fit, or the fit turned) puts it.
double worstAt(const Matrix &chain, const Matrix &expected, const Matrix &undoneFit, int width, int height)
{
    const TargetSequence targets(width, height, {0, 1}, {0, 1});
    double worst = 0;
    // The four corners and the centre; the later steps touch the corners again.
    for (const int step : {0, 1, 2, 3, TargetSequence::kTargets - 1}) {
        const TargetSequence::Pixel pixel = targets.target(step);
        const Point raw = undoneFit.apply(double(pixel.x) / width, double(pixel.y) / height);
        const Point there = chain.apply(raw.x, raw.y), meant = expected.apply(raw.x, raw.y);
        const double off = std::hypot((there.x - meant.x) * width, (there.y - meant.y) * height);
        worst = std::max(worst, std::isfinite(off) ? off : std::numeric_limits<double>::infinity());
    }
    return worst;
}

} // namespace

ChainFinding compareChain(const Matrix &chain, const Matrix &fit, int width, int height)
{
    ChainFinding finding;
    const std::optional<Matrix> undone = fit.inverse();
    if (!undone || width <= 0 || height <= 0) {
        finding.worstPixels = std::numeric_limits<double>::infinity();
        return finding;
    }
    finding.worstPixels = worstAt(chain, fit, *undone, width, height);
    if (finding.agrees())
        return finding;
    for (const Matrix &symmetry : squareSymmetries()) {
        if (!symmetry.same(Matrix::identity())
            && worstAt(chain, symmetry.after(fit), *undone, width, height) <= ChainFinding::kWithin) {
            finding.turn = symmetry;
            break;
        }
    }
    return finding;
}
