// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CHECKWIDGET_H
#define KESTRILAVON_CHECKWIDGET_H

#include "DeviceRecords.h"
#include "input/devices.h"
#include "result_file.h"
#include "touch_reader.h"
#include "x_input.h"
#include "x_display.h"

#include <QElapsedTimer>
#include <QPoint>
#include <QString>
#include <QVector>
#include <QWidget>

#include <optional>


// Black bold text on white: the look of both of kestrilavon-check's windows.
void useCheckLook(QWidget *window);

// kestrilavon-check's full-screen window: where each touch on the device lands on this
// screen once the borders of a result file are applied, and where X itself puts it. It reads
// the device only when the device has something to say, so the window never blocks: Esc quits
// at any time. The last few touches stay on screen.
class CheckWidget : public QWidget {
public:
    // monitor: the X monitor the window covers, to place X's answer (in X's own pixels, which
    // a scaled toolkit does not count in); without one, the toolkit's own mapping.
    // compositorPointer: on Wayland, the device's touches come as the compositor's pointer.
    CheckWidget(int openDevice, const QString &path, const ResultFile &borders,
                const QString &bordersPath, const std::optional<Monitor> &monitor = {},
                bool compositorPointer = false);

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void take(const input_event &record);
    void readXEvents();
    // The compositor's answer at, if it follows a report of this device's closely enough to be
    // its answer to it.
    void compositorAnswer(bool began, QPointF at);

    // The newest position last; a new touch adds one, at most kTouchesShown.
    static void addTouch(QVector<QPoint> &touches, bool began, QPoint at);

    int device;
    QString devicePath;
    ResultFile result;
    QString resultPath;
    DeviceRecords *records;
    StartPosition raw;
    bool touched = false;
    bool touchBegan = true;  // the next position starts a touch of its own
    QVector<QPoint> rawTouches;  // raw positions, for the borders' linear reading
    std::optional<Monitor> monitor;
    bool held;  // another program has grabbed the device
    XPointerWatch xWatch;
    QVector<QPoint> xTouches;  // where X (or the compositor) put the touch, in window coordinates
    // On Wayland, the compositor's touches; it does not say which device touched, so only one
    // close in time to a touch read from this device counts.
    bool compositorTouches = false;
    // ... or its pointer's presses and drags, for a panel that reaches it as its pointer; a mouse
    // beside it moves that pointer too, so the same rule holds.
    bool pointerAnswers = false;
    QElapsedTimer sinceDeviceReport;
    LaterExposes exposes{this, [this] { update(); }};
};

#endif
