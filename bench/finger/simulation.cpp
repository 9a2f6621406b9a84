// SPDX-License-Identifier: MIT
#include "simulation.h"

#include "geometry/fit.h"
#include "geometry/target_sequence.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <cmath>
#include <type_traits>
#include <utility>

namespace {

// A calibration that never ends (a rule that keeps asking) is cut off here and counted as such.
constexpr int kMostTouches = 100;

constexpr double kPi = 3.14159265358979323846;

// Whether TargetSequence predicts the error of its own calibration (expected()). Until it does,
// the tables go without the estimate's columns.
template <typename Sequence, typename = void>
struct Predicts : std::false_type {
};
template <typename Sequence>
struct Predicts<Sequence, std::void_t<decltype(std::declval<const Sequence &>().expected().mean)>>
    : std::true_type {
};

template <typename Sequence>
std::optional<double> predictedMean(const Sequence &sequence)
{
    if constexpr (Predicts<Sequence>::value)
        return sequence.expected().mean;
    else
        return std::nullopt;
}

} // namespace

bool sequencePredictsError()
{
    return Predicts<TargetSequence>::value;
}

const std::vector<Panel> &panels()
{
    static const std::vector<Panel> all = {
        {"12-bit", {0, 4095}, {0, 4095}, Matrix{{3750, 0, 180, 0, 3620, 240}}},
        {"15-bit skewed", {0, 32767}, {0, 32767}, Matrix{{31000, 150, 900, -100, 30500, 1200}}},
        {"12-bit turned a quarter", {0, 4095}, {0, 4095}, Matrix{{20, -3700, 3900, 3800, 0, 150}}},
    };
    return all;
}

Finger::Finger(std::initializer_list<std::uint32_t> seed, double sigmaPixels) : sigma(sigmaPixels)
{
    std::seed_seq spread(seed);
    engine.seed(spread);
}

double Finger::uniform()
{
    return (static_cast<double>(engine()) + 0.5) / 4294967296.0;
}

double Finger::gaussian()
{
    if (spare) {
        const double value = *spare;
        spare.reset();
        return value;
    }
    const double radius = std::sqrt(-2 * std::log(uniform()));
    const double angle = 2 * kPi * uniform();
    spare = radius * std::sin(angle);
    return radius * std::cos(angle);
}

std::pair<double, double> Finger::land(int px, int py)
{
    // The finger aims at the centre of the pixel, as the targets are drawn.
    const double x = px + 0.5 + sigma * gaussian();
    return {x, py + 0.5 + sigma * gaussian()};
}

std::pair<double, double> rawAt(const Panel &panel, double x, double y, int w, int h)
{
    const Point raw = panel.rawFromScreen.apply(x / w, y / h);
    return {std::clamp(std::round(raw.x), double(panel.x.minimum), double(panel.x.maximum)),
            std::clamp(std::round(raw.y), double(panel.y.minimum), double(panel.y.maximum))};
}

ScreenError screenError(const Calibration &calibration, const Panel &panel, int w, int h)
{
    constexpr int kColumns = 17, kRows = 13;
    ScreenError error{0, 0};
    for (int column = 0; column < kColumns; ++column) {
        for (int row = 0; row < kRows; ++row) {
            const double u = double(column) / (kColumns - 1), v = double(row) / (kRows - 1);
            const Point raw = panel.rawFromScreen.apply(u, v);
            const Point at = calibration.m.apply(raw.x, raw.y);
            const double off = std::hypot((at.x - u) * w, (at.y - v) * h);
            error.mean += off / (kColumns * kRows);
            error.worst = std::max(error.worst, off);
        }
    }
    return error;
}

OurRun runOurs(const Panel &panel, int w, int h, Finger &finger, int slipAt, double slipPixels)
{
    OurRun run;
    TargetSequence sequence(w, h, panel.x, panel.y);
    int slippedTarget = -1;
    while (!run.accepted && run.touches < kMostTouches) {
        const int target = sequence.current();
        const TargetSequence::Pixel pixel = sequence.target(target);
        auto [x, y] = finger.land(pixel.x, pixel.y);
        if (run.touches == slipAt) {
            // A finger slips along the glass, never off it: a direction that keeps the touch on
            // the screen, so that the slip is as large as said and not cut at the panel's edge.
            double sx = x, sy = y;
            for (int tries = 0; tries < 100 && (tries == 0 || sx < 0 || sy < 0 || sx >= w || sy >= h); ++tries) {
                const double angle = 2 * kPi * finger.uniform();
                sx = x + slipPixels * std::cos(angle);
                sy = y + slipPixels * std::sin(angle);
            }
            x = sx;
            y = sy;
            slippedTarget = target;
        }
        const auto [rawX, rawY] = rawAt(panel, x, y, w, h);
        ++run.touches;
        switch (sequence.touch(rawX, rawY)) {
        case TargetSequence::Answer::Repeat:
            run.askedAgain = true;
            if (slippedTarget >= 0) {
                const bool named = sequence.current() == slippedTarget;
                run.slipCaught = run.slipCaught || named;
                if (!run.blamedRight)
                    run.blamedRight = named;
            }
            break;
        case TargetSequence::Answer::Accepted:
            run.accepted = true;
            run.calibration = sequence.calibration();
            run.fittedTouches = sequence.fittedTouches();
            run.predictedMean = predictedMean(sequence);
            break;
        case TargetSequence::Answer::Next:
        case TargetSequence::Answer::Ignored:  // the user touches the same target again
        case TargetSequence::Answer::StartOver:
            break;
        }
    }
    return run;
}

