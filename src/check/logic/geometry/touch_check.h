// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_TOUCH_CHECK_H
#define KESTRILAVON_TOUCH_CHECK_H

#include "geometry/fit.h"
#include "geometry/target_sequence.h"

#include <optional>
#include <vector>

// Whether a kept calibration holds, judged by one touch on the check target as the session
// delivers it, in the window's pixels. No toolkit, no device.

// How far from the check target (a pixel of a w x h monitor) a touch through a correct
// calibration may land: the finger's own stray and the fit's error there, both drawn from the
// fit's scatter with its degrees of freedom counted, times 3.7 (an honest touch lands beyond
// that about once in a hundred, a second one hardly ever); never under 12 px, and 12 px where
// the touches leave no scatter to judge from.
double checkBound(const std::vector<TouchOnTarget> &touches, const std::optional<Calibration> &fit,
                  AxisRange x, AxisRange y, int w, int h, TargetSequence::Pixel target);

// The touches on the check target, one retry allowed: a first touch beyond the bound may be a
// slip, a second one means the calibration is wrong.
class TouchCheck {
public:
    TouchCheck(TargetSequence::Pixel target, double boundPixels);

    enum class Verdict {
        Keep,        // within the bound
        TouchAgain,  // the first touch was beyond it
        Revert,      // so was the second: put the previous calibration back
    };
    struct Judgement {
        Verdict verdict;
        double pixels;  // from the target's centre to the touch that decided
    };
    // A touch at (x, y), where the target's pixel spans [x, x + 1) and [y, y + 1). Once kept
    // or reverted, the decision stands whatever is touched after.
    Judgement judge(double x, double y);

    double bound() const { return limit; }

private:
    TargetSequence::Pixel target;
    double limit;
    int missed = 0;
    std::optional<Judgement> decided;
};

#endif
