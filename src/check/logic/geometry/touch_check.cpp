// SPDX-License-Identifier: MIT
#include "geometry/touch_check.h"

#include "geometry/estimate.h"

#include <algorithm>
#include <cmath>

namespace {

// Closer than this no finger can be told from another, however steady the fit's touches were.
constexpr double kFloorPixels = 12;
// The check's distance over sigma-hat * sqrt(1 + leverage), squared and halved, goes as an F
// distribution with 2 and the fit's degrees of freedom; past 3.7 its tail, at the 12 that nine
// touches leave, is about 1%: one honest touch in a hundred asked again.
constexpr double kScatters = 3.7;

} // namespace

double checkBound(const std::vector<TouchOnTarget> &touches, const std::optional<Calibration> &fit,
                  AxisRange x, AxisRange y, int w, int h, TargetSequence::Pixel target)
{
    if (!fit)
        return kFloorPixels;
    const std::optional<double> scatter = scatterPixels(touches, *fit, w, h);
    const std::optional<Matrix> rawFromScreen = fit->m.inverse();
    if (!scatter || !rawFromScreen)
        return kFloorPixels;
    // The finger aims at the centre of the target's pixel.
    const Point raw = rawFromScreen->apply((target.x + 0.5) / w, (target.y + 0.5) / h);
    const std::optional<double> spread = leverage(touches, x, y, raw.x, raw.y);
    if (!spread || !std::isfinite(*scatter * *spread))
        return kFloorPixels;
    return std::max(kFloorPixels, kScatters * *scatter * std::sqrt(1 + *spread));
}

TouchCheck::TouchCheck(TargetSequence::Pixel checkTarget, double boundPixels)
    : target(checkTarget), limit(boundPixels)
{
}

TouchCheck::Judgement TouchCheck::judge(double x, double y)
{
    if (decided)
        return *decided;
    const double pixels = std::hypot(x - (target.x + 0.5), y - (target.y + 0.5));
    if (pixels <= limit)
        decided = Judgement{Verdict::Keep, pixels};
    else if (++missed > 1)
        decided = Judgement{Verdict::Revert, pixels};
    else
        return {Verdict::TouchAgain, pixels};
    return *decided;
}
