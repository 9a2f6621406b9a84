// SPDX-License-Identifier: MIT
#include "desktops/kwin_input.h"
#include "desktops/unchecked_compositors.h"
#include "kwin_dbus.h"
#include "sway_ipc.h"

#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace {

// A sway that answers each of `calls` requests on its own connection: success to a command, and
// its one input with a matrix no command changes.
void deafSway(int listening, int calls)
{
    for (int call = 0; call < calls; ++call) {
        const int fd = ::accept(listening, nullptr, nullptr);
        char header[14];
        std::uint32_t fields[2];
        ::recv(fd, header, sizeof header, MSG_WAITALL);
        std::memcpy(fields, header + 6, sizeof fields);
        std::string payload(fields[0], ' ');
        if (!payload.empty())  // an empty read would wait for the end of the connection
            ::recv(fd, payload.data(), payload.size(), MSG_WAITALL);
        const std::string reply = fields[1] == 0 ? "[{\"success\": true}]"
            : "[{\"name\": \"panel\", \"libinput\": {\"calibration_matrix\": [2, 0, 0, 0, 2, 0]}}]";
        fields[0] = static_cast<std::uint32_t>(reply.size());
        std::memcpy(header + 6, fields, sizeof fields);
        ::send(fd, header, sizeof header, MSG_NOSIGNAL);
        ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        ::close(fd);
    }
}

} // namespace

// What the read-back after a re-add may wait for, and what it says it could not check.
class ReadBackLimitsTest : public QObject {
    Q_OBJECT
    QTemporaryDir folder;

