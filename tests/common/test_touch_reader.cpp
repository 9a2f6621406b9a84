// SPDX-License-Identifier: MIT
#include "event_records.h"
#include "touch_reader.h"

#include <QtTest>

#include <unistd.h>

#include <cstdio>
#include <thread>

class TouchReaderTest : public QObject {
    Q_OBJECT

    // The stream is read from a real file, the way a device is read.
    static TouchSample readFromFile(const EventStream &stream, StartPosition start = {})
    {
        std::FILE *file = std::tmpfile();
        std::fwrite(stream.bytes.data(), 1, stream.bytes.size(), file);
        std::rewind(file);
        const TouchSample sample = readTouchSample(file, start);
        std::fclose(file);
        return sample;
    }

private slots:
    void recordsHaveThePlatformLayout()
    {
        QCOMPARE(EventStream().x(1).bytes.size(), sizeof(input_event));
        QCOMPARE(sizeof(input_event), size_t(24));  // x86_64: two 8-byte time fields
    }

    void releaseWithAGoodPositionTakesTheSample()
    {
        const TouchSample sample = readFromFile(EventStream().x(500).y(600).release());
        QVERIFY(sample.accepted);
        QCOMPARE(sample.x, 500);
        QCOMPARE(sample.y, 600);
        QCOMPARE(sample.records, 3u);
    }

    void theLastPositionBeforeTheReleaseCounts()
    {
        const TouchSample sample =
            readFromFile(EventStream().press().x(100).y(100).syn().x(120).syn().y(140).release());
        QVERIFY(sample.accepted);
        QCOMPARE(sample.x, 120);
        QCOMPARE(sample.y, 140);
    }

    void withoutAReleaseAGoodPositionIsTakenOnlyFromThe51stRecord()
    {
        EventStream stream;
        stream.release().x(500).y(600);
        stream.syn(60);
        const TouchSample sample = readFromFile(stream);
        QVERIFY(sample.accepted);
        QCOMPARE(sample.records, 51u);
        QCOMPARE(sample.x, 500);
        QCOMPARE(sample.y, 600);
    }

    void aReleaseOutOfRangeIsForgotten()
    {
        // Released with no Y yet: reading goes on, and a later release takes the sample.
        EventStream stream;
        stream.x(700).release().syn(3).y(800).release();
        const TouchSample sample = readFromFile(stream);
        QVERIFY(sample.accepted);
        QCOMPARE(sample.records, 7u);
        QCOMPARE(sample.y, 800);
    }

