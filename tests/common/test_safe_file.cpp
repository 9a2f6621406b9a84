// SPDX-License-Identifier: MIT
#include "result_file.h"
#include "safe_file.h"

#include <QtTest>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>

class SafeFileTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    Descriptor folder;
    std::string path;

    FileRead read(const char *name = "file") const
    {
        return readFileAt(folder.get(), name, dir.filePath(name).toStdString(), {4096, "a test file", false, true});
    }
    std::string replace(const std::string &text) const
    {
        const FileRead old = read();
        return replaceFileAt(folder.get(), dir.path().toStdString(), "file", text, &old).line;
    }
    struct stat status() const
    {
        struct stat status {};
        ::lstat(path.c_str(), &status);
        return status;
    }

private slots:
    void init()
    {
        folder = openFolder(dir.path().toStdString());
        path = dir.filePath("file").toStdString();
        ::unlink(path.c_str());
        std::ofstream(path) << "old\n";
        QCOMPARE(::chmod(path.c_str(), 0640), 0);
    }

    void theModeGroupAndAttributesAreKeptButNotByTheResultFile()
    {
        const bool attributes = ::setxattr(path.c_str(), "user.origin", "by hand", 7, 0) == 0;
        const bool root = ::geteuid() == 0;
        QVERIFY(!root || ::chown(path.c_str(), 0, 4242) == 0);
        QCOMPARE(replace("new\n"), std::string());
        QCOMPARE(read().text, std::string("new\n"));
        QCOMPARE(status().st_mode & 07777, mode_t(0640));
        QVERIFY(!root || status().st_gid == 4242);
        if (attributes)
            QCOMPARE(::getxattr(path.c_str(), "user.origin", nullptr, 0), ssize_t(7));
        // A fresh file: nothing taken over from one planted at the name.
        QCOMPARE(saveResultFile(path, "result\n"), std::string());
        QCOMPARE(status().st_mode & 07777, mode_t(0644));
        QCOMPARE(::getxattr(path.c_str(), "user.origin", nullptr, 0), ssize_t(-1));
        if (!attributes || !root)
            QSKIP("only root may give a file another group; user attributes need a file system keeping them");
    }

    void aLinkIsNotFollowedAndAHardLinkNotSplit()
    {
        const std::string link = dir.filePath("link").toStdString(), twin = dir.filePath("twin").toStdString();
        QCOMPARE(::symlink(path.c_str(), link.c_str()), 0);
        QCOMPARE(read("link").problem, link + " is a symbolic link: will not write through it");
        QCOMPARE(::link(path.c_str(), twin.c_str()), 0);
        QCOMPARE(read().status.st_nlink, nlink_t(2));
        QCOMPARE(replace("new\n"), "will not replace " + path + ": it has 2 hard links, which a new file would split");
        QCOMPARE(read().text, std::string("old\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({"file", "link", "twin"}));
    }

    void theSameTextWritesNothing()
    {
        const struct stat before = status();
        QCOMPARE(replace("old\n"), std::string());
        QCOMPARE(status().st_ino, before.st_ino);
        QCOMPARE(status().st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        QCOMPARE(replace("new\n"), std::string());
        QVERIFY(status().st_ino != before.st_ino);
    }
};

QTEST_APPLESS_MAIN(SafeFileTest)
#include "test_safe_file.moc"
