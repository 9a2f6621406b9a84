// SPDX-License-Identifier: MIT
#include "geometry/target_sequence.h"
#include "input/touch_tracker.h"

#include <QtTest>

#include <algorithm>
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

    static input_event record(int type, int code, int value)
    {
        input_event event{};
        event.type = static_cast<__u16>(type);
        event.code = static_cast<__u16>(code);
        event.value = value;
        return event;
    }

private slots:
    void exactTouchesOnATurnedPanelFitExactlyAndADoubleTapIsIgnored()
    {
        TargetSequence sequence(1024, 768, kRange, kRange);
        QCOMPARE(touchTarget(sequence, 0), TargetSequence::Answer::Next);
        QCOMPARE(touchTarget(sequence, 0), TargetSequence::Answer::Ignored);
        for (int i = 1; i < TargetSequence::kTargets - 1; ++i)
            QCOMPARE(touchTarget(sequence, i), TargetSequence::Answer::Next);
        QCOMPARE(touchTarget(sequence, TargetSequence::kTargets - 1), TargetSequence::Answer::Accepted);
        for (const double error : sequence.errors())
            QVERIFY(error < 1e-6);
        const auto raw = rawAt(100, 700);
        const Point at = sequence.calibration()->m.apply(raw.first, raw.second);
        QVERIFY(std::fabs(at.x * 1024 - 100.5) < 1e-6 && std::fabs(at.y * 768 - 700.5) < 1e-6);
        QVERIFY(!axisAlignedBorders(*sequence.calibration(), 1024, 768));
    }

    // Once only, or a finger that touched the next target early could never go on.
    void aTouchOnTheSpotOfTheLastIsIgnoredOnceOnly()
    {
        TargetSequence sequence(1024, 768, kRange, kRange);
        QCOMPARE(touchTarget(sequence, 1), TargetSequence::Answer::Next);  // the next one, early
        QCOMPARE(touchTarget(sequence, 1), TargetSequence::Answer::Ignored);
        QCOMPARE(touchTarget(sequence, 1), TargetSequence::Answer::Next);
        QCOMPARE(sequence.current(), 2);
    }

    void aTouchFarFromTheOthersIsAskedForAgain()
    {
        const int last = TargetSequence::kTargets - 1;
        TargetSequence sequence(1024, 768, kRange, kRange);
        for (int i = 0; i < last; ++i)
            touchTarget(sequence, i, i == 2 ? 120 : 0);
        QCOMPARE(touchTarget(sequence, last), TargetSequence::Answer::Repeat);
        QCOMPARE(sequence.current(), 2);
        QCOMPARE(touchTarget(sequence, 2), TargetSequence::Answer::Accepted);

        // The centre touched wide: asked again, a touch where the last one was is a touch of
        // its own, no double tap (here, as wide again: asked once more).
        TargetSequence again(1024, 768, kRange, kRange);
        for (int i = 0; i <= last; ++i)
            touchTarget(again, i, i == last ? 100 : 0);
        QCOMPARE(again.current(), last);
        QCOMPARE(touchTarget(again, last, 100), TargetSequence::Answer::Repeat);
        QCOMPARE(touchTarget(again, last), TargetSequence::Answer::Accepted);
    }

    // Borders read each axis on its own: a skew the matrix takes in its stride is off at the
    // far edge unless it is small enough to stay within a pixel everywhere.
    void bordersAreGivenOnlyWhereTheyAgreeWithTheFitWithinAPixel()
    {
        for (const double skew : {0.009, 0.0005}) {
            // Not turned: raw X along the screen, raw Y down it, X leaning with Y.
            const Calibration fit{{1 / 24000.0, skew / 24000.0, -4000 / 24000.0 - skew * 0.5,
                                   0, 1 / 24000.0, -4000 / 24000.0}};
            const std::optional<Borders> borders = axisAlignedBorders(fit, 1024, 768);
            QCOMPARE(bool(borders), skew < 0.001);
            for (int i = 0; borders && i < 4; ++i) {
                const double rawX = 4000 + 24000 * (i % 2), rawY = 4000 + 24000 * (i / 2);
                const Point at = fit.m.apply(rawX, rawY);
                const double byBorders = (rawX - borders->left) / (borders->right - borders->left);
                QVERIFY(std::fabs((byBorders - at.x) * 1024) <= 1);
            }
        }
    }

    void touchesOnALineStartOver()
    {
        TargetSequence sequence(1024, 768, kRange, kRange);
        for (int i = 0; i < TargetSequence::kTargets - 1; ++i)
            sequence.touch(1000 + 2000 * i, 1000 + 2000 * i);
        QCOMPARE(sequence.touch(30000, 30000), TargetSequence::Answer::StartOver);
        QCOMPARE(sequence.current(), 0);
        QVERIFY(!sequence.problem().empty());
    }

    void aTouchIsWhereTheFingerMostlyWasNotWhereItRolledOff()
    {
        TouchTracker tracker(DeviceState{});
        std::optional<TouchTracker::Touch> touch;
        for (const int x : {500, 502, 501, 900}) {
            tracker.take(record(EV_KEY, BTN_TOUCH, 1));
            tracker.take(record(EV_ABS, ABS_X, x));
            tracker.take(record(EV_ABS, ABS_Y, 40));
            touch = tracker.take(record(EV_SYN, SYN_REPORT, 0));
        }
        QVERIFY(!touch);
        touch = tracker.take(record(EV_KEY, BTN_TOUCH, 0));
        QVERIFY(touch);
        QCOMPARE(touch->x, 501.5);
        QCOMPARE(touch->y, 40.0);
    }

    void aTouchCutByDroppedRecordsIsNeverTakenAndTheResyncIsNoLift()
    {
        // Two slots: a thumb on the bezel in slot 0 since before reading began.
        DeviceState start;
        start.contacts = {{5, 100, 100}, {-1, 0, 0}};
        // What libevdev says once in step again: the finger lifted and landed anew meanwhile.
        DeviceState synced = start;
        synced.slot = 1;
        synced.contacts[1] = {7, 900, 900};
        TouchTracker tracker(start, [&] { return synced; });
        std::vector<std::optional<TouchTracker::Touch>> taken;
        const auto feed = [&](std::initializer_list<input_event> records) {
            for (const input_event &r : records)
                taken.push_back(tracker.take(r));
        };
        feed({record(EV_ABS, ABS_MT_SLOT, 1), record(EV_ABS, ABS_MT_TRACKING_ID, 6),
              record(EV_ABS, ABS_MT_POSITION_X, 500), record(EV_ABS, ABS_MT_POSITION_Y, 500),
              record(EV_SYN, SYN_REPORT, 0)});
        QVERIFY(tracker.followsTouch());
        // As libevdev hands them over: SYN_DROPPED in normal mode, then the sync records.
        feed({record(EV_SYN, SYN_DROPPED, 0), record(EV_ABS, ABS_MT_SLOT, 1),
              record(EV_ABS, ABS_MT_TRACKING_ID, -1), record(EV_ABS, ABS_MT_TRACKING_ID, 7),
              record(EV_ABS, ABS_MT_POSITION_X, 900), record(EV_ABS, ABS_MT_POSITION_Y, 900),
              record(EV_SYN, SYN_REPORT, 0)});
        // The contact down at the resync lifts, the thumb lifts: neither is a touch.
        feed({record(EV_ABS, ABS_MT_TRACKING_ID, -1), record(EV_SYN, SYN_REPORT, 0),
              record(EV_ABS, ABS_MT_SLOT, 0), record(EV_ABS, ABS_MT_TRACKING_ID, -1),
              record(EV_SYN, SYN_REPORT, 0)});
        QVERIFY(std::none_of(taken.begin(), taken.end(), [](const auto &t) { return t.has_value(); }));
        QVERIFY(!tracker.followsTouch());
        // The next finger is a touch again.
        feed({record(EV_ABS, ABS_MT_SLOT, 1), record(EV_ABS, ABS_MT_TRACKING_ID, 8),
              record(EV_ABS, ABS_MT_POSITION_X, 300), record(EV_ABS, ABS_MT_POSITION_Y, 310),
              record(EV_SYN, SYN_REPORT, 0), record(EV_ABS, ABS_MT_TRACKING_ID, -1)});
        QVERIFY(taken.back());
        QCOMPARE(taken.back()->x, 300.0);
        QCOMPARE(taken.back()->y, 310.0);
    }
};

QTEST_APPLESS_MAIN(FitTest)
#include "test_fit.moc"
