// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_EVENT_DEVICE_H
#define KESTRILAVON_EVENT_DEVICE_H

#include "input/touch_tracker.h"

#include <linux/input.h>

struct libevdev;

// An open event device's records. A kernel event device is read through libevdev, as libinput
// and X's evdev driver read it: libevdev keeps every axis and slot in step, and after the
// kernel drops records (SYN_DROPPED) it hands over, in sync mode, the records that bring a
// reader back in step with the device. Anything else (a FIFO of records, a file) is read as
// plain records, and says nothing of where it stands.
class EventDevice {
public:
    // The descriptor stays the caller's; it must not block.
    explicit EventDevice(int fd);
    ~EventDevice();
    EventDevice(const EventDevice &) = delete;
    EventDevice &operator=(const EventDevice &) = delete;

    enum class Read { Record, Empty, Gone };
    // The next record, or that none waits now, or that the device is gone (unplugged, a short
    // record, the end of a file). After SYN_DROPPED come the sync records, then the rest.
    Read next(input_event *record);

    // Where the device stands, as the records read so far (and a sync) leave it.
    DeviceState state() const;

private:
    int fd;
    libevdev *device = nullptr;
    bool syncing = false;
};

// Where the device stands now, asked through a libevdev of its own. A file or a pipe answers
// nothing: a single-touch device at 0, 0 with nothing down.
DeviceState readDeviceState(int fd);

#endif
