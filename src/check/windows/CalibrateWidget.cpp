// SPDX-License-Identifier: MIT
#include "CalibrateWidget.h"

#include "CheckWidget.h"

#include "input/devices.h"
#include "touch_reader.h"
#include "x_input.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QTouchEvent>
#include <QPainter>
#include <QScreen>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

// A red cross with a circle; filled while a finger is down, so that each touch shows it counted.
void drawTarget(QPainter &painter, QPoint at, bool touched)
{
    painter.setPen(Qt::red);
    painter.setBrush(touched ? QBrush(Qt::red) : QBrush());
    painter.drawLine(at.x() - 40, at.y(), at.x() + 40, at.y());
    painter.drawLine(at.x(), at.y() - 40, at.x(), at.y() + 40);
    painter.drawEllipse(at, 15, 15);
    painter.setBrush(QBrush());
}

// The accepted fit at each target: the target (grey: red is the live touch's), and a line to where its touch lands drawn ten
// times longer than the error, so that a pixel shows; the worst error beside its target, with
// the error to expect elsewhere: the targets' own understate it.
void drawResult(QPainter &painter, const TargetSequence &sequence, bool faint)
{
    const std::vector<double> errors = sequence.errors();
    int worst = 0;
    for (int i = 0; i < TargetSequence::kTargets; ++i) {
        if (errors[size_t(i)] > errors[size_t(worst)])
            worst = i;
    }
    for (int i = 0; i < TargetSequence::kTargets; ++i) {
        const TargetSequence::Pixel target = sequence.target(i);
        const TargetSequence::Point landed = sequence.landed(i);
        const QPointF from(target.x, target.y);
        const QPointF to = from + 10 * (QPointF(landed.x, landed.y) - from);
        painter.setPen(faint ? QColor(210, 210, 210) : QColor(Qt::darkGray));
        painter.drawLine(from - QPointF(20, 0), from + QPointF(20, 0));
        painter.drawLine(from - QPointF(0, 20), from + QPointF(0, 20));
        painter.setPen(QPen(faint ? QColor(190, 190, 255) : QColor(Qt::blue), 2));
        painter.drawLine(from, to);
        painter.drawEllipse(to, 3, 3);
        if (i == worst) {
            painter.setPen(faint ? QColor(190, 190, 190) : QColor(Qt::black));
            const bool right = target.x < painter.device()->width() / 2;
            const bool below = target.y <= painter.device()->height() / 2;
            const qreal boxHeight = 3 * painter.fontMetrics().height() + 4;
            const QRectF box(right ? target.x + 30 : target.x - 430,
                             below ? target.y + 25 : target.y - 25 - boxHeight, 400, boxHeight);
            const ErrorEstimate &expected = sequence.expected();
            painter.drawText(box, right ? Qt::AlignLeft : Qt::AlignRight,
                             QString("worst: %1 px\n(lines drawn 10 times longer)\nexpected: about %2 px, up to %3 px at the corners")
                                 .arg(errors[size_t(i)], 0, 'f', 1)
                                 .arg(QString::fromStdString(roughPixels(expected.mean)),
                                      QString::fromStdString(roughPixels(expected.worst))));
        }
    }
}

} // namespace

CalibrateWidget::CalibrateWidget(int openDevice, int monitorWidth, int monitorHeight, AxisRange x,
                                 AxisRange y, bool compositorTouches, bool compositorPointer,
                                 std::function<QString(const Calibration &)> accepted)
    : QWidget(nullptr), device(openDevice),
      records(new DeviceRecords(
          openDevice, this,
          [this](const input_event &record) {
              const bool wasDown = tracker.followsTouch();
              const auto touch = tracker.take(record);
              if (!wasDown && tracker.followsTouch()) {
                  touchBegan = static_cast<long long>(record.input_event_sec) * 1000 + record.input_event_usec / 1000;
                  pairing.deviceBegan(clock.elapsed(), stampsMonotonic ? touchBegan : kNoStamp);
              }
              if (touch)
                  touched(*touch);
          },
          [this] { update(); })),
      tracker(records->state(), [this] { return records->state(); }),
      rangeX(x), rangeY(y), sequence(monitorWidth, monitorHeight, x, y), onWayland(compositorTouches),
      pointerAnswers(compositorTouches && compositorPointer), onAccepted(std::move(accepted))
{
    useCheckLook(this);
    clock.start();
    // The records' times on the clock libinput asks for, so that the compositor's event times
    // (libinput's, in milliseconds) can be matched with them, and a touch told from one made
    // before the targets were shown. A FIFO has no clock to set.
    int monotonic = CLOCK_MONOTONIC;
    stampsMonotonic = ::ioctl(openDevice, EVIOCSCLOCKID, &monotonic) == 0;
    if (onWayland) {
        setAttribute(Qt::WA_AcceptTouchEvents);
        return;
    }
    grab();
}

