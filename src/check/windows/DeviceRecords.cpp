// SPDX-License-Identifier: MIT
#include "DeviceRecords.h"

#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <cerrno>

DeviceRecords::DeviceRecords(int openDevice, QObject *parent,
                             std::function<void(const input_event &)> record,
                             std::function<void()> batch)
    : QObject(parent), device(openDevice),
      notifier(new QSocketNotifier(openDevice, QSocketNotifier::Read, this)),
      onRecord(std::move(record)), onBatch(std::move(batch))
{
    connect(notifier, &QSocketNotifier::activated, this, [this] { readBatch(); });
}

void DeviceRecords::readBatch()
{
    constexpr int kRecordsPerBatch = 256;
    input_event record;
    for (int records = 0;; ++records) {
        if (records == kRecordsPerBatch) {
            notifier->setEnabled(false);
            QTimer::singleShot(10, this, [this] { notifier->setEnabled(true); });
            break;
        }
        const ssize_t got = ::read(device, &record, sizeof record);
        if (got == static_cast<ssize_t>(sizeof record)) {
            onRecord(record);
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        isGone = true;
        notifier->setEnabled(false);
        break;
    }
    onBatch();
}
