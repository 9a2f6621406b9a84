// SPDX-License-Identifier: MIT
#include "CalibrateWidget.h"

#include "CheckWidget.h"

#include "touch_reader.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>

namespace {

void drawTarget(QPainter &painter, QPoint at)
{
    painter.setPen(Qt::red);
    painter.drawLine(at.x() - 40, at.y(), at.x() + 40, at.y());
    painter.drawLine(at.x(), at.y() - 40, at.x(), at.y() + 40);
    painter.drawEllipse(at, 15, 15);
}

} // namespace

CalibrateWidget::CalibrateWidget(int openDevice, int monitorWidth, int monitorHeight, AxisRange x,
                                 AxisRange y, std::function<QString(const Calibration &)> accepted)
    : QWidget(nullptr), device(openDevice),
      records(new DeviceRecords(
          openDevice, this,
          [this](const input_event &record) {
              if (const auto touch = tracker.take(record))
                  touched(*touch);
          },
          [this] { update(); })),
      tracker(readDeviceState(openDevice), [openDevice] { return readDeviceState(openDevice); }),
      sequence(monitorWidth, monitorHeight, x, y), onAccepted(std::move(accepted))
{
    useCheckLook(this);
    // While the targets are shown, X must not turn a touch into a click that could take the
    // window's focus away: the device is this program's alone until the fit is accepted.
    grabbed = isEventDevice(device) && ::ioctl(device, EVIOCGRAB, 1) == 0;
}

CalibrateWidget::~CalibrateWidget()
{
    letGo();
}

void CalibrateWidget::letGo()
{
    if (grabbed)
        ::ioctl(device, EVIOCGRAB, 0);
    grabbed = false;
}

QRect CalibrateWidget::doneBox() const
{
    return QRect(width() - 160, 20, 140, 60);
}

void CalibrateWidget::touched(const TouchTracker::Touch &touch)
{
    if (accepted()) {
        const Fraction at = apply(*sequence.calibration(), touch.x, touch.y);
        lastTouch = QPoint(static_cast<int>(std::floor(at.x * width())),
                           static_cast<int>(std::floor(at.y * height())));
        if (doneBox().contains(*lastTouch))
            close();
        update();
        return;
    }
    switch (sequence.touch(touch.x, touch.y)) {
    case TargetSequence::Answer::Next:
        note.clear();
        break;
    case TargetSequence::Answer::Ignored:
        note = "A second touch on the same spot was taken for a double tap and ignored.";
        break;
    case TargetSequence::Answer::Repeat:
        note = "That touch lay far from where the others put it: touch this target again.";
        break;
    case TargetSequence::Answer::StartOver:
        note = QString("These touches cannot make a calibration (%1): once more from the first.")
                   .arg(QString::fromStdString(sequence.problem()));
        break;
    case TargetSequence::Answer::Accepted:
        letGo();
        afterFit = onAccepted(*sequence.calibration());
        break;
    }
    update();
}

void CalibrateWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        close();
}

void CalibrateWidget::mousePressEvent(QMouseEvent *event)
{
    if (accepted() && doneBox().contains(event->position().toPoint()))
        close();
}

void CalibrateWidget::paintEvent(QPaintEvent *)
{
    exposes.firstScreenDrawn();
    const int w = width(), h = height();
    QPainter painter(this);
    const int line = fontMetrics().height() + 4;
    // Text in the band between the top targets and the centre one, centred.
    int y = 3 * h / 8 - line;
    auto say = [&](const QString &text) {
        painter.drawText(QRect(0, y - fontMetrics().ascent(), w, line), Qt::AlignHCenter, text);
        y += line;
    };

    if (!accepted()) {
        const TargetSequence::Pixel target = sequence.target(sequence.current());
        drawTarget(painter, QPoint(target.x, target.y));
        painter.setPen(Qt::black);
        say(QString("Target %1 of %2: touch the centre of the red cross. Esc quits.")
                .arg(sequence.current() + 1).arg(TargetSequence::kTargets));
        if (!note.isEmpty())
            say(note);
    } else {
        QString errors;
        for (const double error : sequence.errors())
            errors += (errors.isEmpty() ? "" : ", ") + QString::number(std::lround(error));
        say(QString("Calibrated. Error at each target: %1 px.").arg(errors));
        for (const QString &text : afterFit.split('\n', Qt::SkipEmptyParts))
            say(text);
        say("Touch anywhere: the red cross shows where the new calibration puts the touch.");
        say("Touch Done, or press Esc, to close.");
        painter.setPen(Qt::black);
        painter.drawRect(doneBox());
        painter.drawText(doneBox(), Qt::AlignCenter, "Done");
        if (lastTouch) {
            painter.setPen(Qt::red);
            painter.drawLine(lastTouch->x() - 40, lastTouch->y(), lastTouch->x() + 40, lastTouch->y());
            painter.drawLine(lastTouch->x(), lastTouch->y() - 40, lastTouch->x(), lastTouch->y() + 40);
        }
    }
    if (records->gone()) {
        painter.setPen(Qt::black);
        say("The device has gone away (unplugged?). Esc quits.");
    }
}