void CalibrateWidget::grab()
{
    // While the targets are shown, X must not turn a touch into a click that could take the
    // window's focus away: the device is this program's alone until the fit is accepted.
    if (onWayland || grabbed)
        return;
    grabbed = isEventDevice(device) && ::ioctl(device, EVIOCGRAB, 1) == 0;
    if (grabbed)
        slotsAtGrab = slotState(device);
}

void CalibrateWidget::startAgain()
{
    sequence = TargetSequence(width(), height(), rangeX, rangeY);
    pairing.restart();
    // The touch that pressed Again may still be down, when its press came as a click (X's, or
    // the compositor's pointer): it ends after the first target is drawn again, and is no touch
    // of it.
    targetsShownAt.reset();
    note.clear();
    afterFit.clear();
    lastTouch.reset();
    grab();
    update();
}

bool CalibrateWidget::event(QEvent *event)
{
    // The type first: the members are not all made when the first events come.
    const QEvent::Type type = event->type();
    if (type != QEvent::TouchBegin && type != QEvent::TouchUpdate && type != QEvent::TouchEnd
        && type != QEvent::TouchCancel)
        return QWidget::event(event);
    const bool counts = compositorCounts();
    for (const QEventPoint &point : static_cast<QTouchEvent *>(event)->points()) {
        if (!counts)
            break;
        const double x = point.position().x() / width(), y = point.position().y() / height();
        if (point.state() == QEventPoint::Pressed)
            pairing.compositorPressed(point.id(), clock.elapsed(), x, y,
                                      static_cast<long long>(static_cast<QTouchEvent *>(event)->timestamp()));
        // A release tells only that the finger left (Wayland's up has no position): Qt gives some
        // releases under mutter at the window's corner, which would drag the median there.
        else if (point.state() == QEventPoint::Updated)
            pairing.compositorMoved(point.id(), x, y);
    }
    // Taken here, so that the toolkit makes no mouse events of them.
    event->accept();
    return true;
}

bool CalibrateWidget::compositorCounts() const
{
    // Only touches meant for this window as it covers its output: the targets lie there.
    return !accepted() && isActiveWindow() && (windowState() & Qt::WindowFullScreen) && width() > 0 && height() > 0;
}

bool CalibrateWidget::pointerAnswer(const QMouseEvent *event) const
{
    // The toolkit's own mouse events made of touches are no pointer's.
    return pointerAnswers && event->source() == Qt::MouseEventNotSynthesized && compositorCounts();
}

// The pointer has one point, down while its button is: each press is a new touch of it.
constexpr int kPointerPoint = -1;

CalibrateWidget::~CalibrateWidget()
{
    letGo();
}

void CalibrateWidget::letGo()
{
    if (!grabbed)
        return;
    ::ioctl(device, EVIOCGRAB, 0);
    grabbed = false;
    // X's driver heard nothing while the device was held. The kernel names a slot only when it
    // changes: when the targets' touches moved it while a touch stayed in the slot X last heard
    // of (a thumb on the bezel), or a touch X heard go down lifted meanwhile, X's driver takes
    // the next touch for a second one in a slot it thinks held and drops it: the Done box and
    // the check target could not be touched.
    struct stat status;
    if (slotState(device) == slotsAtGrab || ::fstat(device, &status) != 0)
        return;
    const std::string problem = readDeviceAfresh(status.st_rdev);
    if (!problem.empty())
        std::fprintf(stderr, "kestrilavon-check: X's driver may miss touches until every finger lifts: "
                             "it could not read the touch screen afresh: %s\n", problem.c_str());
}

QRect CalibrateWidget::doneBox() const
{
    return QRect(width() - 160, 20, 140, 60);
}

QRect CalibrateWidget::againBox() const
{
    return QRect(width() - 320, 20, 140, 60);
}

bool CalibrateWidget::coversScreen()
{
    // A compositor says a window covers its output by its state: a turned output's size as the
    // toolkit reports it may be its mode's, unturned (weston without xdg-output).
    const QSize output = screen() ? screen()->geometry().size() : size();
    if (onWayland ? !(windowState() & Qt::WindowFullScreen) || width() <= 0 || height() <= 0 : size() != output)
        return false;
    // Placed by the compositor on an output of another size than the one guessed: no target has
    // been touched yet, so the targets simply move.
    const TargetSequence::Pixel centre = sequence.target(TargetSequence::kTargets - 1);
    if (!anyTouch && (centre.x != width() / 2 || centre.y != height() / 2))
        sequence = TargetSequence(width(), height(), rangeX, rangeY);
    return true;
}