    // A listening socket in the folder, named as SWAYSOCK; -1 where it cannot be made.
    int swaySocketAt(const char *name)
    {
        sockaddr_un address{AF_UNIX, {}};
        const std::string path = folder.filePath(name).toStdString();
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(listening, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(listening, 8) != 0)
            return -1;
        ::setenv("SWAYSOCK", path.c_str(), 1);
        return listening;
    }

private slots:
    // A sway that hangs: its socket takes every connection and never answers.
    void aSilentSwayHoldsACallTwoSecondsAndTheReadBackItsTotal()
    {
        const int listening = swaySocketAt("sway.sock");
        QVERIFY(listening >= 0);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!swayMatrixOf(DeviceInfo{}));
        const qint64 call = timer.restart();
        QVERIFY(!swayReadBack(DeviceInfo{}, "1 0 0 0 1 0", std::chrono::seconds(3)));
        const qint64 readBack = timer.elapsed();
        QVERIFY2(call > 1900 && call < 2500 && readBack > 2900 && readBack < 3500,
                 qPrintable(QString("%1 ms, %2 ms").arg(call).arg(readBack)));
        ::close(listening);
    }

    // sway answers success but still shows another matrix: not back, and how to finish it.
    void swaysOldMatrixIsBackOnlyWhenReadBack()
    {
        const int listening = swaySocketAt("deaf.sock");
        QVERIFY(listening >= 0);
        DeviceInfo panel;
        panel.name = "panel";
        std::thread sway(deafSway, listening, 3);
        const std::string said = restoreSway(panel, {"0:0:panel", "1 0 0.5 0 1 0", true});
        sway.join();
        ::close(listening);
        QCOMPARE(QString::fromStdString(said),
                 QString("sway's input shows 2 0 0 0 2 0. Finish it by hand: swaymsg 'input \"0:0:panel\" "
                         "calibration_matrix 1 0 0.5 0 1 0'; swaymsg 'input \"0:0:panel\" map_to_output *'"));
    }

    void theCompositorsThatHeldTheDeviceAreNamedWithTheLiveViewsCommand()
    {
        QCOMPARE(uncheckedCompositors({"systemd-logind", "kwin_wayland", "weston", "Xorg"}),
                 (std::vector<std::string>{"weston", "KWin"}));
        QCOMPARE(notCheckedLine("KWin", "/dev/input/a b"),
                 std::string("What KWin uses was not checked: touch the screen in kestrilavon-check '/dev/input/a b'\n"));
    }

    // KWin sends libinput's matrix as the first two rows of a 4x4 one, row by row.
    void kwinsFourByFourGivesLibinputsSixNumbersInOrder()
    {
        const std::optional<Matrix> matrix = matrixFromKWin({0.5, 0.1, 0.25, 0, 0.2, 0.6, 0.125, 0, 0, 0, 1, 0, 0, 0, 0, 1});
        QVERIFY(matrix);
        QCOMPARE(matrix->text(), std::string("0.5 0.1 0.25 0.2 0.6 0.125"));
        QVERIFY(!matrixFromKWin({0.5, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
        QVERIFY(!matrixFromKWin({1, 0, 0, 0, 0, 1, 0, 0, 0.5, 0, 1, 0, 0, 0, 0, 1}));
        QCOMPARE(kwinDeviceObject("/dev/input/event12"), std::string("/org/kde/KWin/InputDevice/event12"));
        QCOMPARE(kwinDeviceObject("/dev/input/event1/../mouse0"), std::string());
    }

    // Root takes from the user's part only the one line it writes, and says what it saw.
    void kwinsAnswerIsCheckedByRootAndOnlyItsOwnOverrideFails()
    {
        const Matrix udevs = *Matrix::parse("1.1 0 -0.05 0 1.2 -0.1");
        const std::optional<KWinAnswer> same = readKWinAnswer(kwinAnswerText({Matrix::parse("1.1 0 -0.05 0 1.2 -0.1000001"), {}}));
        bool ok = true;
        QCOMPARE(kwinReadBackLine(same, udevs, &ok), std::string("KWin reads it now.\n"));
        QVERIFY(ok);
        const std::string line = kwinReadBackLine(readKWinAnswer("matrix 1 0 0 0 1 0\n"), udevs, &ok);
        QVERIFY(!ok);
        QVERIFY2(line.rfind("KWin uses 1 0 0 0 1 0, not udev's matrix: KWin's own calibration", 0) == 0, line.c_str());
        QCOMPARE(std::count(line.begin(), line.end(), '\n'), 1);
        for (const char *refused : {"matrix 1 0 0 0 1\n", "matrix 1 0 0 0 1 0\nmatrix 1 0 0 0 1 0\n", "unseen \n",
                                    "seen 1 0 0 0 1 0\n", "matrix 1 0 0 0 1 0"})
            QVERIFY2(!readKWinAnswer(refused), refused);
        ok = true;
        QCOMPARE(kwinReadBackLine(readKWinAnswer(kwinAnswerText({std::nullopt, "no\x1b[2Jbus"})), udevs, &ok),
                 std::string("What KWin uses was not checked: no?[2Jbus.\n"));
        QCOMPARE(kwinReadBackLine(std::nullopt, udevs, &ok),
                 std::string("KWin's answer did not come, or not in its form: what it uses was not checked.\n"));
        QVERIFY(ok);
    }

    // Without the session's bus the user's part says so at once: it never launches one.
    void kwinIsNotAskedWithoutTheSessionsBus()
    {
        const QByteArray runtime = folder.filePath("runtime").toLocal8Bit();
        QVERIFY(QDir().mkpath(folder.filePath("runtime")));
        ::setenv("XDG_RUNTIME_DIR", runtime.constData(), 1);
        QElapsedTimer timer;
        timer.start();
        const KWinAnswer answer = askKWinMatrix("/dev/input/event3", Matrix::identity(), std::chrono::seconds(3));
        QVERIFY(timer.elapsed() < 1000);
        QVERIFY(!answer.matrix);
        QCOMPARE(answer.unseen, std::string("the session's bus ($XDG_RUNTIME_DIR/bus) does not answer"));
        QCOMPARE(QDir(folder.filePath("runtime")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }
};

QTEST_GUILESS_MAIN(ReadBackLimitsTest)
#include "test_read_back_limits.moc"