    void rangeLimitsOnBothAxes_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("1999,1") << 1999 << 1 << true;
        QTest::newRow("1,1999") << 1 << 1999 << true;
        QTest::newRow("x 0") << 0 << 600 << false;
        QTest::newRow("x 2000") << 2000 << 600 << false;
        QTest::newRow("y 0") << 600 << 0 << false;
        QTest::newRow("y 2000") << 600 << 2000 << false;
        QTest::newRow("negative") << -5 << 600 << false;
    }
    void rangeLimitsOnBothAxes()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(bool, accepted);
        EventStream stream;
        stream.x(x).y(y).release();
        stream.syn(1600);
        const TouchSample sample = readFromFile(stream);
        QCOMPARE(sample.accepted, accepted);
        QCOMPARE(sample.records, accepted ? 3u : 1501u);
    }

    void theLimitIs1501Records_data()
    {
        QTest::addColumn<int>("goodAt");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("good position in record 1501") << 1501 << true;
        QTest::newRow("good position in record 1502") << 1502 << false;
    }
    void theLimitIs1501Records()
    {
        QFETCH(int, goodAt);
        QFETCH(bool, accepted);
        EventStream stream;
        stream.y(600);
        stream.syn(goodAt - 2);
        stream.x(500);
        stream.syn(10);
        const TouchSample sample = readFromFile(stream);
        QCOMPARE(sample.accepted, accepted);
        QCOMPARE(sample.records, 1501u);
    }

    void synchronisationOnlyGivesUp()
    {
        EventStream stream;
        stream.syn(2000);
        const TouchSample sample = readFromFile(stream);
        QVERIFY(!sample.accepted);
        QCOMPARE(sample.records, 1501u);
    }

    void endOfFileReadsAsRecordsOfNoKnownType()
    {
        QVERIFY(!readFromFile(EventStream()).accepted);
        // A good position followed by end of file is still taken from the 51st record on.
        const TouchSample sample = readFromFile(EventStream().x(500).y(600));
        QVERIFY(sample.accepted);
        QCOMPARE(sample.records, 51u);
    }

    void aFingerHeldStillIsTakenFromWhereTheReadStarts()
    {
        // No position record at all: only the release, as from a finger that did not move.
        const TouchSample still = readFromFile(EventStream().syn().release(), {700, 800});
        QVERIFY(still.accepted);
        QCOMPARE(still.x, 700);
        QCOMPARE(still.y, 800);
        QCOMPARE(still.records, 2u);
        // The start alone ends nothing early, and a position read replaces it.
        EventStream stream;
        stream.x(900);
        stream.syn(60);
        const TouchSample moved = readFromFile(stream, {700, 800});
        QCOMPARE(moved.records, 51u);
        QCOMPARE(moved.x, 900);
        QCOMPARE(moved.y, 800);
        // Out of range at the start: the release is forgotten as before.
        QCOMPARE(readFromFile(EventStream().release().x(5).y(5).release(), {0, 800}).records, 4u);
    }

    void onlyAnInputDeviceIsAskedWhereTheTouchIs()
    {
        std::FILE *file = std::tmpfile();
        const StartPosition start = currentPosition(fileno(file));
        std::fclose(file);
        QCOMPARE(start.x, 0);
        QCOMPARE(start.y, 0);
    }

    void otherKeysAndPressesDoNotEndTheTouch()
    {
        EventStream stream;
        stream.x(500).y(600).press().record(EV_KEY, BTN_TOUCH, 0).record(EV_KEY, BTN_RIGHT, 0)
            .record(EV_ABS, ABS_PRESSURE, 0);
        stream.syn(100);
        QCOMPARE(readFromFile(stream).records, 51u);
    }

    void readsFromAPipeWhoseWriterLeavesMidTouch()
    {
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        EventStream stream;
        stream.press().x(300).y(400);
        // Half a record, then the writer goes away.
        const std::string bytes = stream.bytes + EventStream().release().bytes.substr(0, 10);
        std::thread writer([&] {
            QCOMPARE(::write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
            ::close(fds[1]);
        });
        std::FILE *device = ::fdopen(fds[0], "rb");
        const TouchSample sample = readTouchSample(device);
        std::fclose(device);
        writer.join();
        // The release never arrived whole; the position is taken at record 51 all the same.
        QVERIFY(sample.accepted);
        QCOMPARE(sample.records, 51u);
        QCOMPARE(sample.x, 300);
    }

    void aPipeDeliversRecordsAsTheyComeAndAReleaseEndsTheRead()
    {
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        std::thread writer([&] {
            for (const EventStream &part : {EventStream().press(), EventStream().x(800).syn(),
                                            EventStream().y(900).syn(), EventStream().release()}) {
                QCOMPARE(::write(fds[1], part.bytes.data(), part.bytes.size()),
                         ssize_t(part.bytes.size()));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        std::FILE *device = ::fdopen(fds[0], "rb");
        const TouchSample sample = readTouchSample(device);
        writer.join();
        std::fclose(device);
        ::close(fds[1]);
        QVERIFY(sample.accepted);
        QCOMPARE(sample.x, 800);
        QCOMPARE(sample.y, 900);
        QCOMPARE(sample.records, 6u);
    }
};

QTEST_APPLESS_MAIN(TouchReaderTest)
#include "test_touch_reader.moc"
