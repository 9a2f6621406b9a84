// SPDX-License-Identifier: MIT
#include "input/event_device.h"

#include <libevdev/libevdev.h>

#include <unistd.h>

#include <cerrno>
#include <cstdarg>

namespace {

// libevdev would write its complaints to the standard error stream, into the output of a
// program whose messages are its own.
void quiet(enum libevdev_log_priority, void *, const char *, int, const char *, const char *, va_list)
{
}

void quiet(const struct libevdev *, enum libevdev_log_priority, void *, const char *, int, const char *,
           const char *, va_list)
{
}

// A kernel event device, through libevdev; null for anything else.
libevdev *openLibevdev(int fd)
{
    libevdev_set_log_function(quiet, nullptr);
    libevdev *device = libevdev_new();
    if (!device)
        return nullptr;
    libevdev_set_device_log_function(device, quiet, LIBEVDEV_LOG_ERROR, nullptr);
    if (libevdev_set_fd(device, fd) != 0) {
        libevdev_free(device);
        return nullptr;
    }
    return device;
}

DeviceState stateOf(const libevdev *device)
{
    DeviceState state;
    state.x = libevdev_get_event_value(device, EV_ABS, ABS_X);
    state.y = libevdev_get_event_value(device, EV_ABS, ABS_Y);
    state.keyDown = libevdev_get_event_value(device, EV_KEY, BTN_TOUCH) != 0
        || libevdev_get_event_value(device, EV_KEY, BTN_LEFT) != 0;
    const int slots = libevdev_get_num_slots(device);
    if (slots <= 0 || !libevdev_has_event_code(device, EV_ABS, ABS_MT_POSITION_X)
        || !libevdev_has_event_code(device, EV_ABS, ABS_MT_POSITION_Y))
        return state;
    state.slot = libevdev_get_current_slot(device);
    for (int slot = 0; slot < slots; ++slot)
        state.contacts.push_back({libevdev_get_slot_value(device, static_cast<unsigned>(slot), ABS_MT_TRACKING_ID),
                                  libevdev_get_slot_value(device, static_cast<unsigned>(slot), ABS_MT_POSITION_X),
                                  libevdev_get_slot_value(device, static_cast<unsigned>(slot), ABS_MT_POSITION_Y)});
    return state;
}

} // namespace

EventDevice::EventDevice(int openFd) : fd(openFd), device(openLibevdev(openFd))
{
}

EventDevice::~EventDevice()
{
    if (device)
        libevdev_free(device);
}

EventDevice::Read EventDevice::next(input_event *record)
{
    if (!device) {
        const ssize_t got = ::read(fd, record, sizeof *record);
        if (got == static_cast<ssize_t>(sizeof *record))
            return Read::Record;
        return got < 0 && (errno == EAGAIN || errno == EINTR) ? Read::Empty : Read::Gone;
    }
    while (true) {
        const int status = libevdev_next_event(device, syncing ? LIBEVDEV_READ_FLAG_SYNC : LIBEVDEV_READ_FLAG_NORMAL,
                                               record);
        if (status == LIBEVDEV_READ_STATUS_SUCCESS)
            return Read::Record;
        if (status == LIBEVDEV_READ_STATUS_SYNC) {
            // The first is the SYN_DROPPED itself; the sync records follow until -EAGAIN.
            syncing = true;
            return Read::Record;
        }
        if (status == -EAGAIN && syncing) {
            syncing = false;  // in step again: on with the normal records
            continue;
        }
        if (status == -EAGAIN || status == -EINTR)
            return Read::Empty;
        return Read::Gone;
    }
}

DeviceState EventDevice::state() const
{
    return device ? stateOf(device) : DeviceState{};
}

DeviceState readDeviceState(int fd)
{
    libevdev *device = openLibevdev(fd);
    if (!device)
        return {};
    const DeviceState state = stateOf(device);
    libevdev_free(device);
    return state;
}
