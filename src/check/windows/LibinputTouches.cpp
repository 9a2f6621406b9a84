// SPDX-License-Identifier: MIT
#include "LibinputTouches.h"

#include <QSocketNotifier>

#include <libinput.h>
#include <linux/input.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// libinput opens the device by its path: it gets a copy of the descriptor this program holds.
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

} // namespace

LibinputTouches::LibinputTouches(int openDevice, const std::string &devicePath, std::function<QSizeF()> screenSize,
                                 std::function<void(QPointF)> down, QObject *parent)
    : QObject(parent), device(openDevice), size(std::move(screenSize)), onDown(std::move(down))
{
    context = libinput_path_create_context(&kHeldDevice, &device);
    if (!context) {
        why = "libinput could not start";
        return;
    }
    if (!libinput_path_add_device(context, devicePath.c_str())) {
        why = "libinput did not take " + devicePath;
        return;
    }
    notifier = new QSocketNotifier(libinput_get_fd(context), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { readEvents(); });
    readEvents();
}

LibinputTouches::~LibinputTouches()
{
    delete notifier;
    if (context)
        libinput_unref(context);
}

void LibinputTouches::readEvents()
{
    libinput_dispatch(context);
    while (libinput_event *event = libinput_get_event(context)) {
        const QSizeF screen = size();
        switch (libinput_event_get_type(event)) {
        case LIBINPUT_EVENT_TOUCH_DOWN: {
            libinput_event_touch *touch = libinput_event_get_touch_event(event);
            // The first finger: one resting on the bezel came earlier or means nothing.
            if (fingers++ == 0)
                onDown({libinput_event_touch_get_x_transformed(touch, static_cast<uint32_t>(screen.width())),
                        libinput_event_touch_get_y_transformed(touch, static_cast<uint32_t>(screen.height()))});
            break;
        }
        case LIBINPUT_EVENT_TOUCH_UP:
        case LIBINPUT_EVENT_TOUCH_CANCEL:
            fingers = fingers > 0 ? fingers - 1 : 0;
            break;
        case LIBINPUT_EVENT_POINTER_MOTION_ABSOLUTE: {
            libinput_event_pointer *motion = libinput_event_get_pointer_event(event);
            pointer = {libinput_event_pointer_get_absolute_x_transformed(motion, static_cast<uint32_t>(screen.width())),
                       libinput_event_pointer_get_absolute_y_transformed(motion, static_cast<uint32_t>(screen.height()))};
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
