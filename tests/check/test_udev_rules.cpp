// SPDX-License-Identifier: MIT
#include "udev_rules.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

// The rules file as --install and --uninstall edit it, in a folder of the test's own.
class UdevRulesTest : public QObject {
    Q_OBJECT

    const DeviceIdentity panel{"ILITEK Multi-Touch", 3, 0x222a, 0x0001};
    const DeviceIdentity other{"eGalax Inc. USB TouchController", 3, 0x0eef, 0x0001};

    static std::string read(const std::string &path)
    {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private slots:
    void aDevicesRuleIsReplacedByWhatItMatchesAndEverythingElseKept()
    {
        QTemporaryDir folder;
        const std::string path = folder.filePath(kRulesFile).toStdString();
        // A rule copied in by hand from --udev, under a comment of the user's, and a line of
        // the user's own.
        std::ofstream(path) << "# my kiosk\n" << udevRuleBlock(panel, {2, 0, 0, 0, 2, 0}).substr(
            udevRuleBlock(panel, {2, 0, 0, 0, 2, 0}).find('\n') + 1)
                            << "ENV{SOMETHING}=\"else\"\n";
        std::optional<std::string> replaced;
        const auto install = [&](const DeviceIdentity &device, const LibinputMatrix &matrix) {
            return editRulesFile(folder.path().toStdString(), [&](const std::string &old) {
                return withRule(old, device, matrix, &replaced);
            });
        };
        QCOMPARE(install(other, {1, 0, 0, 0, 1, 0}), std::string());
        QVERIFY(!replaced);
        QCOMPARE(install(panel, {1.5, 0, -0.25, 0, 1.5, -0.25}), std::string());
        QCOMPARE(*replaced, std::string("2 0 0 0 2 0"));
        const std::string text = read(path);
        QCOMPARE(text, "# my kiosk\n" + udevRuleBlock(panel, {1.5, 0, -0.25, 0, 1.5, -0.25})
                           + "ENV{SOMETHING}=\"else\"\n" + udevRuleBlock(other, {1, 0, 0, 0, 1, 0}));
        struct stat status;
        QVERIFY(::stat(path.c_str(), &status) == 0 && (status.st_mode & 0777) == 0644);

        bool found = false;
        const auto uninstall = [&](const DeviceIdentity &device) {
            return editRulesFile(folder.path().toStdString(), [&](const std::string &old) {
                return withoutRule(old, device, &found);
            });
        };
        QCOMPARE(uninstall(other), std::string());
        QVERIFY(found);
        QCOMPARE(read(path), "# my kiosk\n" + udevRuleBlock(panel, {1.5, 0, -0.25, 0, 1.5, -0.25})
                                 + "ENV{SOMETHING}=\"else\"\n");
        // Nothing of the user's left: the file goes.
        std::ofstream(path) << udevRuleBlock(panel, {1, 0, 0, 0, 1, 0});
        QCOMPARE(uninstall(panel), std::string());
        QVERIFY(found && ::access(path.c_str(), F_OK) != 0);
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void aLinkOrAFileThatIsNotRootsIsLeftAlone()
    {
        if (::geteuid() != 0)
            QSKIP("only root can make a file another user's");
        QTemporaryDir folder;
        const std::string path = folder.filePath(kRulesFile).toStdString();
        const std::string target = folder.filePath("elsewhere").toStdString();
        std::ofstream(target) << "# not a rules file\n";
        QCOMPARE(::symlink(target.c_str(), path.c_str()), 0);
        std::optional<std::string> replaced;
        const auto edit = [&](const std::string &old) { return withRule(old, panel, {1, 0, 0, 0, 1, 0}, &replaced); };
        QVERIFY(editRulesFile(folder.path().toStdString(), edit).find("symbolic link") != std::string::npos);
        QCOMPARE(read(target), std::string("# not a rules file\n"));
        QCOMPARE(::unlink(path.c_str()), 0);
        std::ofstream(path) << "# a user's\n";
        QCOMPARE(::chown(path.c_str(), 4242, 4242), 0);
        QVERIFY(editRulesFile(folder.path().toStdString(), edit).find("not to root") != std::string::npos);
        QCOMPARE(read(path), std::string("# a user's\n"));
    }
};

QTEST_APPLESS_MAIN(UdevRulesTest)
#include "test_udev_rules.moc"
