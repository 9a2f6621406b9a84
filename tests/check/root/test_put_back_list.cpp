// SPDX-License-Identifier: MIT
#include "put_back_list.h"

#include <QtTest>

#include <csignal>
#include <string>

// What root changed is put back the last first, each once, and a change kept is left alone.
class PutBackListTest : public QObject {
    Q_OBJECT

private slots:
    void putsBackTheLastFirstAndEachOnce()
    {
        PutBackList list;
        std::string order;
        const auto change = [&](char name, bool readsBack, int signal) {
            return list.add([&order, name, readsBack, signal](int *during) {
                order += name;
                *during = signal;
                return readsBack;
            });
        };
        change('m', true, SIGINT);               // the desktop's mapping, before the measurement
        const PutBackList::Id output = change('o', true, 0);  // weston's output while measured
        const PutBackList::Id live = change('x', true, 0);    // set on the running X
        change('r', false, SIGTERM);             // the rules file, which did not read back

        int signal = 0;
        QVERIFY(list.putBack(output, &signal));
        QCOMPARE(order, std::string("o"));
        list.keep(live);  // the re-add that wrote the rules file took it
        QVERIFY(!list.putBackAll("", &signal));
        QCOMPARE(order, std::string("orm"));
        QCOMPARE(signal, SIGTERM);  // the first that came
        QVERIFY(list.empty());

        // Run once: neither the whole list again nor the one put back before does anything.
        QVERIFY(list.putBackAll("", &signal));
        QVERIFY(list.putBack(output, &signal));
        QCOMPARE(order, std::string("orm"));
    }
};

QTEST_GUILESS_MAIN(PutBackListTest)
#include "test_put_back_list.moc"
