// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CHOOSEWIDGET_H
#define KESTRILAVON_CHOOSEWIDGET_H

#include "DeviceRecords.h"
#include "x_display.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

// kestrilavon-check --calibrate's question when several devices can be the touch screen: "Touch
// the screen you want to calibrate." It reads every one of them, grabbing none, and the first
// that reports a touch beginning is the one. Its name is shown for a moment, and the window
// closes only once that finger has lifted: a grab taken mid-touch would hide the release from
// X or the compositor.
class ChooseWidget : public QWidget {
public:
    ChooseWidget(const std::vector<int> &openDevices, const QStringList &names);

    // The index of the device touched, or -1 (closed with Esc).
    int chosen() const { return choice; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void closeOnceLifted();

    std::vector<int> devices;
    QStringList names;
    std::vector<DeviceRecords *> readers;
    int choice = -1;
    bool shownLongEnough = false;
    LaterExposes exposes{this, [this] { update(); }};
};

#endif
