// SPDX-License-Identifier: MIT
#include "geometry/estimate.h"
#include "geometry/outlier.h"
#include "geometry/target_sequence.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <random>

// Seeded fingers on the targets of a 1024 x 768 monitor under a panel of 0..32767 whose pixels
// lie under raw 4000..28000: each touch strays by a normal scatter on each axis.
class EstimateTest : public QObject {
    Q_OBJECT

    static constexpr AxisRange kRange{0, 32767};
    static constexpr int kW = 1024, kH = 768, kRuns = 200;

    static double rawX(double x) { return 4000 + (x + 0.5) / kW * 24000; }
    static double rawY(double y) { return 4000 + (y + 0.5) / kH * 24000; }

    static std::vector<TouchOnTarget> scattered(std::mt19937 &random, double sigma)
    {
        const TargetSequence layout(kW, kH, kRange, kRange);
        std::normal_distribution<double> stray(0, sigma);
        std::vector<TouchOnTarget> touches;
        for (int i = 0; i < TargetSequence::kTargets; ++i) {
            const auto target = layout.target(i);
            touches.push_back({rawX(target.x + stray(random)), rawY(target.y + stray(random)),
                               (target.x + 0.5) / kW, (target.y + 0.5) / kH});
        }
        return touches;
    }

    // The mean error over the screen that the fit truly makes.
    static double trueMeanError(const Calibration &fit)
    {
        double sum = 0;
        for (int column = 0; column < 17; ++column) {
            for (int row = 0; row < 13; ++row) {
                const double x = column * kW / 16.0 - 0.5, y = row * kH / 12.0 - 0.5;
                const Point at = fit.m.apply(rawX(x), rawY(y));
                sum += std::hypot(at.x * kW - 0.5 - x, at.y * kH - 0.5 - y);
            }
        }
        return sum / (17 * 13);
    }

    static double medianOf(std::vector<double> values)
    {
        std::nth_element(values.begin(), values.begin() + long(values.size() / 2), values.end());
        return values[values.size() / 2];
    }

private slots:
    // With the scatter known, the mean error is the mean over the grid of the Rayleigh mean,
    // sqrt(pi / 2) sigma sqrt(leverage): the truth and the estimate from the residuals alike
    // centre on it, and one calibration's estimate lies within a factor 2 of its truth.
    void theEstimateCentresOnTheKnownExpectationAndFindsEachRunsTruth()
    {
        std::mt19937 random(35);
        const std::vector<TouchOnTarget> exact = scattered(random, 0);
        const double sigma = 4;
        double expectation = 0;
        for (int column = 0; column < 17; ++column) {
            for (int row = 0; row < 13; ++row)
                expectation += std::sqrt(std::acos(-1.0) / 2) * sigma
                    * std::sqrt(*leverage(exact, kRange, kRange, rawX(column * kW / 16.0 - 0.5), rawY(row * kH / 12.0 - 0.5)));
        }
        expectation /= 17 * 13;
        QVERIFY(expectation < 2.5);

        std::vector<double> estimates, truths;
        int withinTwice = 0;
        for (int run = 0; run < kRuns; ++run) {
            const std::vector<TouchOnTarget> touches = scattered(random, sigma);
            const Calibration fit = *fitCalibration(touches, kRange, kRange);
            const ErrorEstimate estimate = estimateError(touches, fit, kRange, kRange, kW, kH);
            QCOMPARE(estimate.touches, TargetSequence::kTargets);
            QVERIFY(estimate.worst > estimate.mean);
            estimates.push_back(estimate.mean);
            truths.push_back(trueMeanError(fit));
            withinTwice += estimate.mean <= 2 * truths.back() && truths.back() <= 2 * estimate.mean;
        }
        QVERIFY(std::fabs(medianOf(truths) / expectation - 1) < 0.05);
        QVERIFY(std::fabs(medianOf(estimates) / expectation - 1) < 0.05);
        QVERIFY(withinTwice >= 0.85 * kRuns);
    }

    // An honest finger is asked again about as rarely whether it strays by 2, 4 or 10 pixels;
    // a slip of ten times the scatter (or 20 px) is caught, on the touch that slipped.
    void theOutlierRuleScalesWithTheScatter()
    {
        std::mt19937 random(36);
        std::uniform_int_distribution<size_t> anyTouch(0, TargetSequence::kTargets - 1);
        std::uniform_real_distribution<double> anyWay(0, 2 * std::acos(-1.0));
        for (const double sigma : {2.0, 4.0, 10.0}) {
            int honestRefused = 0, slipsCaught = 0;
            for (int run = 0; run < kRuns; ++run) {
                honestRefused += bool(outlyingTouch(scattered(random, sigma), kRange, kRange, kW, kH));
                std::vector<TouchOnTarget> touches = scattered(random, sigma);
                const size_t slipped = anyTouch(random);
                const double way = anyWay(random), length = std::max(10 * sigma, 20.0);
                touches[slipped].rawX += std::cos(way) * length / kW * 24000;
                touches[slipped].rawY += std::sin(way) * length / kH * 24000;
                slipsCaught += outlyingTouch(touches, kRange, kRange, kW, kH) == slipped;
            }
            QVERIFY2(honestRefused <= kRuns / 50, qPrintable(QString("sigma %1: %2 refused").arg(sigma).arg(honestRefused)));
            QVERIFY2(slipsCaught >= 0.92 * kRuns, qPrintable(QString("sigma %1: %2 caught").arg(sigma).arg(slipsCaught)));
        }
    }

    // A touch on another target is always blamed, and a steady finger is not held to less than
    // a few pixels.
    void aWrongTargetIsBlamedAndAFewPixelsAreNeverRefused()
    {
        std::mt19937 random(37);
        for (int run = 0; run < kRuns / 4; ++run) {
            std::vector<TouchOnTarget> touches = scattered(random, 4);
            const size_t wrong = size_t(run % TargetSequence::kTargets), meant = (wrong + 1) % touches.size();
            touches[wrong].rawX = touches[meant].rawX;
            touches[wrong].rawY = touches[meant].rawY;
            QCOMPARE(outlyingTouch(touches, kRange, kRange, kW, kH), std::optional<size_t>(wrong));
        }
        std::vector<TouchOnTarget> exact = scattered(random, 0);
        exact[3].rawX += 8.0 / kW * 24000;
        QVERIFY(!outlyingTouch(exact, kRange, kRange, kW, kH));
        exact[3].rawX += 20.0 / kW * 24000;
        QCOMPARE(outlyingTouch(exact, kRange, kRange, kW, kH), std::optional<size_t>(3));
    }
};

QTEST_GUILESS_MAIN(EstimateTest)
#include "test_estimate.moc"
