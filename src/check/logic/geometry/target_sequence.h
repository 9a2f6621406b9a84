// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_TARGET_SEQUENCE_H
#define KESTRILAVON_TARGET_SEQUENCE_H

#include "geometry/estimate.h"
#include "geometry/fit.h"

#include <optional>
#include <string>
#include <vector>

// The targets of kestrilavon-check --calibrate, one at a time, and what a touch does to them:
// the order, the misclick rules and the fit. No toolkit, no device: it is given raw touches and
// says what the window shows next.
// A finger strays by some pixels from any target; the fit's error falls as the touches grow in
// number and spread. So the four corners, where the leverage is, are each touched twice (never
// twice in a row, so that a touch beside the last one is always a bounce), and the centre once.
class TargetSequence {
public:
    // The number of touches, one per step.
    static constexpr int kTargets = 9;

    // A monitor of w x h pixels; the device's X and Y ranges (from ABS_X and ABS_Y).
    TargetSequence(int w, int h, AxisRange x, AxisRange y);

    // The pixel at the centre of the target of step i: (W/16, H/16), (15W/16, H/16),
    // (15W/16, 15H/16), (W/16, 15H/16), the same four again, then (W/2, H/2).
    struct Pixel {
        int x, y;
    };
    Pixel target(int i) const;
    // The pixel at the centre of the target that checks a kept calibration, at a place no
    // step's target is: (5W/16, H/16).
    Pixel checkTarget() const;

    // The target shown now, or -1 once the fit is accepted.
    int current() const { return shown; }

    enum class Answer {
        Next,       // taken; the next target (or the same one again, if asked) is shown
        Ignored,    // too near the previous touch: a double tap or a bounce
        Repeat,     // after the last, one touch lies far from the fit of the others: current() again
        StartOver,  // the touches cannot make a usable calibration: problem() says why
        Accepted,   // the fit is accepted: calibration() holds it
    };
    Answer touch(double rawX, double rawY);

    const std::optional<Calibration> &calibration() const { return fitted; }
    // The touches the accepted fit was made from; none before.
    std::vector<TouchOnTarget> fittedTouches() const;
    const std::string &problem() const { return why; }
    // How far from the finger the accepted fit is likely to put a touch, over the screen.
    const ErrorEstimate &expected() const { return estimate; }
    // The distance in pixels from each target to where the accepted fit puts its touch.
    std::vector<double> errors() const;
    // Where the accepted fit puts the touch on target i, in pixels.
    struct Point {
        double x, y;
    };
    Point landed(int i) const;

private:
    double pixelsOff(const Calibration &calibration, int i) const;
    void evaluate(Answer &answer);

    int w, h;
    AxisRange rangeX, rangeY;
    std::vector<std::optional<TouchOnTarget>> touches;
    std::optional<std::pair<double, double>> previous;  // the raw position of the last touch taken
    int shown = 0;
    std::optional<Calibration> fitted;
    ErrorEstimate estimate;
    std::string why;
};

#endif
