// SPDX-License-Identifier: MIT
#include "geometry/compositor_map.h"

#include "geometry/fit.h"
#include "geometry/statistics.h"

#include <algorithm>
#include <limits>
#include <cmath>
#include <cstdlib>

namespace {

// How far a corner of the solved map may lie from the window's, in window fractions.
constexpr double kCornerShare = 0.01;
// How near the scale of a spread screen lies to the outputs' extent: a touch screen glued to its
// monitor is within a few per cent of it.
constexpr double kSpreadShare = 0.03;

double cornerDistance(const Matrix &a, const Matrix &b)
{
    double worst = 0;
    for (const double x : {0.0, 1.0}) {
        for (const double y : {0.0, 1.0}) {
            const Point onA = a.apply(x, y), onB = b.apply(x, y);
            worst = std::max(worst, std::hypot(onA.x - onB.x, onA.y - onB.y));
        }
    }
    return worst;
}

} // namespace

std::vector<Matrix> squareSymmetries()
{
    std::vector<Matrix> all;
    for (const bool swap : {false, true}) {
        for (const int flipX : {1, -1}) {
            for (const int flipY : {1, -1}) {
                // Output x reads input x (or y when swapped), flipped about the centre.
                Matrix m{0, 0, 0, 0, 0, 0};
                m[swap ? 1 : 0] = flipX;
                m[2] = flipX < 0 ? 1 : 0;
                m[swap ? 3 : 4] = flipY;
                m[5] = flipY < 0 ? 1 : 0;
                all.push_back(m);
            }
        }
    }
    return all;
}

size_t pairsNeeded(int targets)
{
    return static_cast<size_t>(std::max(4, targets - targets / 4));
}

bool CompositorMap::turns() const
{
    return map && cornerDistance(*map, Matrix::identity()) > 0;
}

std::string CompositorMap::finding() const
{
    if (!map)
        return problem;
    return turns() ? "the compositor turns touches with the output: the matrix is in the panel's own frame"
                   : "the compositor does not turn touches: the matrix contains the turn";
}

CompositorMap solveCompositorMap(const std::vector<CompositorTouch> &touches, int targets,
                                 const OutputsExtent &outputs)
{
    CompositorMap found;
    // A touch or two the compositor did not report leave the map as clear; more say its touches
    // are not the device's.
    const size_t needed = pairsNeeded(targets);
    if (touches.size() < needed) {
        found.problem = "the compositor reported " + std::to_string(touches.size()) + " of the "
            + std::to_string(targets) + " touches: its own map could not be measured";
        return found;
    }
    std::vector<TouchOnTarget> pairs;
    for (const CompositorTouch &touch : touches)
        pairs.push_back({touch.libinputX, touch.libinputY, touch.windowX, touch.windowY});
    // A range of one unit from zero: the fit takes the positions as they are.
    const std::optional<Calibration> solved = fitCalibration(pairs, {0, 0}, {0, 0});
    if (!solved) {
        found.problem = "the compositor put the touches nearly on a line: its own map could not be measured";
        return found;
    }
    const Matrix measured = solved->m;
    for (const Matrix &symmetry : squareSymmetries()) {
        if (cornerDistance(measured, symmetry) <= kCornerShare) {
            found.map = symmetry;
            return found;
        }
    }
    // Straight, and as large as all the outputs together on each axis: the screen is spread over
    // them all (mutter does so with a touch screen it has not mapped onto one monitor). Anything
    // else most likely comes of an older matrix still in use: libinput reads udev's only when
    // the device is added.
    const double width = std::fabs(measured[0]), height = std::fabs(measured[4]);
    const bool straight = std::fabs(measured[1]) < kCornerShare * height && std::fabs(measured[3]) < kCornerShare * width;
    const auto near = [](double scale, double extent) { return std::fabs(scale - extent) <= kSpreadShare * extent; };
    const bool moreThanTheWindow = std::max(outputs.x, outputs.y) > 1 + kSpreadShare;
    found.problem = straight && moreThanTheWindow && near(width, outputs.x) && near(height, outputs.y)
        ? "the compositor spreads this screen over several outputs: map it onto its output first"
        : "libinput uses another matrix than udev's: unplug and plug the screen, then calibrate again";
    return found;
}

namespace {

// How far apart two event times are, in milliseconds, where both are known; the compositor's
// are cut to 32 bits.
long long stampsApart(long long compositor, long long device)
{
    if (compositor == kNoStamp || device == kNoStamp)
        return std::numeric_limits<long long>::max();
    constexpr long long kWrap = 1LL << 32;
    const long long apart = ((compositor - device) % kWrap + kWrap) % kWrap;
    return std::min(apart, kWrap - apart);
}

} // namespace

void TouchPairing::deviceTaken(int target, double x, double y)
{
    taken.erase(std::remove_if(taken.begin(), taken.end(), [&](const Taken &t) { return t.target == target; }),
                taken.end());
    taken.push_back({target, began, beganStamped, x, y});
}

void TouchPairing::compositorPressed(int id, long long time, double x, double y, long long stamped)
{
    for (Stroke &stroke : strokes) {
        if (stroke.id == id)
            stroke.open = false;  // a point id used again is a new touch
    }
    strokes.push_back({id, time, stamped, {x}, {y}, true});
}

void TouchPairing::compositorMoved(int id, double x, double y)
{
    for (auto stroke = strokes.rbegin(); stroke != strokes.rend(); ++stroke) {
        if (stroke->id == id && stroke->open) {
            stroke->xs.push_back(x);
            stroke->ys.push_back(y);
            return;
        }
    }
}

std::vector<CompositorTouch> TouchPairing::pairs(const Matrix &current) const
{
    std::vector<CompositorTouch> paired;
    std::vector<bool> used(strokes.size(), false);
    for (const Taken &touch : taken) {
        long long nearest = kPairingMilliseconds + 1;
        size_t best = strokes.size();
        for (size_t i = 0; i < strokes.size(); ++i) {
            const long long apart = std::min(std::llabs(strokes[i].pressed - touch.began),
                                             stampsApart(strokes[i].pressedStamped, touch.beganStamped));
            if (!used[i] && apart < nearest) {
                nearest = apart;
                best = i;
            }
        }
        if (best == strokes.size())
            continue;
        used[best] = true;
        const Point at = current.apply(touch.x, touch.y);
        paired.push_back({at.x, at.y, median(strokes[best].xs), median(strokes[best].ys)});
    }
    return paired;
}
