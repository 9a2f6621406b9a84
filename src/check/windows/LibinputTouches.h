// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_LIBINPUTTOUCHES_H
#define KESTRILAVON_LIBINPUTTOUCHES_H

#include <QObject>
#include <QPointF>
#include <QSizeF>

#include <functional>
#include <string>

struct libinput;
class QSocketNotifier;

// Where libinput puts the touches of one device on a screen of a given size: what a program on
// the bare framebuffer that reads its touches through libinput (Qt's libinput plugin, a kiosk
// compositor) gets with udev's matrix, read anew when the device is added. Its path backend
// reads the device through a copy of a descriptor already open, so no process but root's needs
// to open it. Each first finger down, or button press at the absolute pointer's place, is
// handed to `down`.
class LibinputTouches : public QObject {
public:
    LibinputTouches(int openDevice, const std::string &devicePath, std::function<QSizeF()> screenSize,
                    std::function<void(QPointF)> down, QObject *parent);
    ~LibinputTouches() override;
    LibinputTouches(const LibinputTouches &) = delete;
    LibinputTouches &operator=(const LibinputTouches &) = delete;

    // Empty once libinput has taken the device; otherwise why not.
    const std::string &problem() const { return why; }

private:
    void readEvents();

    libinput *context = nullptr;
    QSocketNotifier *notifier = nullptr;
    int device;
    std::function<QSizeF()> size;
    std::function<void(QPointF)> onDown;
    QPointF pointer;
    int fingers = 0;
    std::string why;
};

#endif
