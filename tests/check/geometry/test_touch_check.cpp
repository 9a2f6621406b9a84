// SPDX-License-Identifier: MIT
#include "geometry/touch_check.h"

#include "check_simulation.h"

#include <QtTest>

#include <cmath>
#include <random>

// Seeded touches on a 1024 x 768 monitor's targets, under raw 4000..28000 of a 0..32767 panel.
class TouchCheckTest : public QObject {
    Q_OBJECT

    static constexpr AxisRange kRange{0, 32767};
    static constexpr int kW = 1024, kH = 768;
    std::mt19937 random{33};

    std::vector<TouchOnTarget> scattered(double sigma)
    {
        std::normal_distribution<double> stray(0, sigma);
        std::vector<TouchOnTarget> touches;
        for (int i = 0; i < TargetSequence::kTargets; ++i) {
            const auto target = TargetSequence(kW, kH, kRange, kRange).target(i);
            touches.push_back({4000 + (target.x + 0.5 + stray(random)) / kW * 24000,
                               4000 + (target.y + 0.5 + stray(random)) / kH * 24000,
                               (target.x + 0.5) / kW, (target.y + 0.5) / kH});
        }
        return touches;
    }

    double bound(const std::vector<TouchOnTarget> &touches, TargetSequence::Pixel at)
    {
        return checkBound(touches, fitCalibration(touches, kRange, kRange), kRange, kRange, kW, kH, at);
    }

private slots:
    // The real sequence and check: correct calibrations are put back at most once in a hundred,
    // with a finger of 4 px and with one whose scatter is past the floor; calibrations the
    // session moves by 30 px or turns, nearly always.
    void correctCalibrationsAreKeptAndWrongOnesPutBack()
    {
        for (const auto &[w, h] : {std::pair{1024, 768}, std::pair{1920, 1080}}) {
            for (const double sigma : {4, 8}) {
                const CheckTally correct = simulateChecks(w, h, sigma, SessionFault::None, 3000, 7);
                QVERIFY(correct.calibrations >= 2900 && correct.reverted <= correct.calibrations / 100);
            }
            const CheckTally moved = simulateChecks(w, h, 4, SessionFault::Shifted30, 300, 7),
                             turned = simulateChecks(w, h, 4, SessionFault::TurnedQuarter, 300, 7);
            QVERIFY(moved.reverted >= 0.95 * moved.calibrations);
            QCOMPARE(turned.reverted, turned.calibrations);
        }
    }

    // Exact touches, or too few to show a scatter, leave the floor of 12 px. The fit errs most
    // far from its touches: there a shaky finger gets a wider bound (the screen's corner) than
    // at the centre, where it is still over the floor.
    void theBoundHasAFloorAndWidensWithLeverage()
    {
        const std::vector<TouchOnTarget> touches = scattered(8);
        QCOMPARE(bound(scattered(0), {kW / 2, kH / 2}), 12.0);
        QCOMPARE(bound({touches.begin(), touches.begin() + 3}, {kW / 2, kH / 2}), 12.0);
        const double centre = bound(touches, {kW / 2, kH / 2}), corner = bound(touches, {0, 0});
        QVERIFY2(centre > 12 && corner > 1.05 * centre, qPrintable(QString("%1 %2").arg(centre).arg(corner)));
    }

    // One touch may miss; the second decides, and what follows a decision changes nothing.
    void oneRetryThenTheDecisionStands()
    {
        TouchCheck missed({100, 50}, 15), retried({100, 50}, 15);
        QCOMPARE(missed.judge(130.5, 50.5).verdict, TouchCheck::Verdict::TouchAgain);
        QCOMPARE(missed.judge(100.5, 70.5).verdict, TouchCheck::Verdict::Revert);
        QCOMPARE(missed.judge(100.5, 50.5).pixels, 20.0);
        QCOMPARE(retried.judge(130.5, 50.5).verdict, TouchCheck::Verdict::TouchAgain);
        QCOMPARE(retried.judge(109.5, 62.5).verdict, TouchCheck::Verdict::Keep);
    }

    // On any screen, the check target is on it, away from every target of the sequence, and
    // moved far by each turn and mirror, which a wrong calibration may carry.
    void theCheckTargetIsOnTheScreenApartAndTellsTurnsApart()
    {
        for (const auto &[w, h] : {std::pair{200, 200}, {201, 999}, {1024, 768}, {3840, 2160}}) {
            const TargetSequence sequence(w, h, kRange, kRange);
            const auto check = sequence.checkTarget();
            QVERIFY(check.x >= 0 && check.y >= 0 && check.x < w && check.y < h);
            for (int i = 0; i < TargetSequence::kTargets; ++i)
                QVERIFY(std::hypot(sequence.target(i).x - check.x, sequence.target(i).y - check.y) > 40);
            const double u = (check.x + 0.5) / w, v = (check.y + 0.5) / h;
            for (const auto &[x, y] : {std::pair{1 - u, v}, {u, 1 - v}, {1 - u, 1 - v}, {v, u},
                                       {1 - v, 1 - u}, {1 - v, u}, {v, 1 - u}})
                QVERIFY(std::hypot((x - u) * w, (y - v) * h) > 0.2 * std::min(w, h));
        }
    }
};

QTEST_GUILESS_MAIN(TouchCheckTest)
#include "test_touch_check.moc"
