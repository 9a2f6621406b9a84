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

    int device[2] = {-1, -1};  // a pipe: the device's records
    int taken = 0;
    std::unique_ptr<DeviceRecords> records;

    void send(const std::string &bytes)
    {
        QCOMPARE(::write(device[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // What is left on the descriptor for the next reader, in records.
    int left()
    {
        input_event record;
        int count = 0;
        while (::read(device[0], &record, sizeof record) == static_cast<ssize_t>(sizeof record))
            ++count;
        return count;
    }

private slots:
    void init()
    {
        QCOMPARE(::pipe2(device, O_NONBLOCK), 0);
        taken = 0;
    }

    void cleanup()
    {
        records.reset();
        ::close(device[0]);
        ::close(device[1]);
    }

    void stoppedItLeavesTheRecordsThatFollow()
    {
        records = std::make_unique<DeviceRecords>(device[0], nullptr, [this](const input_event &) { ++taken; }, [] {});
        send(EventStream().touch(10, 20).bytes);
        QTRY_COMPARE(taken, 6);
        records->stop();
        send(EventStream().touch(30, 40).bytes);
        QTest::qWait(200);
        QCOMPARE(taken, 6);
        QCOMPARE(left(), 6);
    }

    // A long run is read in batches, the next one after the window's turn: stopped between two,
    // the next batch is not read either.
    void stoppedBetweenTwoBatchesItReadsNoMore()
    {
        EventStream many;
        for (int i = 0; i < 300; ++i)
            many.x(i);
        send(many.bytes);
        records = std::make_unique<DeviceRecords>(device[0], nullptr, [this](const input_event &) { ++taken; }, [this] {
            if (taken == 256)
                records->stop();
        });
        QTRY_COMPARE(taken, 256);
        QTest::qWait(200);
        QCOMPARE(taken, 256);
        QCOMPARE(left(), 44);
    }
};

QTEST_MAIN(DeviceRecordsTest)
#include "test_device_records.moc"
