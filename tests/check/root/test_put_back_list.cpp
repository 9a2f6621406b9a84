// SPDX-License-Identifier: MIT
#include "put_back_list.h"

#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

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

    // A signal that comes while a change is put back waits until every one is back, and is then
    // told: ending root there would end with it the user's part that puts a mapping back.
    void aSignalDuringThePutBackWaitsUntilAllAreBack()
    {
        int told[2];
        QVERIFY(::pipe(told) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            PutBackList list;
            list.add([&](int *) { return ::write(told[1], "m", 1) == 1; });
            list.add([&](int *) {
                ::kill(::getpid(), SIGTERM);
                return ::write(told[1], "r", 1) == 1;
            });
            int signal = 0;
            const bool back = list.putBackAll("", &signal);
            const char end[] = {back ? '+' : '-', static_cast<char>('0' + signal)};
            _exit(::write(told[1], end, 2) == 2 ? 0 : 1);
        }
        ::close(told[1]);
        std::string heard;
        char c;
        while (::read(told[0], &c, 1) == 1)
            heard += c;
        ::close(told[0]);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the signal ended it during the put-back");
        QCOMPARE(heard, std::string("rm+") + static_cast<char>('0' + SIGTERM));
    }
};

QTEST_GUILESS_MAIN(PutBackListTest)
#include "test_put_back_list.moc"