namespace {

std::pair<int, int> at(int w, int h, double shareX, double shareY)
{
    return {int(std::lround(shareX * w)), int(std::lround(shareY * h))};
}

// Four corners and the centre, in sixteenths of the screen from each edge.
std::vector<std::pair<int, int>> fiveAtSixteenths(int w, int h)
{
    return {{w / 16, h / 16}, {15 * w / 16, h / 16}, {15 * w / 16, 15 * h / 16},
            {w / 16, 15 * h / 16}, {w / 2, h / 2}};
}

PeerRun leastSquares(const std::vector<std::pair<int, int>> &targets, const Panel &panel, int w,
                     int h, Finger &finger)
{
    std::vector<TouchOnTarget> touches;
    for (const auto &[px, py] : targets) {
        const auto [x, y] = finger.land(px, py);
        const auto [rawX, rawY] = rawAt(panel, x, y, w, h);
        touches.push_back({rawX, rawY, (px + 0.5) / w, (py + 0.5) / h});
    }
    return {int(targets.size()), fitCalibration(touches, panel.x, panel.y)};
}

// Three touches fix the map exactly; a fourth must land within a tenth of the screen (in
// fractions of each side) of its target, or all four are asked again.
PeerRun threeAndCheck(const std::vector<std::pair<int, int>> &targets, const Panel &panel, int w,
                      int h, Finger &finger)
{
    PeerRun run;
    while (run.touches < kMostTouches) {
        const PeerRun three = leastSquares({targets.begin(), targets.begin() + 3}, panel, w, h,
                                           finger);
        const auto [px, py] = targets[3];
        const auto [x, y] = finger.land(px, py);
        const auto [rawX, rawY] = rawAt(panel, x, y, w, h);
        run.touches += 4;
        if (!three.calibration)
            continue;
        const Point check = three.calibration->m.apply(rawX, rawY);
        if (std::hypot(check.x - (px + 0.5) / w, check.y - (py + 0.5) / h) < 0.1) {
            run.calibration = three.calibration;
            break;
        }
    }
    return run;
}

} // namespace

const std::vector<PeerLayout> &peerLayouts()
{
    using Solve = PeerLayout::Solve;
    static const std::vector<PeerLayout> all = {
        {"weston-touch-calibrator: 3 solved exactly + 1 check", Solve::ThreeAndCheck,
         [](int w, int h) {
             return std::vector<std::pair<int, int>>{at(w, h, 0.15, 0.10), at(w, h, 0.85, 0.13),
                                                     at(w, h, 0.20, 0.80), at(w, h, 0.70, 0.75)};
         }},
        {"tslib ts_calibrate: corners 50 px in + centre", Solve::LeastSquares,
         [](int w, int h) {
             return std::vector<std::pair<int, int>>{
                 {50, 50}, {w - 50, 50}, {w - 50, h - 50}, {50, h - 50}, {w / 2, h / 2}};
         }},
        {"5 targets at sixteenths", Solve::LeastSquares, fiveAtSixteenths},
        {"3x3 grid at sixteenths", Solve::LeastSquares,
         [](int w, int h) {
             std::vector<std::pair<int, int>> grid;
             for (const int y : {h / 16, h / 2, 15 * h / 16})
                 for (const int x : {w / 16, w / 2, 15 * w / 16})
                     grid.emplace_back(x, y);
             return grid;
         }},
        {"4 corners at sixteenths twice each + centre", Solve::LeastSquares,
         [](int w, int h) {
             // Never the same corner twice in a row.
             std::vector<std::pair<int, int>> corners = fiveAtSixteenths(w, h);
             const std::pair<int, int> centre = corners.back();
             corners.pop_back();
             std::vector<std::pair<int, int>> shown = corners;
             shown.insert(shown.end(), corners.begin(), corners.end());
             shown.push_back(centre);
             return shown;
         }},
        {"5 targets at sixteenths twice each", Solve::LeastSquares,
         [](int w, int h) {
             std::vector<std::pair<int, int>> shown = fiveAtSixteenths(w, h);
             const std::vector<std::pair<int, int>> again = shown;
             shown.insert(shown.end(), again.begin(), again.end());
             return shown;
         }},
    };
    return all;
}

PeerRun runPeer(const PeerLayout &layout, const Panel &panel, int w, int h, Finger &finger)
{
    const std::vector<std::pair<int, int>> targets = layout.targets(w, h);
    return layout.solve == PeerLayout::Solve::LeastSquares
               ? leastSquares(targets, panel, w, h, finger)
               : threeAndCheck(targets, panel, w, h, finger);
}

BenchOptions benchOptions(int argc, char **argv, int defaultRuns)
{
    BenchOptions options{defaultRuns};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0)
            options.runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--seed") == 0)
            options.seed = std::uint32_t(std::strtoul(argv[i + 1], nullptr, 10));
    }
    return options;
}
