// SPDX-License-Identifier: MIT
#include "result_file.h"
#include "safe_file.h"

#include <QtTest>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <sstream>

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
    std::string contents() const
    {
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
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
        // A group besides the file's own: any for root, else one the user is in.
        std::optional<gid_t> group;
        gid_t groups[64];
        const int count = ::getgroups(64, groups);
        for (int i = 0; i < count && !group; ++i)
            if (groups[i] != status().st_gid)
                group = groups[i];
        if (::geteuid() == 0)
            group = 4242;
        if (group)
            QCOMPARE(::chown(path.c_str(), static_cast<uid_t>(-1), *group), 0);
        QCOMPARE(replace("new\n"), std::string());
        QCOMPARE(contents(), std::string("new\n"));
        QCOMPARE(status().st_mode & 07777, mode_t(0640));
        if (group)
            QCOMPARE(status().st_gid, *group);
        if (attributes)
            QCOMPARE(::getxattr(path.c_str(), "user.origin", nullptr, 0), ssize_t(7));

        // A fresh file: nothing taken over from one planted at the name.
        QCOMPARE(saveResultFile(path, "result\n"), std::string());
        QCOMPARE(status().st_mode & 07777, mode_t(0644));
        QCOMPARE(::getxattr(path.c_str(), "user.origin", nullptr, 0), ssize_t(-1));
        if (!attributes || !group)
            QSKIP("no user attributes on this file system, or no second group to keep");
    }

    void aLinkIsNotFollowedAndAHardLinkNotSplit()
    {
        QCOMPARE(::symlink(path.c_str(), dir.filePath("link").toLocal8Bit().constData()), 0);
        const FileRead link = read("link");
        QVERIFY(!link.file.isOpen() && !link.missing);
        QCOMPARE(link.problem, dir.filePath("link").toStdString() + " is a symbolic link: will not write through it");

        QCOMPARE(::link(path.c_str(), dir.filePath("twin").toLocal8Bit().constData()), 0);
        QCOMPARE(read().status.st_nlink, nlink_t(2));
        QCOMPARE(replace("new\n"), "will not replace " + path + ": it has 2 hard links, which a new file would split");
        QCOMPARE(contents(), std::string("old\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({"file", "link", "twin"}));
        ::unlink(dir.filePath("link").toLocal8Bit().constData());
        ::unlink(dir.filePath("twin").toLocal8Bit().constData());
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
