// SPDX-License-Identifier: MIT
#include "user_session_found.h"

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

    void aUidOfNoUserFindsNoSession()
    {
        std::string problem;
        QVERIFY(!findUserSession(4000000000u, "", &problem));
        QVERIFY(problem.find("names no user") != std::string::npos);
    }
};

QTEST_APPLESS_MAIN(DropToUserTest)
#include "test_drop_to_user.moc"
