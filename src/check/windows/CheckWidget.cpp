// SPDX-License-Identifier: MIT
#include "CheckWidget.h"

#include "wayland_session.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTouchEvent>
#include <QSocketNotifier>

#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>

namespace {

// The four quarter points and the centre, as fractions of the screen.
constexpr struct {
    int numeratorX, numeratorY;
} kTargets[] = {{1, 1}, {3, 1}, {2, 2}, {1, 3}, {3, 3}};

constexpr int kTargetRadius = 20;
constexpr int kTouchesShown = 5;

void drawCross(QPainter &painter, int x, int y, int length)
{
    painter.drawLine(x - length, y, x + length, y);
    painter.drawLine(x, y - length, x, y + length);
}

// X's answer is drawn turned by 45 degrees, so that it shows when it lies on the cross.
void drawSaltire(QPainter &painter, QPoint at, int length)
{
    painter.drawLine(at.x() - length, at.y() - length, at.x() + length, at.y() + length);
    painter.drawLine(at.x() - length, at.y() + length, at.x() + length, at.y() - length);
}

QPoint targetAt(int index, int w, int h)
{
    return {kTargets[index].numeratorX * w / 4, kTargets[index].numeratorY * h / 4};
}

long nearestTargetDistance(QPoint at, int w, int h)
{
    double nearest = -1;
    for (int i = 0; i < int(std::size(kTargets)); ++i) {
        const QPoint target = targetAt(i, w, h);
        const double distance = std::hypot(at.x() - target.x(), at.y() - target.y());
        nearest = nearest < 0 ? distance : std::min(nearest, distance);
    }
    return std::lround(nearest);
}

dev_t deviceNumber(int fd)
{
    struct stat status;
    return ::fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) ? status.st_rdev : 0;
}

} // namespace

void useCheckLook(QWidget *window)
{
    QPalette colours = window->palette();
    colours.setColor(QPalette::Window, Qt::white);
    colours.setColor(QPalette::WindowText, Qt::black);
    window->setPalette(colours);
    window->setAutoFillBackground(true);
    window->setFont(QFont("Helvetica", 12, QFont::Bold));
}

CheckWidget::CheckWidget(int openDevice, const QString &path, const ResultFile &borders,
                         const QString &bordersPath, const std::optional<Monitor> &xMonitor,
                         bool compositorPointer)
    : QWidget(nullptr), device(openDevice), devicePath(path), result(borders),
      resultPath(bordersPath),
      records(new DeviceRecords(openDevice, this, [this](const input_event &record) { take(record); },
                                [this] { update(); })),
      raw(currentPosition(openDevice)), monitor(xMonitor),
      held(heldByAnotherProgram(openDevice)), xWatch(deviceNumber(openDevice))
{
    useCheckLook(this);
    compositorTouches = onWayland();
    pointerAnswers = compositorTouches && compositorPointer;
    setAttribute(Qt::WA_AcceptTouchEvents, compositorTouches);
    if (xWatch.fd() >= 0) {
        auto *xNotifier = new QSocketNotifier(xWatch.fd(), QSocketNotifier::Read, this);
        connect(xNotifier, &QSocketNotifier::activated, this, [this] { readXEvents(); });
    }
}

void CheckWidget::addTouch(QVector<QPoint> &touches, bool began, QPoint at)
{
    if (began || touches.isEmpty())
        touches.append(at);
    else
        touches.last() = at;
    if (touches.size() > kTouchesShown)
        touches.removeFirst();
}

void CheckWidget::readXEvents()
{
    const XPointerWatch::Moved moved = xWatch.takeEvents();
    if (moved.moved) {
        const QPoint at = monitor && monitor->width > 0 && monitor->height > 0
            ? QPoint(static_cast<int>((moved.x - monitor->x) * static_cast<long long>(width()) / monitor->width),
                     static_cast<int>((moved.y - monitor->y) * static_cast<long long>(height()) / monitor->height))
            : mapFromGlobal(QPoint(moved.x, moved.y));
        addTouch(xTouches, moved.began, at);
        update();
    }
}

void CheckWidget::take(const input_event &record)
{
    if (record.type == EV_ABS && record.code == ABS_X)
        raw.x = record.value;
    else if (record.type == EV_ABS && record.code == ABS_Y)
        raw.y = record.value;
    else if (record.type == EV_KEY && (record.code == BTN_TOUCH || record.code == BTN_LEFT)
             && record.value == 1)
        touchBegan = true;
    else if (record.type == EV_SYN && record.code == SYN_REPORT) {
        touched = true;
        sinceDeviceReport.start();
        addTouch(rawTouches, touchBegan, QPoint(raw.x, raw.y));
        touchBegan = false;
    }
}

bool CheckWidget::event(QEvent *event)
{
    // Events come while the members are still being made (a child added): the type first.
    const QEvent::Type type = event->type();
    if ((type != QEvent::TouchBegin && type != QEvent::TouchUpdate && type != QEvent::TouchEnd)
        || !compositorTouches)
        return QWidget::event(event);
    const auto *touch = static_cast<QTouchEvent *>(event);
    if (!touch->points().isEmpty())
        compositorAnswer(type == QEvent::TouchBegin, touch->points().first().position());
    event->accept();
    return true;
}

