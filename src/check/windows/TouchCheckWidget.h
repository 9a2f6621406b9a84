// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_TOUCHCHECKWIDGET_H
#define KESTRILAVON_TOUCHCHECKWIDGET_H

#include "DeviceRecords.h"
#include "ConsumerTouches.h"
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
// Where the check's touch is taken from: the session, or with no session (the bare framebuffer)
// the consumer's own code on the device at path: libinput, for udev's matrix, or tslib, for its
// pointercal.
struct TouchSource {
    enum class Kind { Session, Libinput, Tslib } kind = Kind::Session;
    std::string path;
};

class TouchCheckWidget : public QWidget {
public:
    // What the window saw, once: a judgement of a touch, or nothing (why in `none`: timeout,
    // esc or closed).
    struct Outcome {
        std::optional<TouchCheck::Judgement> judgement;
        std::string none;
    };

    TouchCheckWidget(int openDevice, double boundPixels, std::function<void(const Outcome &)> decided,
                     const TouchSource &source = {});

    static constexpr int kSeconds = 20;

    // Why libinput or tslib does not give the touches, where asked to.
    std::string sourceProblem() const { return consumer ? consumer->problem() : ""; }
    // Where another window is to take this one's place once the check is over (root's report),
    // that is done by over instead of closing: a window that comes after this one has gone may
    // be stacked below the program the focus fell back to.
    void replaceOnceOver(std::function<void()> over) { replace = std::move(over); }
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
    void closeSoonOnceLifted();
    void end();
    void countFrom(int seconds);

    DeviceRecords *records = nullptr;
    ConsumerTouches *consumer = nullptr;
    double bound;
    std::optional<TouchCheck> check;  // made once the window has its size
    std::function<void(const Outcome &)> onDecided;
    std::function<void()> replace;
    bool replaced = false;
    bool done = false;
    bool liftSeen = false;  // after the judgement
    QTimer tick, sessionSilent;
    int secondsLeft = kSeconds;
    bool waitedForSession = false;
    QString note;
};

#endif
