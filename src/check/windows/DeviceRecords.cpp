// SPDX-License-Identifier: MIT
#include "DeviceRecords.h"

#include <QSocketNotifier>
#include <QTimer>


DeviceRecords::DeviceRecords(int openDevice, QObject *parent,
                             std::function<void(const input_event &)> record,
                             std::function<void()> batch)
    : QObject(parent), device(openDevice),
      notifier(new QSocketNotifier(openDevice, QSocketNotifier::Read, this)),
      onRecord(std::move(record)), onBatch(std::move(batch))
{
    connect(notifier, &QSocketNotifier::activated, this, [this] { readBatch(); });
}

void DeviceRecords::stop()
{
    stopped = true;
    notifier->setEnabled(false);
}

void DeviceRecords::readBatch()
{
    constexpr int kRecordsPerBatch = 256;
    input_event record;
    for (int records = 0; !stopped; ++records) {
        if (records == kRecordsPerBatch) {
            notifier->setEnabled(false);
            QTimer::singleShot(10, this, [this] {
                if (stopped)
                    return;
                notifier->setEnabled(true);
                readBatch();
            });
            break;
        }
        const EventDevice::Read read = device.next(&record);
        if (read == EventDevice::Read::Record) {
            onRecord(record);
            continue;
        }
        if (read == EventDevice::Read::Gone) {
            isGone = true;
            notifier->setEnabled(false);
        }
        break;
    }
    onBatch();
}
