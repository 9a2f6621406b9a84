// SPDX-License-Identifier: MIT
#include "ChooseWidget.h"

#include "CheckWidget.h"
#include "input/touch_tracker.h"

#include <QKeyEvent>
#include <QPainter>
#include <QTimer>

namespace {

// How long the chosen device's name stays on screen at least.
constexpr int kNameShownMs = 1500;

} // namespace

ChooseWidget::ChooseWidget(const std::vector<int> &openDevices, const QStringList &deviceNames)
    : QWidget(nullptr), devices(openDevices), names(deviceNames)
{
    useCheckLook(this);
    for (size_t i = 0; i < devices.size(); ++i) {
        readers.push_back(new DeviceRecords(
            devices[i], this,
            [this, i](const input_event &record) {
                if (choice < 0 && beginsTouch(record)) {
                    choice = static_cast<int>(i);
                    QTimer::singleShot(kNameShownMs, this, [this] {
                        shownLongEnough = true;
                        closeOnceLifted();
                    });
                }
            },
            [this, i] {
                if (choice == static_cast<int>(i))
                    closeOnceLifted();
                update();
            }));
    }
}

void ChooseWidget::closeOnceLifted()
{
    if (choice >= 0 && shownLongEnough && nothingDown(readers[size_t(choice)]->state()))
        close();
}

void ChooseWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        choice = -1;
        close();
    }
}

void ChooseWidget::paintEvent(QPaintEvent *)
{
    exposes.firstScreenDrawn();
    QPainter painter(this);
    const int line = fontMetrics().height() + 4;
    QRect band(0, height() / 2 - line, width(), line);
    const QString question = choice < 0
        ? QString("Touch the screen you want to calibrate.")
        : QString("This one: %1. Lift your finger; the targets follow.").arg(names[choice]);
    painter.drawText(band, Qt::AlignHCenter, question);
    band.translate(0, line);
    if (choice < 0)
        painter.drawText(band, Qt::AlignHCenter,
                         devices.size() == 1 ? QString("%1 could be the one, though udev does not call it a touch "
                                                       "screen. Esc quits.").arg(names[0])
                                             : QString("%1 devices could be the one. Esc quits.").arg(devices.size()));
}
