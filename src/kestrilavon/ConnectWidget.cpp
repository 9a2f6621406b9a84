// SPDX-License-Identifier: MIT
#include "ConnectWidget.h"

#include "calibration.h"
#include "result_file.h"
#include "touch_reader.h"

#include <QKeyEvent>
#include <QPainter>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace {

char builtInDefaultDevice[] = "/dev/input/event2";

// Only asks whether the device can be opened for reading. Without O_NONBLOCK a FIFO with no
// writer, or a line waiting for its carrier, would hang the first paint before anything is shown.
bool deviceOpens(const char *path)
{
    const int device = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0)
        return false;
    ::close(device);
    return true;
}

} // namespace

char *ConnectWidget::defaultDevice = builtInDefaultDevice;

ConnectWidget::ConnectWidget(char *device)
    : QWidget(nullptr), dev(device), f("Helvetica", 14, QFont::Bold, false)
{
    setFont(f);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
    setAutoFillBackground(true);
}

ConnectWidget::~ConnectWidget() = default;

void ConnectWidget::paintEvent(QPaintEvent *)
{
    exposes.firstScreenDrawn();
    if (!paintingOwnDrawing) {
        // The window system cleared the window before asking for this paint.
        shown.clear();
        if (count == Start)
            startPass();
        else
            repaintScreenOfState();
    }

    for (const ScreenItem &item : std::as_const(shown)) {
        if (item.kind == ScreenItem::Marker) {
            paintCross(item.length, item.x, item.y);
            continue;
        }
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(item.x, item.y, item.text);
    }
}

void ConnectWidget::changeEvent(QEvent *event)
{
    // The font is chosen inside a paint; the repaint the toolkit would schedule for the change
    // would run that paint branch a second time.
    if (event->type() == QEvent::FontChange)
        return;
    QWidget::changeEvent(event);
}

void ConnectWidget::startPass()
{
    myqcursor = cursor();
    widthx = width();
    heighty = height();
    f = QFont("Helvetica", fontPointSize(widthx, f.pointSize()), QFont::Bold, false);
    setFont(f);

    if (!dev) {
        // Kept on purpose: every later pass treats the default device as a typed one.
        dev = defaultDevice;
        erase();
        draw(screens::intro(widthx, heighty, dev));
        if (deviceOpens(dev)) {
            count = Intro;
            return;
        }
        count = Start;
        erase();
        erro_msg = QString::asprintf(screens::kDefaultDeviceOpenError, dev);
        draw(screens::openError(widthx, heighty, erro_msg));
        return;
    }

    if (deviceOpens(dev)) {
        count = FirstMarker;
        myqcursor2 = QCursor(Qt::BlankCursor);
        setCursor(myqcursor2);
        draw(screens::firstMarker(widthx, heighty));
        return;
    }
    count = Start;
    erro_msg = QString::asprintf(screens::kTypedDeviceOpenError, dev);
    draw(screens::openError(widthx, heighty, erro_msg));
}

void ConnectWidget::repaintScreenOfState()
{
    switch (count) {
    case Intro:
        dev = defaultDevice;
        erase();
        draw(screens::introRepaint(widthx, heighty, dev));
        break;
    case FirstMarker:
        erase();
        draw(screens::firstMarkerRepaint(widthx, heighty));
        break;
    case SecondMarker:
        erase();
        draw(screens::secondMarker(widthx, heighty));
        break;
    case Result:
        setCursor(myqcursor);
        erase();
        paintResult(widthx, heighty);
        break;
    case ReadError:
        erase();
        draw(screens::readErrorRepaint(widthx, heighty));
        break;
    default:
        break;
    }
}

void ConnectWidget::keyPressEvent(QKeyEvent *event)
{
    if (closed())
        return;
    switch (event->key()) {
    case Qt::Key_Escape:
        close();
        break;
    case Qt::Key_R:
        count = Start;
        repaint();  // not our own drawing: it starts from a cleared window and runs the start pass
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        advance(false);
        break;
    default:
        break;
    }
}

void ConnectWidget::mousePressEvent(QMouseEvent *)
{
    if (!closed())
        advance(true);
}

bool ConnectWidget::closed() const
{
    // Clicks and keys queued behind the Esc or double click that closed the window still
    // arrive; none of them may start a read or save a result on a window nobody sees.
    return isHidden();
}

void ConnectWidget::mouseDoubleClickEvent(QMouseEvent *)
{
    close();
}

void ConnectWidget::advance(bool byMouse)
{
    switch (count) {
    case Intro:
        count = FirstMarker;
        myqcursor2 = QCursor(Qt::BlankCursor);
        setCursor(myqcursor2);
        erase();
        draw(screens::firstMarker(widthx, heighty));
        showOwnDrawing();
        break;
    case FirstMarker:
        if (ReadTouch(dev, 0) != 0) {
            showReadError(byMouse ? screens::kReadErrorAfterClick : screens::kReadErrorAfterKey);
            break;
        }
        erase();
        draw(screens::secondMarker(widthx, heighty));
        count = SecondMarker;
        showOwnDrawing();
        break;
    case SecondMarker:
        if (ReadTouch(dev, 1) != 0) {
            showReadError(screens::kReadErrorAfterKey);
            break;
        }
        compute_output_result(ts_xtmp, ts_ytmp);
        erase();
        paintResult(widthx, heighty);
        count = Result;
        setCursor(myqcursor);
        showOwnDrawing();
        break;
    default:
        break;
    }
}

void ConnectWidget::showReadError(const char *message)
{
    erase();
    draw(screens::readError(widthx, heighty, erro_msg, message));
    count = ReadError;
    showOwnDrawing();
}

int ConnectWidget::ReadTouch(char *path, int j)
{
    std::FILE *device = std::fopen(path, "rb");
    if (!device)
        return -1;
    const TouchSample sample = readTouchSample(device, currentPosition(fileno(device)));
    std::fclose(device);
    if (!sample.accepted)
        return -1;
    ts_xtmp[j] = sample.x;
    ts_ytmp[j] = sample.y;
    return 0;
}

void ConnectWidget::compute_output_result(int *x, int *y)
{
    const Borders borders = computeBorders(x, y);
    x[0] = borders.left;
    x[1] = borders.right;
    y[0] = borders.top;
    y[1] = borders.bottom;
    resultSaveError = QString::fromLocal8Bit(
        saveResultFile(kResultFilePath, resultFileText(borders)).c_str());
}

void ConnectWidget::paintResult(int w, int h)
{
    const Borders borders{ts_xtmp[0], ts_xtmp[1], ts_ytmp[0], ts_ytmp[1]};
    draw(screens::result(w, h, borders, resultSaveError));
}

void ConnectWidget::paintCross(int length, int centerX, int centerY)
{
    QPainter painter(this);
    painter.setPen(Qt::red);
    painter.drawEllipse(centerX - 25, centerY - 25, 50, 50);
    painter.drawEllipse(centerX - 50, centerY - 50, 100, 100);
    painter.drawLine(centerX - length, centerY, centerX + length, centerY);
    painter.drawLine(centerX, centerY - length, centerX, centerY + length);
}

void ConnectWidget::erase()
{
    shown.clear();
}

void ConnectWidget::draw(const Screen &items)
{
    shown += items;
}

void ConnectWidget::showOwnDrawing()
{
    paintingOwnDrawing = true;
    repaint();
    paintingOwnDrawing = false;
}
