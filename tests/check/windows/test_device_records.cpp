// SPDX-License-Identifier: MIT
#include "DeviceRecords.h"
#include "event_records.h"

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

class DeviceRecordsTest : public QObject {
    Q_OBJECT

private slots:
    // A window that stops reading between two batches of a long run leaves the next batch, and
    // what comes later, to the check that reads the same descriptor after it.
    void stoppedItLeavesTheRestOnTheDescriptor()
    {
        int device[2] = {-1, -1};
        QCOMPARE(::pipe2(device, O_NONBLOCK), 0);
        EventStream records;
        for (int i = 0; i < 300; ++i)
            records.x(i);
        records.touch(30, 40);  // six more
        int taken = 0;
        QObject owner;
        DeviceRecords *reader = nullptr;
        reader = new DeviceRecords(device[0], &owner, [&](const input_event &) { ++taken; }, [&] {
            if (taken == 256)
                reader->stop();
        });
        QCOMPARE(::write(device[1], records.bytes.data(), records.bytes.size()), ssize_t(records.bytes.size()));
        QTRY_COMPARE(taken, 256);
        QTest::qWait(200);
        QCOMPARE(taken, 256);
        QCOMPARE(::read(device[0], records.bytes.data(), records.bytes.size()), ssize_t(50 * sizeof(input_event)));
        ::close(device[0]);
        ::close(device[1]);
    }
};

QTEST_MAIN(DeviceRecordsTest)
#include "test_device_records.moc"
