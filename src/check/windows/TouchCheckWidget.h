// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_TOUCHCHECKWIDGET_H
#define KESTRILAVON_TOUCHCHECKWIDGET_H

#include "DeviceRecords.h"
#include "LibinputTouches.h"
#include "geometry/touch_check.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

// Once a calibration is kept, one target where no calibration target was, and a countdown:
// a touch on it, as the session delivers it (touch, or a pointer for a panel taken for a
// mouse), keeps the calibration; one that lands off twice, or none before the countdown ends,
// or Esc, puts the old one back. The session's touch is what the user's programs get now,
// through whatever turns or overrides the calibration: the device's own records only tell
// whether a touch came that the session did not pass on.
class TouchCheckWidget : public QWidget {
public:
    // What the window saw, once: a judgement of a touch, or nothing (why in `none`: timeout,
    // esc or closed).
    struct Outcome {
        std::optional<TouchCheck::Judgement> judgement;
        std::string none;
    };

    // With throughLibinput, the device's path: no session, as on the bare framebuffer, and the
    // touches are taken from libinput on the device instead.
    TouchCheckWidget(int openDevice, double boundPixels, std::function<void(const Outcome &)> decided,
                     const std::string &throughLibinput = {});

    static constexpr int kSeconds = 20;

    // Why libinput does not give the touches, where it was asked to and does not.
    std::string libinputProblem() const { return libinputTouches ? libinputTouches->problem() : ""; }
    // What the window says under its target, and the seconds it shows.
    const QString &noteShown() const { return note; }
    int secondsShown() const { return secondsLeft; }

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    TargetSequence::Pixel target() const;
    void sessionTouch(QPointF at);
    void decide(const Outcome &outcome);
    void countFrom(int seconds);

    DeviceRecords *records = nullptr;
    LibinputTouches *libinputTouches = nullptr;
    double bound;
    std::optional<TouchCheck> check;  // made once the window has its size
    std::function<void(const Outcome &)> onDecided;
    bool done = false;
    QTimer tick, sessionSilent;
    int secondsLeft = kSeconds;
    bool waitedForSession = false;
    QString note;
};

#endif
