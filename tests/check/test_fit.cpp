// SPDX-License-Identifier: MIT
#include "target_sequence.h"
#include "touch_tracker.h"

#include <QtTest>

#include <cmath>

// A 1024 x 768 monitor under a panel of 0..32767, turned a quarter (raw Y runs along the
// screen's X, raw X against the screen's Y), its pixels under raw 4000..28000 only.
class FitTest : public QObject {
    Q_OBJECT

    static constexpr AxisRange kRange{0, 32767};

    static std::pair<double, double> rawAt(double x, double y)
    {
        return {28000 - (y + 0.5) / 768 * 24000, 4000 + (x + 0.5) / 1024 * 24000};
    }

    static TargetSequence::Answer touchTarget(TargetSequence &sequence, int i, double missX = 0)
    {
        const auto target = sequence.target(i);
        const auto raw = rawAt(target.x + missX, target.y);
        return sequence.touch(raw.first, raw.second);
    }

private slots:
    void exactTouchesOnATurnedPanelFitExactlyAndADoubleTapIsIgnored()
    {
        TargetSequence sequence(1024, 768, kRange, kRange);
        QCOMPARE(touchTarget(sequence, 0), TargetSequence::Answer::Next);
        QCOMPARE(touchTarget(sequence, 0), TargetSequence::Answer::Ignored);
        for (int i = 1; i < 4; ++i)
            QCOMPARE(touchTarget(sequence, i), TargetSequence::Answer::Next);
        QCOMPARE(touchTarget(sequence, 4), TargetSequence::Answer::Accepted);
        for (const double error : sequence.errors())
            QVERIFY(error < 1e-6);
        const auto raw = rawAt(100, 700);
        const Fraction at = apply(*sequence.calibration(), raw.first, raw.second);
        QVERIFY(std::fabs(at.x * 1024 - 100.5) < 1e-6 && std::fabs(at.y * 768 - 700.5) < 1e-6);
        QVERIFY(!axisAlignedBorders(*sequence.calibration(), kRange, kRange));
    }

    void aTouchFarFromTheOthersIsAskedForAgain()
    {
        TargetSequence sequence(1024, 768, kRange, kRange);
        for (int i = 0; i < 4; ++i)
            touchTarget(sequence, i, i == 2 ? 120 : 0);
        QCOMPARE(touchTarget(sequence, 4), TargetSequence::Answer::Repeat);
        QCOMPARE(sequence.current(), 2);
        QCOMPARE(touchTarget(sequence, 2), TargetSequence::Answer::Accepted);
    }

    void touchesOnALineStartOver()
    {
        TargetSequence sequence(1024, 768, kRange, kRange);
        for (int i = 0; i < 4; ++i)
            sequence.touch(1000 + 4000 * i, 1000 + 4000 * i);
        QCOMPARE(sequence.touch(17000, 17000), TargetSequence::Answer::StartOver);
        QCOMPARE(sequence.current(), 0);
        QVERIFY(!sequence.problem().empty());
    }

    void aTouchIsWhereTheFingerMostlyWasNotWhereItRolledOff()
    {
        TouchTracker tracker({0, 0});
        const auto record = [](int type, int code, int value) {
            input_event event{};
            event.type = static_cast<__u16>(type);
            event.code = static_cast<__u16>(code);
            event.value = value;
            return event;
        };
        std::optional<TouchTracker::Touch> touch;
        for (const int x : {500, 502, 501, 900}) {
            tracker.take(record(EV_KEY, BTN_TOUCH, 1));
            tracker.take(record(EV_ABS, ABS_X, x));
            tracker.take(record(EV_ABS, ABS_Y, 40));
            touch = tracker.take(record(EV_SYN, SYN_REPORT, 0));
        }
        QVERIFY(!touch);
        touch = tracker.take(record(EV_ABS, ABS_MT_TRACKING_ID, -1));
        QVERIFY(touch);
        QCOMPARE(touch->x, 501.5);
        QCOMPARE(touch->y, 40.0);
    }
};

QTEST_APPLESS_MAIN(FitTest)
#include "test_fit.moc"
