// SPDX-License-Identifier: MIT
#include "udev/device_holders.h"

#include <QtTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Who has a device open, seen through /proc as the re-add sees it; /dev/zero stands for the
// event device, being a character device too.
class DeviceHoldersTest : public QObject {
    Q_OBJECT

    dev_t zero = 0;

    // A process that is not this one's child (those are left out), holding /dev/zero open
    // under a name of its choosing; its pid, read from a pipe.
    static pid_t strangerHoldingZero(const char *name)
    {
        int told[2];
        if (::pipe(told) != 0)
            return -1;
        const pid_t middle = ::fork();
        if (middle == 0) {
            if (::fork() == 0) {
                ::prctl(PR_SET_NAME, name);
                const int held = ::open("/dev/zero", O_RDONLY);
                const pid_t self = ::getpid();
                if (held < 0 || ::write(told[1], &self, sizeof self) != sizeof self)
                    _exit(1);
                ::pause();
                _exit(0);
            }
            _exit(0);
        }
        ::waitpid(middle, nullptr, 0);
        pid_t stranger = -1;
        if (::read(told[0], &stranger, sizeof stranger) != sizeof stranger)
            stranger = -1;
        ::close(told[0]);
        ::close(told[1]);
        return stranger;
    }

private slots:
    void initTestCase()
    {
        struct stat node;
        QVERIFY(::stat("/dev/zero", &node) == 0);
        zero = node.st_rdev;
    }

    // Our own descriptor counts only while open; a stranger's is found, and the name it chose
    // reaches the report escaped (asked while it lives); one that kept it open is not named.
    void holdersAreFoundByTheirDescriptorsAndNamedEscaped()
    {
        const std::string mine = fdFolderOf(::getpid());
        const bool before = holdsDevice(mine.c_str(), zero);
        const int held = ::open("/dev/zero", O_RDONLY | O_CLOEXEC);
        QVERIFY(held >= 0 && holdsDevice(mine.c_str(), zero));
        ::close(held);
        QCOMPARE(holdsDevice(mine.c_str(), zero), before);
        QVERIFY(!holdsDevice("/proc/0/fd", zero));

        const pid_t stranger = strangerHoldingZero("evil\x1b]0;x");
        QVERIFY(stranger > 0);
        const std::vector<pid_t> found = processesHolding(zero);
        const std::string report = holdersReport({{stranger, HolderOutcome::NotOpenedAgain},
                                                  {::getpid(), HolderOutcome::OpenedAgain},
                                                  {1, HolderOutcome::KeptOpen}}, 10);
        ::kill(stranger, SIGKILL);
        QVERIFY(std::find(found.begin(), found.end(), stranger) != found.end());
        QVERIFY(std::find(found.begin(), found.end(), ::getpid()) == found.end());
        QVERIFY(report.find("within 10 s by evil?]0;x (pid " + std::to_string(stranger) + ")") != std::string::npos);
        QVERIFY(report.find("Opened again after the re-add by " + processName(::getpid())) == 0);
        QVERIFY(report.find("(pid 1)") == std::string::npos);
    }
};

QTEST_GUILESS_MAIN(DeviceHoldersTest)
#include "test_device_holders.moc"
