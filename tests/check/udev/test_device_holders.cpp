// SPDX-License-Identifier: MIT
#include "udev/device_holders.h"

#include <QtTest>

#include <fcntl.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

// Who has a device open, seen through /proc as the re-add sees it; /dev/zero stands for the
// event device, being a character device too.
class DeviceHoldersTest : public QObject {
    Q_OBJECT

    const char *const zero = "/dev/zero";

    // A process that is not this one's child (those are left out), holding path open under a
    // name of its choosing; its pid, read from a pipe.
    static pid_t strangerHolding(const char *path, int flags, const char *name)
    {
        int told[2];
        if (::pipe(told) != 0)
            return -1;
        const pid_t middle = ::fork();
        if (middle == 0) {
            if (::fork() == 0) {
                ::prctl(PR_SET_NAME, name);
                const int held = ::open(path, flags);
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

        const pid_t stranger = strangerHolding(zero, O_RDONLY, "evil\x1b]0;x");
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

    // A process of a mount namespace of its own can hold a file of its own under the device's
    // path: the link reads the same, but it does not see the node where this process does.
    void aHolderInAMountNamespaceOfItsOwnIsToldApart()
    {
        QTemporaryDir folder;
        const std::string file = folder.path().toStdString() + "/not-a-device";
        std::FILE *made = std::fopen(file.c_str(), "w");
        QVERIFY(made && std::fclose(made) == 0);
        int told[2];
        QVERIFY(::pipe(told) == 0);
        const pid_t apart = ::fork();
        if (apart == 0) {
            const bool own = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                && ::mount(file.c_str(), zero, nullptr, MS_BIND, nullptr) == 0 && ::open(zero, O_RDONLY) >= 0;
            const char said = own ? 'y' : 'n';
            if (::write(told[1], &said, 1) != 1 || !own)
                _exit(1);
            ::pause();
            _exit(0);
        }
        char said = 0;
        QVERIFY(::read(told[0], &said, 1) == 1);
        ::close(told[0]);
        ::close(told[1]);
        const bool sharesOurs = sharesOurMountNamespace(apart);
        ::kill(apart, SIGKILL);
        ::waitpid(apart, nullptr, 0);
        if (said != 'y')
            QSKIP("cannot make a mount namespace here (needs root)");
        QVERIFY(sharesOurMountNamespace(::getpid()));
        QVERIFY(!sharesOurs);
    }

    // A FUSE mount whose server never answers holds every stat of its files, and of its root,
    // for good: a process holding it must not hold up the search for the device's holders.
    void aStoppedFuseMountHeldByAnotherProcessDoesNotStopTheSearch()
    {
        QTemporaryDir folder;
        const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        const std::string options = "fd=" + std::to_string(fuse) + ",rootmode=40000,user_id=0,group_id=0";
        if (fuse < 0 || ::mount("kestrilavon-test", folder.path().toLocal8Bit().constData(), "fuse", 0,
                                options.c_str()) != 0) {
            if (fuse >= 0)
                ::close(fuse);
            QSKIP("no FUSE mount here (needs root and /dev/fuse)");
        }
        const QByteArray mountPoint = folder.path().toLocal8Bit();
        const pid_t stranger = strangerHolding(mountPoint.constData(), O_PATH, "fuse-holder");
        const pid_t search = ::fork();
        if (search == 0) {
            processesHolding(zero);
            _exit(0);
        }
        int status = 0;
        bool ended = false;
        for (int tick = 0; tick < 100 && !ended; ++tick) {
            ended = ::waitpid(search, &status, WNOHANG) == search;
            if (!ended)
                ::usleep(50 * 1000);
        }
        // Closing the server's end fails what waits on it, so that nothing is left hanging.
        ::kill(search, SIGKILL);
        ::close(fuse);
        ::waitpid(search, nullptr, 0);
        ::kill(stranger, SIGKILL);
        ::umount2(mountPoint.constData(), MNT_DETACH);
        QVERIFY2(ended, "the search for holders waited on the stopped FUSE mount");
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
};

QTEST_GUILESS_MAIN(DeviceHoldersTest)
#include "test_device_holders.moc"
