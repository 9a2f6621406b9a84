// SPDX-License-Identifier: MIT
#include "desktops/unchecked_compositors.h"
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
};

QTEST_GUILESS_MAIN(ReadBackLimitsTest)
#include "test_read_back_limits.moc"