void CalibrateWidget::touched(const TouchTracker::Touch &touch)
{
    if (!accepted() && !coversScreen()) {
        update();
        return;
    }
    // A touch that began before the first target was drawn full screen was not meant for it: the
    // device's records wait for a window slow to start.
    if (!accepted() && stampsMonotonic && (!targetsShownAt || touchBegan < *targetsShownAt))
        return;
    anyTouch = true;
    if (accepted()) {
        const Point at = sequence.calibration()->m.apply(touch.x, touch.y);
        lastTouch = QPoint(static_cast<int>(std::floor(at.x * width())),
                           static_cast<int>(std::floor(at.y * height())));
        if (offersDone() && doneBox().contains(*lastTouch))
            close();
        else if (offersAgain() && againBox().contains(*lastTouch))
            startAgain();
        update();
        return;
    }
    const int target = sequence.current();
    const TargetSequence::Answer answer = sequence.touch(touch.x, touch.y);
    if (answer == TargetSequence::Answer::StartOver)
        pairing.restart();
    else if (answer != TargetSequence::Answer::Ignored)
        pairing.deviceTaken(target, (touch.x - rangeX.minimum) / (double(rangeX.maximum) - rangeX.minimum + 1),
                            (touch.y - rangeY.minimum) / (double(rangeY.maximum) - rangeY.minimum + 1));
    switch (answer) {
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
    if (event->key() == Qt::Key_Escape && !waitingForCheck)
        close();
}

void CalibrateWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && pointerAnswer(event))
        pairing.compositorPressed(kPointerPoint, clock.elapsed(), event->position().x() / width(),
                                  event->position().y() / height(), static_cast<long long>(event->timestamp()));
    else if (offersDone() && doneBox().contains(event->position().toPoint()))
        close();
    else if (offersAgain() && againBox().contains(event->position().toPoint()))
        startAgain();
}

void CalibrateWidget::mouseMoveEvent(QMouseEvent *event)
{
    // Without mouse tracking only a drag comes here; the button is asked all the same.
    if ((event->buttons() & Qt::LeftButton) && pointerAnswer(event))
        pairing.compositorMoved(kPointerPoint, event->position().x() / width(), event->position().y() / height());
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

    if (!accepted() && !coversScreen()) {
        const QSize output = screen() ? screen()->geometry().size() : size();
        painter.setPen(Qt::black);
        say(onWayland ? QString("The compositor has not made this window full screen: the targets would "
                                "not lie where the fit takes them.")
                      : QString("The compositor gave this window %1x%2, not its screen's %3x%4: the "
                                "targets would not lie where the fit takes them.")
                            .arg(w).arg(h).arg(output.width()).arg(output.height()));
        say("Esc quits. Name the touch screen's output with --output, or let it be full screen.");
    } else if (!accepted()) {
        if (!targetsShownAt) {
            timespec now {};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            targetsShownAt = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
        }
        const TargetSequence::Pixel target = sequence.target(sequence.current());
        drawTarget(painter, QPoint(target.x, target.y), tracker.followsTouch());
        painter.setPen(Qt::black);
        say(QString("Target %1 of %2: touch the centre of the red cross. Esc quits.")
                .arg(sequence.current() + 1).arg(TargetSequence::kTargets));
        // What became of the last touch, where the eyes are: beside the target.
        if (!note.isEmpty()) {
            const int noteWidth = std::min(w - 20, 420);
            const int left = std::clamp(target.x - noteWidth / 2, 10, w - 10 - noteWidth);
            const int top = target.y <= h / 2 ? target.y + 50 : target.y - 50 - 3 * line;
            painter.drawText(QRect(left, top, noteWidth, 3 * line),
                             Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, note);
        }
    } else {
        drawResult(painter, sequence, lastTouch.has_value());
        painter.setPen(Qt::black);
        QString errors;
        for (const double error : sequence.errors())
            errors += (errors.isEmpty() ? "" : ", ") + QString::number(std::lround(error));
        say(QString("Calibrated. Error at each target: %1 px.").arg(errors));
        const ErrorEstimate &expected = sequence.expected();
        say(QString("Expected error: about %1 px on average, up to %2 px near the corners.")
                .arg(QString::fromStdString(roughPixels(expected.mean)),
                     QString::fromStdString(roughPixels(expected.worst))));
        if (offersAgain()) {
            say("That is more than a steady finger leaves: touch each target slowly and on its centre,");
            say("or use a stylus, then touch Again.");
        }
        for (const QString &text : afterFit.split('\n', Qt::SkipEmptyParts))
            say(text);
        if (offersDone()) {
            say("Touch anywhere: the red cross shows where the new calibration puts the touch.");
            say("Touch Done, or press Esc, to close.");
            painter.setPen(Qt::black);
            painter.drawRect(doneBox());
            painter.drawText(doneBox(), Qt::AlignCenter, "Done");
            if (offersAgain()) {
                painter.drawRect(againBox());
                painter.drawText(againBox(), Qt::AlignCenter, "Again");
            }
        }
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
