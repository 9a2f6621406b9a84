// SPDX-License-Identifier: MIT
#include "user_part.h"
#include "handover/handover.h"

#include <QtTest>

#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

using namespace std::chrono_literals;

// Root's children run as the user: what root waits for is bounded, and a window part that
// handed over may stay for root's word.
class UserPartTest : public QObject {
    Q_OBJECT

    UserSession nobody;

    static int say(int fd, const std::string &text)
    {
        return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 3;
    }

    static std::string heardLine(int fd)
    {
        std::string line;
        char c = 0;
        while (::read(fd, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

private slots:
    void initTestCase()
    {
        const passwd *user = ::getpwnam("nobody");
        if (::geteuid() != 0 || !user)
            QSKIP("needs root and a user named nobody");
        nobody.uid = user->pw_uid;
        nobody.gid = user->pw_gid;
        nobody.environment = {"nobody", user->pw_dir, std::nullopt, {}};
    }

    // While root keeps what it says in a memory file on its own streams, a part forked then
    // writes into a pipe of root's: the file never reaches it, and its words come back in
    // whole lines, made printable.
    void whileRootKeepsItsReportAPartsStreamsAreAPipeAndNothingOfRootsReachesIt()
    {
        const int report = ::memfd_create("root's report", 0);
        struct stat reportStatus;
        QVERIFY(report >= 0 && ::fstat(report, &reportStatus) == 0);
        const int terminal = ::dup(STDOUT_FILENO);
        QVERIFY(startCollectingUserPartsWords());
        ::dup2(report, STDOUT_FILENO);
        UserPart part(nobody, {}, [&](int fd) {
            bool reached = false;
            for (int open = 0; open < 1024; ++open) {
                struct stat status;
                reached |= ::fstat(open, &status) == 0 && status.st_dev == reportStatus.st_dev
                    && status.st_ino == reportStatus.st_ino;
            }
            const std::string words = "a word \x1b]0;title\x07 and more\nnot ended";
            if (::write(STDOUT_FILENO, words.data(), words.size()) != static_cast<ssize_t>(words.size()))
                return 3;
            return say(fd, reached ? "reached\n" : "apart\n");
        }, false);
        ::dup2(terminal, STDOUT_FILENO);
        ::close(terminal);
        QCOMPARE(part.answer(10s).value_or(""), std::string("apart\n"));
        QCOMPARE(takeUserPartsWords(), std::string("a word ?]0;title? and more\n"));
        stopCollectingUserPartsWords();
        ::close(report);
    }

    void aWindowPartThatHandedOverStaysForRootsWordAndAnswersIt()
    {
        UserPart window(nobody, {}, [](int fd) {
            if (say(fd, "1\n2\n3\n4\n5\n6\n7\n8\n") != 0)
                return 3;
            // Root's word comes after the hand-over, on the same socket; the answer, as the user.
            const std::string word = heardLine(fd);
            return say(fd, word + " as " + std::to_string(::getuid()) + "\n");
        });
        const WindowPartEnd handed = window.handOver(10s, 8);
        QCOMPARE(handed.handover.value_or(""), std::string("1\n2\n3\n4\n5\n6\n7\n8\n"));
        QCOMPARE(handed.status, 0);
        QVERIFY(window.started());
        QVERIFY(window.tell("check 0 17\n"));
        const WindowPartEnd checked = window.handOver(10s);
        QCOMPARE(checked.handover.value_or(""), "check 0 17 as " + std::to_string(nobody.uid) + "\n");
        QCOMPARE(checked.status, 0);
        QVERIFY(!window.started());
        QVERIFY(!window.tell("check 0 17\n"));  // gone: root opens a window of its own
    }

    void aPartThatSaysNothingIsStoppedAndReapedWhenItsTimeIsUp()
    {
        UserPart part(nobody, {}, [](int fd) {
            say(fd, "1\n");
            ::pause();
            return 0;
        });
        const auto start = std::chrono::steady_clock::now();
        const WindowPartEnd end = part.handOver(1500ms, 8);
        QVERIFY(std::chrono::steady_clock::now() - start < 5s);
        QVERIFY(end.timedOut && !end.handover && !part.started());
        QCOMPARE(::waitpid(-1, nullptr, WNOHANG), -1);  // no child of ours is left

        UserPart quiet(nobody, {}, [](int) {
            ::pause();
            return 0;
        });
        QVERIFY(!quiet.answer(1s));
        QCOMPARE(::waitpid(-1, nullptr, WNOHANG), -1);
    }

    void anAnswerBeyondItsLimitOrFromAFailedPartIsNone()
    {
        UserPart flood(nobody, {}, [](int fd) { return say(fd, std::string(200 * 1024, 'x')); });
        QVERIFY(!flood.answer(10s));
        UserPart failed(nobody, {}, [](int fd) {
            say(fd, "ok 31\n");
            return 1;
        });
        QVERIFY(!failed.answer(10s));
        UserPart fine(nobody, {}, [](int fd) { return say(fd, "ok 31\n"); });
        QCOMPARE(fine.answer(10s).value_or(""), std::string("ok 31\n"));
    }

    void aReportGoesWholeAndEndedWhileAPartThatReadsNoneHoldsRootOnlyUntilTheBound()
    {
        UserPart check(nobody, {}, [](int fd) {
            if (say(fd, "kestrilavon-touch-check 1\nkept 0\n") != 0)
                return 3;
            std::string report;
            char buffer[4096];
            for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
                report.append(buffer, static_cast<size_t>(got));
            return say(fd, std::to_string(report.size()) + "\n");
        });
        QCOMPARE(check.handOver(10s, 2).status, 0);
        const std::string report(kReportLimit, 'r');  // more than a socket holds at once
        QVERIFY(check.tellLast(report, 10s));
        QCOMPARE(check.handOver(10s).handover.value_or(""), std::to_string(report.size()) + "\n");

        UserPart deaf(nobody, {}, [](int fd) {
            say(fd, "a\nb\n");
            ::pause();
            return 0;
        });
        QCOMPARE(deaf.handOver(10s, 2).status, 0);
        const auto start = std::chrono::steady_clock::now();
        QVERIFY(!deaf.tellLast(std::string(8 * kReportLimit, 'r'), 1s));
        QVERIFY(std::chrono::steady_clock::now() - start < 3s);
    }

    // Last: it leaves a held signal noted until its end.
    void aHandOverInPiecesIsReadWholeAndAHeldSignalEndsOnlyTheWindowsWait()
    {
        UserPart window(nobody, {}, [](int fd) {
            say(fd, "1\n2\n3\n");
            ::usleep(300 * 1000);
            say(fd, "4\n5\n6\n7\n8\n");
            heardLine(fd);
            return 0;
        });
        QCOMPARE(window.handOver(10s, 8).handover.value_or(""), std::string("1\n2\n3\n4\n5\n6\n7\n8\n"));

        const HeldUntilRestored held;
        ::raise(SIGTERM);
        QCOMPARE(held.signal(), SIGTERM);
        const auto start = std::chrono::steady_clock::now();
        QVERIFY(window.tell("check 0 17\n"));
        const WindowPartEnd end = window.handOver(10s);
        QVERIFY(std::chrono::steady_clock::now() - start < 2s);  // the old calibration comes back sooner
        QVERIFY(!end.handover && !end.timedOut && !window.started());
        // What sets or reads the session is not cut short by it.
        UserPart setter(nobody, {}, [](int fd) {
            ::usleep(500 * 1000);
            return say(fd, "ok 31\n");
        }, false);
        QCOMPARE(setter.answer(10s).value_or(""), std::string("ok 31\n"));
        forgetHeldSignal();
    }
};

QTEST_APPLESS_MAIN(UserPartTest)
#include "test_user_part.moc"
