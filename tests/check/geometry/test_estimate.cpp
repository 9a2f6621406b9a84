// SPDX-License-Identifier: MIT
#include "geometry/outlier.h"
#include "geometry/target_sequence.h"

#include <QtTest>

#include <cmath>
#include <random>

// Seeded fingers, each touch straying by a normal scatter on each axis, on the targets of a
// 1024 x 768 monitor whose pixels lie under raw 4000..28000 of a 0..32767 panel.
class EstimateTest : public QObject {
    Q_OBJECT

    static constexpr AxisRange kRange{0, 32767};
    static constexpr int kW = 1024, kH = 768, kRuns = 200;
    std::mt19937 random{35};

    static double rawX(double x) { return 4000 + (x + 0.5) / kW * 24000; }
    static double rawY(double y) { return 4000 + (y + 0.5) / kH * 24000; }

    std::vector<TouchOnTarget> scattered(double sigma)
    {
        std::normal_distribution<double> stray(0, sigma);
        std::vector<TouchOnTarget> touches;
        for (int i = 0; i < TargetSequence::kTargets; ++i) {
            const auto target = TargetSequence(kW, kH, kRange, kRange).target(i);
            touches.push_back({rawX(target.x + stray(random)), rawY(target.y + stray(random)),
                               (target.x + 0.5) / kW, (target.y + 0.5) / kH});
        }
        return touches;
    }

    // The mean of f(x, y) over a 17 x 13 grid covering the screen, corners included.
    template <typename F> static double overScreen(F f)
    {
        double sum = 0;
        for (int i = 0; i < 17 * 13; ++i)
            sum += f(i % 17 * kW / 16.0 - 0.5, i / 17 * kH / 12.0 - 0.5) / (17 * 13);
        return sum;
    }

private slots:
    // Known the scatter, the mean error is sqrt(pi / 2) sigma sqrt(leverage) over the grid; the
    // estimate from the residuals centres on it, within a factor 2 of each run's truth.
    void theEstimateCentresOnTheKnownExpectationAndFindsEachRunsTruth()
    {
        const std::vector<TouchOnTarget> exact = scattered(0);
        const double expectation = overScreen([&](double x, double y) {
            return std::sqrt(std::acos(-1.0) / 2 * *leverage(exact, kRange, kRange, rawX(x), rawY(y))) * 4;
        });
        double estimates = 0;
        int withinTwice = 0;
        for (int run = 0; run < kRuns; ++run) {
            const std::vector<TouchOnTarget> touches = scattered(4);
            const Calibration fit = *fitCalibration(touches, kRange, kRange);
            const ErrorEstimate estimate = estimateError(touches, fit, kRange, kRange, kW, kH);
            const double truth = overScreen([&](double x, double y) {
                const Point at = fit.m.apply(rawX(x), rawY(y));
                return std::hypot(at.x * kW - 0.5 - x, at.y * kH - 0.5 - y);
            });
            estimates += estimate.mean / kRuns;
            withinTwice += estimate.mean <= 2 * truth && truth <= 2 * estimate.mean && estimate.worst > estimate.mean;
        }
        QVERIFY(expectation < 2.5);
        QVERIFY2(std::fabs(estimates / expectation - 1) < 0.05, qPrintable(QString::number(estimates / expectation)));
        QVERIFY(withinTwice >= 0.85 * kRuns);
    }

    // Honest fingers are asked again as rarely at a scatter of 2, 4 or 10 px; a slip of ten
    // times the scatter (at least 20 px), and a touch on another target, are blamed.
    void theOutlierRuleScalesWithTheScatterAndBlamesTheTouchThatSlipped()
    {
        for (const double sigma : {2.0, 4.0, 10.0}) {
            int honestRefused = 0, slipsBlamed = 0, wrongBlamed = 0;
            for (size_t run = 0; run < kRuns; ++run) {
                honestRefused += bool(outlyingTouch(scattered(sigma), kRange, kRange, kW, kH));
                std::vector<TouchOnTarget> touches = scattered(sigma), wrong = touches;
                const size_t slipped = run % touches.size();
                const double way = double(run), length = std::max(10 * sigma, 20.0);
                touches[slipped].rawX += std::cos(way) * length / kW * 24000;
                touches[slipped].rawY += std::sin(way) * length / kH * 24000;
                slipsBlamed += outlyingTouch(touches, kRange, kRange, kW, kH) == slipped;
                wrong[slipped].rawX = wrong[(slipped + 1) % touches.size()].rawX;
                wrong[slipped].rawY = wrong[(slipped + 1) % touches.size()].rawY;
                wrongBlamed += outlyingTouch(wrong, kRange, kRange, kW, kH) == slipped;
            }
            QVERIFY2(honestRefused <= kRuns / 50 && slipsBlamed >= 0.92 * kRuns && wrongBlamed == kRuns,
                     qPrintable(QString("%1 px: %2 %3 %4").arg(sigma).arg(honestRefused).arg(slipsBlamed).arg(wrongBlamed)));
        }
    }
};

QTEST_GUILESS_MAIN(EstimateTest)
#include "test_estimate.moc"
