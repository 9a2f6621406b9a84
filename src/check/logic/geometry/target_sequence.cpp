// SPDX-License-Identifier: MIT
#include "geometry/target_sequence.h"

#include "geometry/outlier.h"

#include <cmath>

namespace {

// A touch this close to the previous one, on each axis, is the same touch again.
constexpr double kMisclickShare = 0.02;

constexpr struct {
    int sixteenthsX, sixteenthsY;
} kStepsInSixteenths[TargetSequence::kTargets] = {{1, 1},  {15, 1}, {15, 15}, {1, 15}, {1, 1},
                                                  {15, 1}, {15, 15}, {1, 15}, {8, 8}};
// The check target, shown once a calibration is kept: on the top side between the two top
// corners, where no target was, and off the side's midpoint, so that any turn or mirror of
// the screen, or an exchange of its axes, moves it far.
constexpr int kCheckSixteenthsX = 5, kCheckSixteenthsY = 1;

TargetSequence::Pixel atSixteenths(int sixteenthsX, int sixteenthsY, int w, int h)
{
    return {sixteenthsX * w / 16, sixteenthsY * h / 16};
}

} // namespace

TargetSequence::TargetSequence(int width, int height, AxisRange x, AxisRange y)
    : w(width), h(height), rangeX(x), rangeY(y), touches(kTargets)
{
}

TargetSequence::Pixel TargetSequence::target(int i) const
{
    return atSixteenths(kStepsInSixteenths[i].sixteenthsX, kStepsInSixteenths[i].sixteenthsY, w, h);
}

TargetSequence::Pixel TargetSequence::checkTarget() const
{
    return atSixteenths(kCheckSixteenthsX, kCheckSixteenthsY, w, h);
}

TargetSequence::Answer TargetSequence::touch(double rawX, double rawY)
{
    if (shown < 0)
        return Answer::Ignored;
    const double spanX = double(rangeX.maximum) - rangeX.minimum + 1;
    const double spanY = double(rangeY.maximum) - rangeY.minimum + 1;
    if (previous && std::fabs(rawX - previous->first) < kMisclickShare * spanX
        && std::fabs(rawY - previous->second) < kMisclickShare * spanY) {
        // Once only: a finger that touched the next target early would be ignored there for
        // ever. A second touch on the spot is meant, and the outlier rule judges it.
        previous.reset();
        return Answer::Ignored;
    }
    previous = std::make_pair(rawX, rawY);
    // The finger aims at the centre of the target's pixel.
    const Pixel pixel = target(shown);
    touches[static_cast<size_t>(shown)] =
        TouchOnTarget{rawX, rawY, (pixel.x + 0.5) / w, (pixel.y + 0.5) / h};

    Answer answer = Answer::Next;
    for (shown = 0; shown < kTargets && touches[static_cast<size_t>(shown)]; ++shown) {
    }
    if (shown == kTargets)
        evaluate(answer);
    return answer;
}

void TargetSequence::evaluate(Answer &answer)
{
    std::vector<TouchOnTarget> all;
    for (const auto &touch : touches)
        all.push_back(*touch);
    const std::optional<Calibration> fit = fitCalibration(all, rangeX, rangeY);
    why = !fit ? "the touches lie nearly on a line"
               : libinputMatrix(*fit, rangeX, rangeY).driverProblem();
    if (!why.empty()) {
        touches.assign(kTargets, std::nullopt);
        previous.reset();
        shown = 0;
        answer = Answer::StartOver;
        return;
    }
    if (const std::optional<size_t> worst = outlyingTouch(all, rangeX, rangeY, w, h)) {
        // The touch asked again may well land where the last one did: it is no double tap.
        touches[*worst].reset();
        previous.reset();
        shown = int(*worst);
        answer = Answer::Repeat;
        return;
    }
    fitted = fit;
    estimate = estimateError(all, *fit, rangeX, rangeY, w, h);
    shown = -1;
    answer = Answer::Accepted;
}

double TargetSequence::pixelsOff(const Calibration &calibration, int i) const
{
    const TouchOnTarget &touch = *touches[static_cast<size_t>(i)];
    const auto at = calibration.m.apply(touch.rawX, touch.rawY);
    return std::hypot((at.x - touch.targetX) * w, (at.y - touch.targetY) * h);
}

std::vector<TouchOnTarget> TargetSequence::fittedTouches() const
{
    std::vector<TouchOnTarget> taken;
    for (const auto &touch : touches) {
        if (fitted && touch)
            taken.push_back(*touch);
    }
    return taken;
}

std::vector<double> TargetSequence::errors() const
{
    std::vector<double> off;
    for (int i = 0; fitted && i < kTargets; ++i)
        off.push_back(pixelsOff(*fitted, i));
    return off;
}

TargetSequence::Point TargetSequence::landed(int i) const
{
    const TouchOnTarget &touch = *touches[static_cast<size_t>(i)];
    const auto at = fitted->m.apply(touch.rawX, touch.rawY);
    return {at.x * w - 0.5, at.y * h - 0.5};
}
