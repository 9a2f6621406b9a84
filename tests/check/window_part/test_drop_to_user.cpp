// SPDX-License-Identifier: MIT
#include "unprivileged_session.h"
#include "user_session_found.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

// The window part's drop, as root makes it in a forked child: nothing of root's is left.
class DropToUserTest : public QObject {
    Q_OBJECT

private slots:
    void theChildBecomesTheUserForGoodWithOnlyTheKeptDescriptorsAndTheUsersEnvironment()
    {
        const passwd *nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || !nobody)
            QSKIP("needs root and a user named nobody");
        UserSession session;
        session.uid = nobody->pw_uid;
        session.gid = nobody->pw_gid;
        // Root alone hands nobody the X cookie on a sealed descriptor, and the framebuffer's group.
        session.displayGroup = 44;
        session.cookieFd = ::memfd_create("cookie", MFD_CLOEXEC);
        QCOMPARE(::write(session.cookieFd, "cookie", 6), ssize_t(6));
        const std::string cookie = "/proc/self/fd/" + std::to_string(session.cookieFd);
        session.environment = {"nobody", nobody->pw_dir, std::nullopt, {{"DISPLAY", ":7"}, {"XAUTHORITY", cookie}}};
        const int kept = ::open("/dev/null", O_RDONLY | O_CLOEXEC), dropped = ::open("/dev/null", O_RDONLY);
        ::setenv("KESTRILAVON_ROOTS_OWN", "1", 1);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            std::string problem;
            // Each check its own exit status, so that a failure says which.
            if (!dropToUser(session, {kept}, &problem))
                ::_exit(10);
            if (::getuid() != nobody->pw_uid || ::geteuid() != nobody->pw_uid || ::getegid() != nobody->pw_gid)
                ::_exit(11);
            if (::setuid(0) == 0 || ::seteuid(0) == 0)
                ::_exit(12);
            if (::fcntl(kept, F_GETFD) < 0 || ::fcntl(dropped, F_GETFD) >= 0)
                ::_exit(13);
            if (std::getenv("KESTRILAVON_ROOTS_OWN") || !std::getenv("DISPLAY") || std::getenv("XDG_RUNTIME_DIR")
                || std::string(std::getenv("USER")) != "nobody")
                ::_exit(14);
            gid_t groups[64];
            const std::vector<gid_t> held(groups, groups + std::max(::getgroups(64, groups), 0));
            if (std::count(held.begin(), held.end(), 44u) != 1 || std::count(held.begin(), held.end(), 0u) != 0)
                ::_exit(15);
            char read[8] = {};
            const int fd = ::open(std::getenv("XAUTHORITY"), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::read(fd, read, sizeof read) != 6 || std::string(read) != "cookie")
                ::_exit(16);
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        ::unsetenv("KESTRILAVON_ROOTS_OWN");
        ::close(kept);
        ::close(dropped);
        ::close(session.cookieFd);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    // tslib's files for the check run as the user: read through the copy where they lie in a
    // folder closed to that user, and never changed through it.
    void aSealedCopyIsReadAfterTheDropAndChangesNothing()
    {
        const passwd *nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || !nobody)
            QSKIP("needs root and a user named nobody");
        QTemporaryDir folder;
        const std::string path = folder.path().toStdString() + "/pointercal", line = "1 0 0 0 1 0 1 1280 800 0\n";
        const auto written = [](const std::string &name, const std::string &text) {
            std::FILE *file = std::fopen(name.c_str(), "w");
            return file && std::fputs(text.c_str(), file) >= 0 && std::fclose(file) == 0;
        };
        QVERIFY(written(path, line));
        std::string problem;
        const int copy = sealedCopyOf(path, &problem);
        QVERIFY2(copy >= 0, problem.c_str());
        UserSession session;
        session.uid = nobody->pw_uid;
        session.gid = nobody->pw_gid;
        session.environment = {"nobody", nobody->pw_dir, std::nullopt, {}};
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            if (!dropToUser(session, {copy}, &problem))
                ::_exit(10);
            if (::open(path.c_str(), O_RDONLY | O_CLOEXEC) >= 0)
                ::_exit(11);
            char read[64] = {};
            const int fd = ::open(("/proc/self/fd/" + std::to_string(copy)).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::read(fd, read, sizeof read) != ssize_t(line.size()) || read != line)
                ::_exit(12);
            if (::write(copy, "2", 1) >= 0 || ::ftruncate(copy, 0) == 0)
                ::_exit(13);
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        ::close(copy);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        // No copy of a folder, of what is missing, or of more than a configuration file holds.
        const std::string big = path + ".big";
        QVERIFY(written(big, "") && ::truncate(big.c_str(), 64 * 1024 + 1) == 0);
        for (const std::string &refused : {folder.path().toStdString(), path + ".missing", big}) {
            problem.clear();
            QVERIFY2(sealedCopyOf(refused, &problem) < 0 && !problem.empty(), refused.c_str());
        }
    }

    void aUidOfNoUserFindsNoSession()
    {
        std::string problem;
        QVERIFY(!findUserSession(4000000000u, "", &problem));
        QVERIFY(problem.find("names no user") != std::string::npos);
    }
};

QTEST_APPLESS_MAIN(DropToUserTest)
#include "test_drop_to_user.moc"
