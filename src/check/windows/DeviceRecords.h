// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_DEVICERECORDS_H
#define KESTRILAVON_DEVICERECORDS_H

#include "input/event_device.h"

#include <QObject>

#include <linux/input.h>

#include <functional>

class QSocketNotifier;

// An open event device, read whenever the event loop finds it readable and never waited on:
// each whole record goes to onRecord, then onBatch runs once (to repaint). A device that never
// runs dry (a fast writer, or /dev/zero given as the device) must not keep the window from its
// own events, so after a batch of records the window has its turn first; libevdev keeps
// records of its own, so the next batch then comes whether or not the descriptor has more.
// End of file, a short record or an error such as ENODEV mean the device is gone: no more
// reading.
class DeviceRecords : public QObject {
public:
    DeviceRecords(int device, QObject *parent, std::function<void(const input_event &)> onRecord,
                  std::function<void()> onBatch);

    bool gone() const { return isGone; }
    // Reads no more: another reader of the same descriptor takes the records from here on.
    void stop();
    // Where the device stands, as the records read so far leave it.
    DeviceState state() const { return device.state(); }

private:
    void readBatch();

    EventDevice device;
    QSocketNotifier *notifier;
    std::function<void(const input_event &)> onRecord;
    std::function<void()> onBatch;
    bool isGone = false;
    bool stopped = false;
};

#endif
