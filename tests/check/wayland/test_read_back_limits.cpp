// SPDX-License-Identifier: MIT
#include "desktops/unchecked_compositors.h"
#include "sway_ipc.h"

#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// What the read-back after a re-add may wait for, and what it says it could not check.
class ReadBackLimitsTest : public QObject {
    Q_OBJECT
    QTemporaryDir folder;

private slots:
    // A sway that hangs: its socket takes every connection and never answers.
    void aSilentSwayHoldsACallTwoSecondsAndTheReadBackItsTotal()
    {
        sockaddr_un address{AF_UNIX, {}};
        const std::string path = folder.filePath("sway.sock").toStdString();
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(::bind(listening, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && ::listen(listening, 8) == 0);
        ::setenv("SWAYSOCK", path.c_str(), 1);
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
