// SPDX-License-Identifier: MIT
#include "DeviceRecords.h"
#include "event_records.h"

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

// A window that stops reading the device leaves its records to the reader after it: the check
// that follows the targets on the same descriptor must see every touch.
class DeviceRecordsTest : public QObject {
    Q_OBJECT

private slots:
    void stoppedItLeavesTheRecordsThatFollowOnTheDescriptor()
    {
        int device[2] = {-1, -1};
        QCOMPARE(::pipe2(device, O_NONBLOCK), 0);
        QObject owner;
        int read = 0;
        DeviceRecords records(device[0], &owner, [&](const input_event &) { ++read; }, [] {});
        const std::string first = EventStream().touch(10, 20).bytes;
        QCOMPARE(::write(device[1], first.data(), first.size()), static_cast<ssize_t>(first.size()));
        QTRY_COMPARE(read, 6);

        records.stop();
        const std::string next = EventStream().touch(30, 40).bytes;
        QCOMPARE(::write(device[1], next.data(), next.size()), static_cast<ssize_t>(next.size()));
        QTest::qWait(200);
        QCOMPARE(read, 6);
        std::string left(next.size() + 1, '\0');
        QCOMPARE(::read(device[0], left.data(), left.size()), static_cast<ssize_t>(next.size()));
        ::close(device[0]);
        ::close(device[1]);
    }
};

QTEST_MAIN(DeviceRecordsTest)
#include "test_device_records.moc"
