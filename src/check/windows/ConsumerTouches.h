// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_CONSUMERTOUCHES_H
#define KESTRILAVON_CONSUMERTOUCHES_H

#include <QObject>
#include <QPointF>
#include <QSizeF>

#include <functional>
#include <string>

struct libinput;
struct tsdev;
class QSocketNotifier;

// Where the program that consumes a calibration on the bare framebuffer puts the touches of
// one device: libinput (Qt's libinput input, a kiosk compositor) with udev's matrix, read anew
// when the device is added, scaled to the screen; or tslib with its pointercal and ts.conf, in
// the framebuffer's pixels. Either reads the device through a copy of a descriptor already
// open, so no process but root's needs to open it. Each first finger down, or button press at
// the absolute pointer's place, is handed to `down`.
class ConsumerTouches : public QObject {
public:
    enum class Reader { Libinput, Tslib };

    ConsumerTouches(Reader reader, int openDevice, const std::string &devicePath, std::function<QSizeF()> screenSize,
                    std::function<void(QPointF)> down, QObject *parent);
    ~ConsumerTouches() override;
    ConsumerTouches(const ConsumerTouches &) = delete;
    ConsumerTouches &operator=(const ConsumerTouches &) = delete;

    // Empty once the reader has taken the device; otherwise why not.
    const std::string &problem() const { return why; }

private:
    void readLibinput();
    void readTslib();

    libinput *context = nullptr;
    tsdev *ts = nullptr;
    QSocketNotifier *notifier = nullptr;
    int device;
    std::function<QSizeF()> size;
    std::function<void(QPointF)> onDown;
    QPointF pointer;
    int fingers = 0;
    bool pressed = false;
    std::string why;
};

#endif
