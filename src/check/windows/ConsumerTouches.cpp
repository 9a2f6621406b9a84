// SPDX-License-Identifier: MIT
#include "ConsumerTouches.h"

#include <QSocketNotifier>

#include <libinput.h>
#include <linux/input.h>
#include <tslib.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

// Each reader opens the device by its path: it gets a copy of the descriptor this program holds.
int openHeld(const char *, int, void *userData)
{
    const int copy = ::fcntl(*static_cast<int *>(userData), F_DUPFD_CLOEXEC, 0);
    return copy >= 0 ? copy : -errno;
}

void closeHeld(int fd, void *)
{
    ::close(fd);
}

const libinput_interface kHeldDevice = {openHeld, closeHeld};

int heldForTslib = -1;

// tslib's hook has no user data of its own to carry the descriptor.
int openHeldForTslib(const char *path, int flags, void *)
{
    const int copy = openHeld(path, flags, &heldForTslib);
    if (copy < 0)
        errno = -copy;
    return copy < 0 ? -1 : copy;
}

} // namespace

ConsumerTouches::ConsumerTouches(Reader reader, int openDevice, const std::string &devicePath,
                                 std::function<QSizeF()> screenSize, std::function<void(QPointF)> down,
                                 QObject *parent)
    : QObject(parent), device(openDevice), size(std::move(screenSize)), onDown(std::move(down))
{
    int fd = -1;
    if (reader == Reader::Libinput) {
        context = libinput_path_create_context(&kHeldDevice, &device);
        if (!context || !libinput_path_add_device(context, devicePath.c_str())) {
            why = "libinput did not take " + devicePath;
            return;
        }
        fd = libinput_get_fd(context);
    } else {
        heldForTslib = device;
        ts_open_restricted = openHeldForTslib;
        ts_close_restricted = closeHeld;
        ts = ts_open(devicePath.c_str(), 1);
        if (!ts) {
            why = "tslib did not take " + devicePath;
            return;
        }
        if (ts_config(ts) != 0) {
            why = "tslib found no ts.conf it could load (TSLIB_CONFFILE, else /etc/ts.conf) for " + devicePath;
            return;
        }
        fd = ts_fd(ts);
    }
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { context ? readLibinput() : readTslib(); });
    context ? readLibinput() : readTslib();
}

ConsumerTouches::~ConsumerTouches()
{
    delete notifier;
    if (context)
        libinput_unref(context);
    if (ts)
        ts_close(ts);
}

void ConsumerTouches::readLibinput()
{
    libinput_dispatch(context);
    while (libinput_event *event = libinput_get_event(context)) {
        const QSizeF screen = size();
        const auto width = static_cast<uint32_t>(screen.width()), height = static_cast<uint32_t>(screen.height());
        switch (libinput_event_get_type(event)) {
        case LIBINPUT_EVENT_TOUCH_DOWN: {
            libinput_event_touch *touch = libinput_event_get_touch_event(event);
            // The first finger: one resting on the bezel came earlier or means nothing.
            if (fingers++ == 0)
                onDown({libinput_event_touch_get_x_transformed(touch, width),
                        libinput_event_touch_get_y_transformed(touch, height)});
            break;
        }
        case LIBINPUT_EVENT_TOUCH_UP:
        case LIBINPUT_EVENT_TOUCH_CANCEL:
            fingers = fingers > 0 ? fingers - 1 : 0;
            break;
        case LIBINPUT_EVENT_POINTER_MOTION_ABSOLUTE: {
            libinput_event_pointer *motion = libinput_event_get_pointer_event(event);
            pointer = {libinput_event_pointer_get_absolute_x_transformed(motion, width),
                       libinput_event_pointer_get_absolute_y_transformed(motion, height)};
            break;
        }
        case LIBINPUT_EVENT_POINTER_BUTTON: {
            libinput_event_pointer *button = libinput_event_get_pointer_event(event);
            if (libinput_event_pointer_get_button_state(button) == LIBINPUT_BUTTON_STATE_PRESSED
                && libinput_event_pointer_get_button(button) == BTN_LEFT)
                onDown(pointer);
            break;
        }
        default:
            break;
        }
        libinput_event_destroy(event);
    }
}

void ConsumerTouches::readTslib()
{
    ts_sample sample {};
    // tslib's filters may hold samples back: what it hands out is what its programs get.
    while (ts_read(ts, &sample, 1) == 1) {
        if (sample.pressure > 0 && !pressed)
            onDown(QPointF(sample.x, sample.y));
        pressed = sample.pressure > 0;
    }
}
