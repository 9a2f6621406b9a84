// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CHECKWIDGET_H
#define KESTRILAVON_CHECKWIDGET_H

#include "device_check.h"
#include "touch_reader.h"
#include "x_display.h"

#include <QString>
#include <QWidget>

#include <optional>

class QSocketNotifier;

// kestrilavon-check's full-screen window: where each touch on the device lands on this
// screen once the borders of a result file are applied. It reads the device only when the
// device has something to say, so the window never blocks: Esc quits at any time.
class CheckWidget : public QWidget {
public:
    CheckWidget(int openDevice, const QString &path, const ResultFile &borders,
                const QString &bordersPath);

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void readRecords();

    int device;
    QString devicePath;
    ResultFile result;
    QString resultPath;
    QSocketNotifier *notifier;
    StartPosition raw;
    bool touched = false;
    bool deviceGone = false;
    LaterExposes exposes{this, [this] { update(); }};
};

#endif
