// SPDX-License-Identifier: MIT
#include "CheckWidget.h"

#include <QKeyEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>

#include <linux/input.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

// The four quarter points and the centre, as fractions of the screen.
constexpr struct {
    int numeratorX, numeratorY;
} kTargets[] = {{1, 1}, {3, 1}, {2, 2}, {1, 3}, {3, 3}};

void drawCross(QPainter &painter, int x, int y, int length)
{
    painter.drawLine(x - length, y, x + length, y);
    painter.drawLine(x, y - length, x, y + length);
}

} // namespace

CheckWidget::CheckWidget(int openDevice, const QString &path, const ResultFile &borders,
                         const QString &bordersPath)
    : QWidget(nullptr), device(openDevice), devicePath(path), result(borders),
      resultPath(bordersPath),
      notifier(new QSocketNotifier(openDevice, QSocketNotifier::Read, this)),
      raw(currentPosition(openDevice))
{
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
    setAutoFillBackground(true);
    setFont(QFont("Helvetica", 12, QFont::Bold));
    connect(notifier, &QSocketNotifier::activated, this, [this] { readRecords(); });
}

void CheckWidget::readRecords()
{
    // A device that never runs dry (a fast writer, or /dev/zero given as the device) must not
    // keep the window from its own events: take a batch, paint, and come back for more after
    // the window has had its turn.
    constexpr int kRecordsPerBatch = 256;
    input_event record;
    for (int records = 0;; ++records) {
        if (records == kRecordsPerBatch) {
            notifier->setEnabled(false);
            QTimer::singleShot(10, this, [this] {
                if (!deviceGone)
                    notifier->setEnabled(true);
            });
            break;
        }
        const ssize_t got = ::read(device, &record, sizeof record);
        if (got == static_cast<ssize_t>(sizeof record)) {
            if (record.type == EV_ABS && record.code == ABS_X)
                raw.x = record.value;
            else if (record.type == EV_ABS && record.code == ABS_Y)
                raw.y = record.value;
            else if (record.type == EV_SYN && record.code == SYN_REPORT)
                touched = true;
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        // End of file, a short record or an error such as ENODEV: the device is gone.
        deviceGone = true;
        notifier->setEnabled(false);
        break;
    }
    update();
}

void CheckWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        close();
}

void CheckWidget::paintEvent(QPaintEvent *)
{
    exposes.firstScreenDrawn();
    const int w = width(), h = height();
    QPainter painter(this);
    const int line = fontMetrics().height() + 4;
    int y = line * 2;
    auto say = [&](const QString &text) {
        painter.drawText(w / 20, y, text);
        y += line;
    };

    say(QString("kestrilavon-check: %1. Touch the screen; Esc quits.").arg(devicePath));
    const Borders *borders = result.borders ? &*result.borders : nullptr;
    std::optional<ScreenPoint> point;
    if (borders) {
        // One arg() call for all: a path holding "%2" must stay as it is.
        say(QString("Borders from %1: left %2, right %3, top %4, bottom %5.")
                .arg(resultPath, QString::number(borders->left), QString::number(borders->right),
                     QString::number(borders->top), QString::number(borders->bottom)));
        say("Shown as their linear reading: x = (raw x - left) * width / (right - left), "
            "the same for y.");
        say("How a driver reads them is the driver's affair.");
        point = mapToScreen(*borders, raw.x, raw.y, w, h);
        if (!point)
            say("The borders are equal on an axis: no position can be worked out; raw values only.");
    } else {
        say(QString("No borders from %1: %2. Raw values only.")
                .arg(resultPath, QString::fromLocal8Bit(result.problem.c_str())));
    }
    if (result.borders && !result.trusted())
        say(QString("Warning: %1 belongs to %2, not to root or to you: shown, but kestrilavon-check "
                    "will not put it into a configuration.")
                .arg(resultPath, QString::fromLocal8Bit(result.ownerName().c_str())));
    if (deviceGone)
        say("The device has gone away (unplugged?). Esc quits.");

    // Targets, and the distance from the last touch to the nearest.
    double nearest = -1;
    painter.setPen(Qt::blue);
    for (const auto &target : kTargets) {
        const int tx = target.numeratorX * w / 4, ty = target.numeratorY * h / 4;
        painter.drawEllipse(tx - 20, ty - 20, 40, 40);
        drawCross(painter, tx, ty, 10);
        if (point && touched) {
            const double distance = std::hypot(point->x - tx, point->y - ty);
            nearest = nearest < 0 ? distance : std::min(nearest, distance);
        }
    }
    painter.setPen(Qt::black);
    QString where = touched ? QString("Last touch: raw X %1, raw Y %2").arg(raw.x).arg(raw.y)
                            : QString("No touch yet.");
    if (point && touched) {
        where += QString(", on screen %1, %2; %3 px from the nearest target.")
                     .arg(point->x).arg(point->y).arg(std::lround(nearest));
        painter.setPen(Qt::red);
        drawCross(painter, point->x, point->y, 40);
        painter.setPen(Qt::black);
    }
    say(where);
}
