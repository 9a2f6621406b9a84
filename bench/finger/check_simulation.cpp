// SPDX-License-Identifier: MIT
#include "check_simulation.h"

#include "simulation.h"

#include "geometry/touch_check.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Where the session puts a touch at raw (rawX, rawY), in the window's pixels.
Point delivered(const Calibration &kept, SessionFault fault, double shiftAngle, double rawX,
                double rawY, int w, int h)
{
    const Point at = kept.m.apply(rawX, rawY);
    switch (fault) {
    case SessionFault::Shifted30:
        return {at.x * w + 30 * std::cos(shiftAngle), at.y * h + 30 * std::sin(shiftAngle)};
    case SessionFault::TurnedQuarter:
        return {(1 - at.y) * w, at.x * h};
    case SessionFault::None:
        break;
    }
    return {at.x * w, at.y * h};
}

} // namespace

CheckTally simulateChecks(int w, int h, double sigma, SessionFault fault, int runs, std::uint32_t seed)
{
    CheckTally tally;
    for (int i = 0; i < runs; ++i) {
        const Panel &panel = panels()[size_t(i) % panels().size()];
        Finger finger({seed, std::uint32_t(w), std::uint32_t(h), std::uint32_t(i)}, sigma);
        const OurRun run = runOurs(panel, w, h, finger);
        if (!run.calibration)
            continue;
        ++tally.calibrations;
        const TargetSequence::Pixel target = TargetSequence(w, h, panel.x, panel.y).checkTarget();
        TouchCheck check(target, checkBound(run.fittedTouches, run.calibration, panel.x, panel.y, w, h, target));
        tally.bounds.push_back(check.bound());
        const double shiftAngle = 2 * kPi * finger.uniform();
        for (int touch = 0; touch < 2; ++touch) {
            const auto [x, y] = finger.land(target.x, target.y);
            const auto [rawX, rawY] = rawAt(panel, x, y, w, h);
            const Point at = delivered(*run.calibration, fault, shiftAngle, rawX, rawY, w, h);
            const TouchCheck::Verdict verdict = check.judge(at.x, at.y).verdict;
            tally.touchedAgain += verdict == TouchCheck::Verdict::TouchAgain;
            tally.kept += verdict == TouchCheck::Verdict::Keep;
            tally.reverted += verdict == TouchCheck::Verdict::Revert;
            if (verdict != TouchCheck::Verdict::TouchAgain)
                break;
        }
    }
    return tally;
}