void CheckWidget::compositorAnswer(bool began, QPointF at)
{
    // Wayland does not say which device made an event.
    constexpr qint64 kPairedWithinMs = 300;
    if (!sinceDeviceReport.isValid() || sinceDeviceReport.elapsed() >= kPairedWithinMs)
        return;
    addTouch(xTouches, began, at.toPoint());
    update();
}

void CheckWidget::mousePressEvent(QMouseEvent *event)
{
    // The toolkit's own mouse events made of touches are no pointer's.
    if (pointerAnswers && event->button() == Qt::LeftButton && event->source() == Qt::MouseEventNotSynthesized)
        compositorAnswer(true, event->position());
}

void CheckWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (pointerAnswers && (event->buttons() & Qt::LeftButton) && event->source() == Qt::MouseEventNotSynthesized)
        compositorAnswer(false, event->position());
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
    const QFontMetrics metrics = fontMetrics();
    const int line = metrics.height() + 4;
    int y = line * 2;
    // Lines of text go down the screen, stepping over the rows of targets.
    auto say = [&](const QString &text) {
        for (int row = 1; row <= 3; ++row) {
            const int top = row * h / 4 - kTargetRadius - 4, bottom = row * h / 4 + kTargetRadius + 4;
            if (y + metrics.descent() >= top && y - metrics.ascent() <= bottom)
                y = bottom + metrics.ascent() + 1;
        }
        painter.drawText(w / 20, y, text);
        y += line;
    };

    say(QString("kestrilavon-check: %1. Touch the screen; Esc quits.").arg(devicePath));
    const Borders *borders = result.borders ? &*result.borders : nullptr;
    if (borders) {
        // One arg() call for all: a path holding "%2" must stay as it is.
        say(QString("Borders from %1: left %2, right %3, top %4, bottom %5.")
                .arg(resultPath, QString::number(borders->left), QString::number(borders->right),
                     QString::number(borders->top), QString::number(borders->bottom)));
        say("Red: their linear reading, x = (raw x - left) * width / (right - left), the same for y.");
        say(pointerAnswers ? "Green: where the compositor puts its pointer, which this panel moves: its own answer."
            : compositorTouches ? "Green: where the compositor puts the touch, its own answer."
                              : "Green: where X puts the touch, the driver's own answer.");
        if (!mapToScreen(*borders, 0, 0, w, h))
            say("The borders are equal on an axis: no position can be worked out; raw values only.");
    } else {
        say(QString("No borders from %1: %2. Raw values only.")
                .arg(resultPath, QString::fromLocal8Bit(result.problem.c_str())));
    }
    if (result.borders && !result.trusted())
        say(QString("Warning: %1 belongs to %2, not to root or to you: shown, but kestrilavon-check "
                    "will not put it into a configuration.")
                .arg(resultPath, QString::fromLocal8Bit(result.ownerName().c_str())));
    if (records->gone())
        say("The device has gone away (unplugged?). Esc quits.");
    if (held)
        say(QString("%1 is held by another program: its touches go there, not here and not to X. "
                    "Close it and try again.").arg(devicePath));

    painter.setPen(Qt::blue);
    for (int i = 0; i < int(std::size(kTargets)); ++i) {
        const QPoint target = targetAt(i, w, h);
        painter.drawEllipse(target, kTargetRadius, kTargetRadius);
        drawCross(painter, target.x(), target.y(), 10);
    }

    // The newest touch large, the ones before small.
    std::optional<ScreenPoint> point;
    painter.setPen(Qt::red);
    for (int i = 0; borders && i < rawTouches.size(); ++i) {
        point = mapToScreen(*borders, rawTouches[i].x(), rawTouches[i].y(), w, h);
        if (point)
            drawCross(painter, point->x, point->y, i + 1 == rawTouches.size() ? 40 : 10);
    }
    painter.setPen(Qt::darkGreen);
    for (int i = 0; i < xTouches.size(); ++i)
        drawSaltire(painter, xTouches[i], i + 1 == xTouches.size() ? 28 : 7);
    painter.setPen(Qt::black);

    QString where = touched ? QString("Last touch: raw X %1, raw Y %2").arg(raw.x).arg(raw.y)
                            : QString("No touch yet.");
    if (point && touched) {
        where += QString(", on screen %1, %2; %3 px from the nearest target.")
                     .arg(point->x).arg(point->y).arg(nearestTargetDistance({point->x, point->y}, w, h));
    }
    say(where);
    if (!compositorTouches && xWatch.fd() < 0)
        say("X has no input device for this device on this display: X's answer cannot be shown.");
    else if (!xTouches.isEmpty())
        say(QString("%1 puts it at %2, %3; %4 px from the nearest target.")
                .arg(compositorTouches ? "The compositor" : "X").arg(xTouches.last().x())
                .arg(xTouches.last().y()).arg(nearestTargetDistance(xTouches.last(), w, h)));
    else if (touched)
        say(QString("%1 has sent nothing for this device's touches.").arg(compositorTouches ? "The compositor" : "X"));
}
