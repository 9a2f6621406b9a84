// SPDX-License-Identifier: MIT
#include "TouchCheckWidget.h"

#include "CheckWidget.h"
#include "input/touch_tracker.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTouchEvent>

#include <cmath>
#include <utility>

namespace {

// How long a touch seen on the device may wait for the session's: longer means the session
// has not taken the device again since the re-add.
constexpr int kSessionMilliseconds = 700;
// Once judged, how long the window waits for the session to say the touch ended: after the
// device says every finger is up, and in all.
constexpr int kEndAfterLiftMilliseconds = 500;
constexpr int kEndAtMostMilliseconds = 3000;

} // namespace

TouchCheckWidget::TouchCheckWidget(int openDevice, double boundPixels,
                                   std::function<void(const Outcome &)> decided, const TouchSource &source)
    : QWidget(nullptr), bound(boundPixels), onDecided(std::move(decided))
{
    if (source.kind == TouchSource::Kind::Session) {
        records = new DeviceRecords(
            openDevice, this,
            [this](const input_event &record) {
                if (beginsTouch(record) && !done && !sessionSilent.isActive())
                    sessionSilent.start();
            },
            [this] {
                if (done)
                    closeSoonOnceLifted();
            });
    } else {
        consumer = new ConsumerTouches(
            source.kind == TouchSource::Kind::Libinput ? ConsumerTouches::Reader::Libinput
                                                  : ConsumerTouches::Reader::Tslib,
            openDevice, source.path, [this] { return QSizeF(size()); }, [this](QPointF at) { sessionTouch(at); },
            this);
    }
    useCheckLook(this);
    setAttribute(Qt::WA_AcceptTouchEvents);
    tick.setInterval(1000);
    connect(&tick, &QTimer::timeout, this, [this] {
        if (--secondsLeft > 0)
            return update();
        decide({std::nullopt, "timeout"});
    });
    sessionSilent.setSingleShot(true);
    sessionSilent.setInterval(kSessionMilliseconds);
    connect(&sessionSilent, &QTimer::timeout, this, [this] {
        note = "The touch reached the device but not the session, which has not taken the device "
               "again yet: touch the target again.";
        // Once: a session that never passes touches on cannot be checked.
        if (!waitedForSession)
            countFrom(kSeconds);
        waitedForSession = true;
        update();
    });
    countFrom(kSeconds);
}

TargetSequence::Pixel TouchCheckWidget::target() const
{
    return TargetSequence(width(), height(), {0, 1}, {0, 1}).checkTarget();
}

void TouchCheckWidget::countFrom(int seconds)
{
    secondsLeft = seconds;
    tick.start();
}

bool TouchCheckWidget::event(QEvent *event)
{
    const QEvent::Type type = event->type();
    const bool input = type == QEvent::TouchBegin || type == QEvent::TouchUpdate || type == QEvent::TouchEnd
        || type == QEvent::TouchCancel || type == QEvent::MouseButtonPress;
    // The toolkit's own reading of the device knows nothing of udev's matrix.
    if (consumer && input)
        return true;
    // The judged touch has ended where the session delivered it: the window may go.
    if (done && (type == QEvent::TouchEnd || type == QEvent::TouchCancel || type == QEvent::MouseButtonRelease)) {
        end();
        return true;
    }
    if (type == QEvent::TouchBegin || type == QEvent::TouchUpdate) {
        // A finger that goes down, in a begin or while another point is held: a thumb resting on
        // the bezel, or a touch whose lift the toolkit never heard because the window it began
        // on had closed at its press (under mutter the check's own touch then comes as an update).
        const QList<QEventPoint> &points = static_cast<QTouchEvent *>(event)->points();
        for (const QEventPoint &point : points) {
            if (point.state() == QEventPoint::Pressed) {
                sessionTouch(point.position());
                break;
            }
        }
        event->accept();
        return true;
    }
    if (type == QEvent::TouchEnd || type == QEvent::TouchCancel) {
        event->accept();
        return true;
    }
    if (type == QEvent::MouseButtonPress) {
        // A panel the session takes for a mouse; the toolkit's own mouse events made of touches
        // are not taken twice.
        const auto *press = static_cast<QMouseEvent *>(event);
        if (press->source() == Qt::MouseEventNotSynthesized)
            sessionTouch(press->position());
        return true;
    }
    return QWidget::event(event);
}

void TouchCheckWidget::sessionTouch(QPointF at)
{
    sessionSilent.stop();
    if (done)
        return;
    if (!check)
        check.emplace(target(), bound);
    const TouchCheck::Judgement judgement = check->judge(at.x(), at.y());
    if (judgement.verdict != TouchCheck::Verdict::TouchAgain)
        return decide({judgement, ""});
    note = QString("That touch landed %1 px from the target: touch its centre again.")
               .arg(std::lround(judgement.pixels));
    countFrom(kSeconds);
    update();
}

void TouchCheckWidget::decide(const Outcome &outcome)
{
    if (done)
        return;
    done = true;
    tick.stop();
    sessionSilent.stop();
    onDecided(outcome);
    // Closed under a finger that is still down, the window leaves mutter 43 with a touch that
    // never ends, and from then on no touch reaches any window of the session. So a window
    // that a touch decided goes once the session has delivered that touch's end, or shortly
    // after the device says every finger is up (the session may never hear of a lift that
    // began on a window closed before), and at the latest after a few seconds.
    if (!outcome.judgement || consumer) {
        end();
        return;
    }
    QTimer::singleShot(kEndAtMostMilliseconds, this, &TouchCheckWidget::end);
    closeSoonOnceLifted();
}

void TouchCheckWidget::end()
{
    if (!replace)
        close();
    else if (!std::exchange(replaced, true))
        replace();
}

void TouchCheckWidget::closeSoonOnceLifted()
{
    if (liftSeen || !nothingDown(records->state()))
        return;
    liftSeen = true;
    QTimer::singleShot(kEndAfterLiftMilliseconds, this, &TouchCheckWidget::end);
}

void TouchCheckWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const TargetSequence::Pixel at = target();
    painter.setPen(Qt::red);
    painter.drawLine(at.x - 40, at.y, at.x + 40, at.y);
    painter.drawLine(at.x, at.y - 40, at.x, at.y + 40);
    painter.drawEllipse(QPoint(at.x, at.y), 15, 15);
    painter.setPen(Qt::black);
    const int line = fontMetrics().height() + 4;
    QRect band(20, 3 * height() / 8 - line, width() - 40, 6 * line);
    painter.drawText(band, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     QString("Touch the target to keep this calibration\n%1 s: then, or with Esc, the "
                             "old calibration comes back.\n%2")
                         .arg(secondsLeft)
                         .arg(note));
}

void TouchCheckWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        decide({std::nullopt, "esc"});
}

void TouchCheckWidget::closeEvent(QCloseEvent *event)
{
    decide({std::nullopt, "closed"});
    event->accept();
}
