// SPDX-License-Identifier: MIT
#include "calibration.h"
#include "result_file.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

std::string contentsOf(const std::string &path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

const char kSample[] = "Ok! Fill the following data to the X Config file to calibrate your "
                       "Quillomar Screen,then restart X.\n"
                       "    Option  \"BoderLeft\" \"100\"\n"
                       "    Option  \"BoderRight\" \"900\"\n"
                       "    Option  \"BoderTop\" \"50\"\n"
                       "    Option  \"BoderBottom\" \"850\"\n";

} // namespace

class CalibrationTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::string target() const { return dir.filePath("kestrilavon.tmp").toStdString(); }
    std::string leftovers() const
    {
        QStringList names = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        return names.join(' ').toStdString();
    }

private slots:
    void init()
    {
        ::unlink(target().c_str());
        ::rmdir(target().c_str());
    }

    void bordersExtendHalfTheSpanOutwards_data()
    {
        QTest::addColumn<int>("x0");
        QTest::addColumn<int>("x1");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("right");
        QTest::newRow("even span") << 300 << 700 << 100 << 900;
        QTest::newRow("odd span truncates") << 300 << 701 << 100 << 901;
        QTest::newRow("reversed axis truncates toward zero") << 701 << 300 << 901 << 100;
        QTest::newRow("reversed odd by one") << 501 << 500 << 501 << 500;
        QTest::newRow("equal samples") << 640 << 640 << 640 << 640;
    }
    void bordersExtendHalfTheSpanOutwards()
    {
        QFETCH(int, x0);
        QFETCH(int, x1);
        QFETCH(int, left);
        QFETCH(int, right);
        const int x[2] = {x0, x1};
        const int y[2] = {x1, x0};  // the other axis, the other way round
        const Borders borders = computeBorders(x, y);
        QCOMPARE(borders.left, left);
        QCOMPARE(borders.right, right);
        QCOMPARE(borders.top, right);
        QCOMPARE(borders.bottom, left);
    }

    void resultFileHasFiveConfigurationLines()
    {
        QCOMPARE(resultFileText({100, 900, 50, 850}), std::string(kSample));
        QCOMPARE(resultFileText({-2147483647 - 1, 0, -1, 2147483647}).substr(100),
                 std::string("    Option  \"BoderLeft\" \"-2147483648\"\n"
                             "    Option  \"BoderRight\" \"0\"\n"
                             "    Option  \"BoderTop\" \"-1\"\n"
                             "    Option  \"BoderBottom\" \"2147483647\"\n"));
    }

    void savingReplacesTheFileAndEveryoneCanReadIt()
    {
        QVERIFY(dir.isValid());
        { std::ofstream(target()) << "an older and much longer result that must not survive\n"; }
        const mode_t oldMask = ::umask(077);
        const std::string error = saveResultFile(target(), kSample);
        ::umask(oldMask);
        QCOMPARE(error, std::string());
        QCOMPARE(contentsOf(target()), std::string(kSample));
        struct stat status;
        QCOMPARE(::lstat(target().c_str(), &status), 0);
        QVERIFY(S_ISREG(status.st_mode));
        QCOMPARE(status.st_mode & 07777, mode_t(0644));
        QCOMPARE(leftovers(), std::string("kestrilavon.tmp"));
    }

    void aPlantedLinkIsReplacedAndItsTargetLeftAlone()
    {
        const std::string victim = dir.filePath("victim").toStdString();
        { std::ofstream(victim) << "precious\n"; }
        QCOMPARE(::symlink(victim.c_str(), target().c_str()), 0);
        QCOMPARE(saveResultFile(target(), kSample), std::string());
        QCOMPARE(contentsOf(victim), std::string("precious\n"));
        struct stat status;
        QCOMPARE(::lstat(target().c_str(), &status), 0);
        QVERIFY(S_ISREG(status.st_mode));
        QCOMPARE(contentsOf(target()), std::string(kSample));
        ::unlink(victim.c_str());
        ::unlink(target().c_str());
    }

    void aPlantedFifoIsReplacedWithoutBlocking()
    {
        QCOMPARE(::mkfifo(target().c_str(), 0666), 0);
        QCOMPARE(saveResultFile(target(), kSample), std::string());
        struct stat status;
        QCOMPARE(::lstat(target().c_str(), &status), 0);
        QVERIFY(S_ISREG(status.st_mode));
        ::unlink(target().c_str());
    }

    void failuresAreReportedWithTheSystemsReason()
    {
        QVERIFY(QDir(dir.path()).mkdir("kestrilavon.tmp"));
        QCOMPARE(saveResultFile(target(), kSample), std::string("Is a directory"));
        QCOMPARE(leftovers(), std::string("kestrilavon.tmp"));  // no temporary file left behind
        QVERIFY(QDir(dir.path()).rmdir("kestrilavon.tmp"));

        QCOMPARE(saveResultFile(dir.filePath("missing/kestrilavon.tmp").toStdString(), kSample),
                 std::string("No such file or directory"));
    }

    void fontSizeFollowsScreenWidth_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("points");
        QTest::newRow("640") << 640 << 14 << 10;
        QTest::newRow("700") << 700 << 14 << 10;
        QTest::newRow("701") << 701 << 14 << 12;
        QTest::newRow("800") << 800 << 14 << 12;
        QTest::newRow("801") << 801 << 14 << 14;
        QTest::newRow("wide keeps a smaller current size") << 1024 << 10 << 10;
    }
    void fontSizeFollowsScreenWidth()
    {
        QFETCH(int, width);
        QFETCH(int, current);
        QFETCH(int, points);
        QCOMPARE(fontPointSize(width, current), points);
    }
};

QTEST_APPLESS_MAIN(CalibrationTest)
#include "test_calibration.moc"
