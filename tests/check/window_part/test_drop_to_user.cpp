// SPDX-License-Identifier: MIT
#include "user_session_found.h"

#include <QtTest>

#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

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
        session.environment = {"nobody", nobody->pw_dir, std::nullopt, {{"DISPLAY", ":7"}}};
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
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        ::unsetenv("KESTRILAVON_ROOTS_OWN");
        ::close(kept);
        ::close(dropped);
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
