// SPDX-License-Identifier: MIT
#include "ReportWidget.h"
#include "TouchCheckWidget.h"
#include "event_records.h"
#include "shown_over.h"

#include <QPointingDevice>
#include <QPushButton>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

// The targets' window, which takes every touch itself while it shows them.
class TouchTakingWindow : public QWidget {
public:
    int taken = 0;
    TouchTakingWindow() { setAttribute(Qt::WA_AcceptTouchEvents); }

protected:
    bool event(QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::TouchBegin && type != QEvent::TouchUpdate && type != QEvent::TouchEnd
            && type != QEvent::MouseButtonPress)
            return QWidget::event(event);
        ++taken;
        event->accept();
        return true;
    }
};

// The check window as the session drives it: where its target is, and what a touch there, two
// off it, Esc, or a touch the session never passed on come to.
class TouchCheckWidgetTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QPointingDevice> finger{QTest::createTouchDevice()};
    int device[2] = {-1, -1};  // a pipe: the device's records
    std::optional<TouchCheckWidget::Outcome> outcome;
    std::unique_ptr<TouchCheckWidget> window;

    QPoint target() const { return QPoint(5 * window->width() / 16, window->height() / 16); }

    void touch(QPoint at)
    {
        QTest::touchEvent(window.get(), finger.get()).press(0, at);
        QTest::touchEvent(window.get(), finger.get()).release(0, at);
    }

private slots:
    void init()
    {
        QCOMPARE(::pipe2(device, O_NONBLOCK), 0);  // as the devices are opened
        outcome.reset();
        window = std::make_unique<TouchCheckWidget>(device[0], 16,
                                                    [this](const TouchCheckWidget::Outcome &o) { outcome = o; });
        window->resize(1024, 768);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void cleanup()
    {
        window.reset();
        ::close(device[0]);
        ::close(device[1]);
    }

    void twoTouchesOffPutItBackAndTheFirstIsAskedAgain()
    {
        touch(QPoint(900, 600));
        QVERIFY(!outcome);
        QVERIFY(window->isVisible());
        touch(QPoint(900, 600));
        QVERIFY(outcome && outcome->judgement);
        QCOMPARE(outcome->judgement->verdict, TouchCheck::Verdict::Revert);
        QVERIFY(outcome->judgement->pixels > 500);
    }

    void aFingerPressedWhileAnotherPointIsHeldIsJudged()
    {
        // The held point: a thumb on the bezel, or a lift the toolkit never heard.
        QTest::touchEvent(window.get(), finger.get()).press(0, QPoint(3, 700));
        QTest::touchEvent(window.get(), finger.get()).stationary(0).press(1, target());
        QVERIFY(outcome && outcome->judgement);
        QCOMPARE(outcome->judgement->verdict, TouchCheck::Verdict::Keep);
    }

    void aJudgedTouchClosesTheWindowOnlyAsItEnds()
    {
        // Closed under the finger, mutter 43 would never end that touch.
        QTest::touchEvent(window.get(), finger.get()).press(0, target());
        QVERIFY(outcome && outcome->judgement);
        QVERIFY(window->isVisible());
        QTest::touchEvent(window.get(), finger.get()).release(0, target());
        QVERIFY(!window->isVisible());
    }

    void aWindowThatTheReportIsToReplaceStaysOnceTheTouchEnds()
    {
        int replaced = 0;
        window->replaceOnceOver([&] { ++replaced; });
        touch(target());
        QTest::qWait(3500);  // past the latest end of a judged touch
        QCOMPARE(replaced, 1);
        QVERIFY(window->isVisible());  // until the report's window covers it
    }

    void escOrClosingDecidesNothingButIsSaid()
    {
        QTest::keyClick(window.get(), Qt::Key_Escape);
        QVERIFY(outcome && !outcome->judgement);
        QCOMPARE(outcome->none, std::string("esc"));
        outcome.reset();
        window->close();
        QVERIFY(!outcome);  // decided once
    }

    void aTouchOnlyTheDeviceSawGivesTheCountdownAgainOnce()
    {
        const std::string press = EventStream().record(EV_KEY, BTN_TOUCH, 1).syn().bytes;
        QTRY_COMPARE_WITH_TIMEOUT(window->secondsShown(), TouchCheckWidget::kSeconds - 2, 3000);
        QVERIFY(::write(device[1], press.data(), press.size()) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(window->noteShown().contains("has not taken the device"), 2000);
        QCOMPARE(window->secondsShown(), TouchCheckWidget::kSeconds);
        QTRY_COMPARE_WITH_TIMEOUT(window->secondsShown(), TouchCheckWidget::kSeconds - 1, 2000);
        QVERIFY(::write(device[1], press.data(), press.size()) > 0);
        QTest::qWait(900);
        QVERIFY(window->secondsShown() < TouchCheckWidget::kSeconds);  // not given again
        QVERIFY(!outcome);
        touch(target());
        QVERIFY(outcome && outcome->judgement);
    }

    void throughLibinputTheToolkitsOwnTouchesCountForNothing()
    {
        // On the bare framebuffer the toolkit reads the device raw, knowing nothing of udev's
        // matrix. /dev/null is no input device: libinput says so.
        TouchCheckWidget bare(device[0], 16, [this](const TouchCheckWidget::Outcome &o) { outcome = o; },
                              {TouchSource::Kind::Libinput, "/dev/null"});
        bare.resize(1024, 768);
        bare.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bare));
        QVERIFY(bare.sourceProblem().find("did not take /dev/null") != std::string::npos);
        QTest::touchEvent(&bare, finger.get()).press(0, target());
        QTest::mouseClick(&bare, Qt::LeftButton, {}, target());
        QVERIFY(!outcome);
    }

    void shownInTheTargetsWindowTheCheckAndTheReportsButtonTakeTheTouches()
    {
        TouchTakingWindow targets;
        targets.resize(1024, 768);
        targets.show();
        QVERIFY(QTest::qWaitForWindowExposed(&targets));
        TouchCheckWidget check(device[0], 16, [this](const TouchCheckWidget::Outcome &o) { outcome = o; });
        int over = 0;
        check.replaceOnceOver([&] { ++over; });
        showOver(check, targets);
        const QPoint target(5 * 1024 / 16, 768 / 16);
        QTest::touchEvent(targets.windowHandle(), finger.get()).press(0, target);
        QTest::touchEvent(targets.windowHandle(), finger.get()).release(0, target);
        QVERIFY(outcome && outcome->judgement);
        QCOMPARE(outcome->judgement->verdict, TouchCheck::Verdict::Keep);
        QCOMPARE(over, 1);
        ReportWidget report(true, "Kept: your touch landed 0 px from the target.");
        bool closed = false;
        report.whenClosed([&] { closed = true; });
        showOver(report, check);
        QVERIFY(!check.isVisible());
        const QPoint button = report.closeButton()->mapTo(&targets, report.closeButton()->rect().center());
        QTest::touchEvent(targets.windowHandle(), finger.get()).press(1, button);
        QTest::touchEvent(targets.windowHandle(), finger.get()).release(1, button);
        QTRY_VERIFY(closed);
        QCOMPARE(targets.taken, 0);
        QVERIFY(targets.isVisible());
    }
};

QTEST_MAIN(TouchCheckWidgetTest)
#include "test_touch_check_widget.moc"
