// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CALIBRATEWIDGET_H
#define KESTRILAVON_CALIBRATEWIDGET_H

#include "DeviceRecords.h"
#include "geometry/compositor_map.h"
#include "geometry/target_sequence.h"
#include "geometry/touch_check.h"
#include "input/touch_tracker.h"
#include "x_display.h"

#include <QElapsedTimer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <cmath>
#include <functional>
#include <optional>

// kestrilavon-check --calibrate's full-screen window: the targets one at a time, touches read
// raw from the device, then the error at each target, the error to expect over the screen and a
// live view of the new calibration with a "Done" box that a touch closes (and an "Again" box,
// when the expected error is poor, that a touch starts over with). Only shows and forwards: the sequence decides,
// onAccepted prints and applies.
// On X the device is held to this program alone while the targets are shown. On Wayland it is
// not: the compositor's touch events come here too, so that its own map after libinput's can
// be measured, each target's touch paired with the device's. A panel that libinput takes for an
// absolute mouse reaches the compositor as its pointer: then its presses and drags are those
// touches.
class CalibrateWidget : public QWidget {
public:
    // x and y: the ranges of the axes the touch tracker reads on this device. compositorPointer:
    // on Wayland, the device's touches come as the compositor's pointer.
    CalibrateWidget(int openDevice, int monitorWidth, int monitorHeight, AxisRange x, AxisRange y,
                    bool compositorTouches, bool compositorPointer,
                    std::function<QString(const Calibration &)> onAccepted);
    ~CalibrateWidget() override;

    bool accepted() const { return sequence.current() < 0; }
    // The error to expect over the screen from the accepted calibration.
    const ErrorEstimate &expected() const { return sequence.expected(); }
    // How far from the check target a touch through the accepted calibration may land, in
    // whole pixels, rounded up.
    int checkBoundPixels() const
    {
        return static_cast<int>(std::ceil(checkBound(sequence.fittedTouches(), sequence.calibration(), rangeX,
                                                     rangeY, width(), height(), sequence.checkTarget())));
    }
    // Once the fit is handed over, the window stays until the check is shown in it: with no Done
    // or Again (the fit is root's to keep now, and a window closed early lets the focus go to
    // another program's, above which some compositors will not put the check's).
    void waitForTheCheck()
    {
        waitingForCheck = true;
        update();
    }
    // Neither reads the device nor holds it any more: the check's touches are the session's.
    void stopReading()
    {
        records->stop();
        letGo();
    }
    // The targets' touches as the compositor saw them, on Wayland.
    const TouchPairing &compositorTouches() const { return pairing; }

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void touched(const TouchTracker::Touch &touch);
    // Whether the compositor's touches, or its pointer's, count as its answer now.
    bool compositorCounts() const;
    // The compositor's pointer as its answer, where the device reaches it as one.
    bool pointerAnswer(const QMouseEvent *event) const;
    // Whether the window covers its screen (a compositor may give it another size): the fit
    // takes the targets at fractions of the screen.
    bool coversScreen();
    void grab();
    void letGo();
    // The targets again from the first, the accepted calibration set aside.
    void startAgain();
    bool poor() const { return accepted() && poorEstimate(sequence.expected(), width(), height()); }
    // Done closes the window, and Again starts over when the fit is poor, until the fit is handed over.
    bool offersDone() const { return accepted() && !waitingForCheck; }
    bool offersAgain() const { return poor() && !waitingForCheck; }
    QRect doneBox() const;
    QRect againBox() const;

    int device;
    bool grabbed = false;
    // The slots as X's driver last heard of them, when the device became this program's.
    std::optional<std::vector<int>> slotsAtGrab;
    DeviceRecords *records;
    TouchTracker tracker;
    AxisRange rangeX, rangeY;
    TargetSequence sequence;
    bool anyTouch = false;
    // On CLOCK_MONOTONIC, in milliseconds: when the touch followed now began (by its record), and
    // when the targets were first drawn full screen.
    bool stampsMonotonic = false;  // the device took the clock (a FIFO does not)
    long long touchBegan = 0;
    std::optional<long long> targetsShownAt;
    bool onWayland;
    bool pointerAnswers;
    bool waitingForCheck = false;
    TouchPairing pairing;
    QElapsedTimer clock;
    std::function<QString(const Calibration &)> onAccepted;
    QString note;      // what became of the last touch, while the targets are shown
    QString afterFit;  // what onAccepted said
    std::optional<QPoint> lastTouch;  // in the live view, where the calibration puts it
    LaterExposes exposes{this, [this] { update(); }};
};

#endif
