// SPDX-License-Identifier: MIT
#include "input/devices.h"
#include "input/listing.h"
#include "result_file.h"
#include "udev/rule_edits.h"

#include <QtTest>

#include <linux/major.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <fstream>
#include <sstream>

class DeviceCheckTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

    static DeviceInfo device(int maximum, bool btnLeft)
    {
        DeviceInfo info;
        info.readable = info.absoluteXY = true;
        info.btnLeft = btnLeft;
        info.btnTouch = true;
        info.x = info.y = AxisRange{0, maximum};
        return info;
    }

    std::string file(const char *name, const std::string &text)
    {
        const std::string path = folder.filePath(name).toStdString();
        std::ofstream(path) << text;
        return path;
    }

private slots:
    void theOutlookComesFromTheRawValuesAtTheMarkers()
    {
        QVERIFY(calibrationOutlook(device(2047, true)).rfind("ready", 0) == 0);
        QVERIFY(calibrationOutlook(device(2047, false)).rfind("taps needed", 0) == 0);
        // 0..4095: the second marker would be at 3071, past 1999; "never" wins over taps.
        const std::string never = calibrationOutlook(device(4095, false));
        QVERIFY2(never.rfind("never: at the second marker the raw X", 0) == 0, never.c_str());
        DeviceInfo locked = device(2047, true);
        locked.readable = false;
        QCOMPARE(calibrationOutlook(locked), std::string("not readable: run as root or join the input group"));
    }

    void theBordersMapLinearlyAndNeverDivideByZero()
    {
        const auto point = mapToScreen({-2, 2047, -2, 2047}, 510, 1535, 1024, 768);
        QVERIFY(point);
        QCOMPARE(point->x, 255);
        QCOMPARE(point->y, 576);
        const auto reversed = mapToScreen({2047, -2, 2047, -2}, 510, 510, 1024, 768);
        QCOMPARE(reversed->x, 768);
        QVERIFY(!mapToScreen({5, 5, 0, 100}, 1, 1, 1024, 768));
        const auto far = mapToScreen({INT_MIN, INT_MAX, 0, 1}, INT_MAX, INT_MIN, 1024, 768);
        QCOMPARE(far->x, 1024);
        QCOMPARE(far->y, -1000000);
    }

    void aResultFileIsTakenOnlyWhenSmallRegularAndComplete()
    {
        const std::string good = file("good", "Ok! header\n    Option  \"BoderLeft\" \"-2\"\n"
                                      "    Option  \"BoderRight\" \"2047\"\n"
                                      "    Option  \"BoderTop\" \"10\"\n"
                                      "    Option  \"BoderBottom\" \"2000\"\n");
        const ResultFile read = readResultFile(good);
        QVERIFY2(read.borders, read.problem.c_str());
        QCOMPARE(read.borders->left, -2);
        QCOMPARE(read.borders->bottom, 2000);
        QVERIFY(read.trusted());
        // A long line of blanks before the lines is read without deep recursion.
        QVERIFY(parseResultText(std::string(4000, ' ') + "\n" + resultFileText({1, 2, 3, 4})));

        const std::string link = folder.filePath("link").toStdString();
        QCOMPARE(::symlink(good.c_str(), link.c_str()), 0);
        const std::string fifo = folder.filePath("fifo").toStdString();
        QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
        const std::string missing = file("missing", "    Option  \"BoderLeft\" \"1\"\n");
        const std::string huge = file("huge", std::string(5000, ' '));
        const std::string overflow = file("overflow", "Option \"BoderLeft\" \"99999999999\"\n");
        for (const std::string &bad : {link, fifo, missing, huge, overflow}) {
            const ResultFile refused = readResultFile(bad);
            QVERIFY2(!refused.borders && !refused.problem.empty(), bad.c_str());
        }
    }

    void aTouchScreensTouchesNeverComeAsThePointer()
    {
        DeviceInfo screen = device(2047, true);
        screen.judgedByUdev = screen.touchscreenByUdev = true;
        QVERIFY(!reachesCompositorAsPointer(screen));
    }

    void aCandidateIsWhatUdevCallsATouchScreenOrAnAbsoluteMouse()
    {
        QCOMPARE(whyNotATouchScreenByUdev({"ID_INPUT", "ID_INPUT_TOUCHSCREEN"}, true, false), std::string());
        // The single-touch BTN_LEFT screens that kestrilavon reads: udev's VMware mouse path.
        QCOMPARE(whyNotATouchScreenByUdev({"ID_INPUT", "ID_INPUT_MOUSE"}, true, false), std::string());
        QVERIFY(whyNotATouchScreenByUdev({"ID_INPUT", "ID_INPUT_MOUSE"}, true, true).find("relative axes")
                != std::string::npos);
        QVERIFY(!whyNotATouchScreenByUdev({"ID_INPUT", "ID_INPUT_MOUSE"}, false, true).empty());
        for (const char *never : {"ID_INPUT_TABLET", "ID_INPUT_TOUCHPAD", "ID_INPUT_JOYSTICK", "ID_INPUT_ACCELEROMETER"}) {
            const std::string why = whyNotATouchScreenByUdev({"ID_INPUT", "ID_INPUT_TOUCHSCREEN", never}, true, false);
            QVERIFY2(why.find(never) != std::string::npos, why.c_str());
        }
        QVERIFY(!whyNotATouchScreenByUdev({"ID_INPUT", "ID_INPUT_KEY"}, true, false).empty());
        // Its stable path: the event device's own by-id link among udev's links to it.
        QCOMPARE(byIdName({"/dev/input/by-path/pci-0000:00:14.0-usb-0:1:1.0-event-mouse", "/dev/input/by-id/usb-Panel-mouse",
                           "/dev/input/by-id/usb-Panel-event-mouse", "/dev/input/by-id/usb-Panel-if01-mouse"}),
                 std::string("usb-Panel-event-mouse"));
        QCOMPARE(byIdName({"/dev/input/by-path/platform-i8042-serio-0-event-kbd"}), std::string());
    }

    void theMatrixIsInTheUnitsLibinputNormalisesTo()
    {
        // X inverted (left border 1100, right 100) on an axis of 100..1123: 1024 values wide.
        const auto calibration = calibrationFromBorders({1100, 100, 0, 1000});
        QVERIFY(calibration && !calibrationFromBorders({5, 5, 0, 100}));
        const Matrix matrix = libinputMatrix(*calibration, {100, 1123}, {0, 1023});
        QCOMPARE(matrix.textWithLastRow(), std::string("-1.024 0 1 0 1.024 0 0 0 1"));
        QCOMPARE(matrix.driverProblem(), std::string());
    }

    void tslibsPointercalPutsRawValuesOnTheFramebuffersPixels()
    {
        // A panel turned a quarter and one a little skewed, 0..32767, on a 1280 x 800 framebuffer.
        for (const Calibration c : {Calibration{{0, 1 / 30000.0, -0.05, -1 / 28000.0, 0, 1.07}},
                                    Calibration{{1 / 26000.0, 0.0004 / 32768, -0.115, 0.0003 / 32768, -1 / 28000.0, 1.07}}}) {
            const std::optional<std::string> line = pointercalLine(c, 1280, 800);
            QVERIFY(line);
            QCOMPARE(checkedPointercal(*line + "\n"), line);
            std::istringstream in(*line);
            double a[10];
            for (double &value : a)
                in >> value;
            QCOMPARE(std::vector<double>(a + 6, a + 10), (std::vector<double>{65536, 1280, 800, 0}));
            for (const auto &[rx, ry] : {std::pair(3000, 30000), std::pair(29000, 2000), std::pair(16000, 16000)}) {
                const double x = (a[0] * rx + a[1] * ry + a[2]) / a[6];
                const double y = (a[3] * rx + a[4] * ry + a[5]) / a[6];
                QVERIFY(std::fabs(x - (c.m[0] * rx + c.m[1] * ry + c.m[2]) * 1280) < 0.5);
                QVERIFY(std::fabs(y - (c.m[3] * rx + c.m[4] * ry + c.m[5]) * 800) < 0.5);
            }
        }
        QVERIFY(!pointercalLine(Calibration{{1, 0, 1e6, 0, 1, 0}}, 1280, 800));
        for (const char *bad : {"1 2 3 4 5 6 65536", "1 2 3 4 5 6 65536 1280 800 0 9", "1 2 3 4 5 6 65536 1280 800 x",
                                "$(reboot) 2 3 4 5 6 65536 1280 800 0", "- 2 3 4 5 6 65536 1280 800 0", ""})
            QVERIFY2(!checkedPointercal(bad), bad);
        QCOMPARE(*checkedPointercal(" -5 0 3  4 5 6 65536 1280 800 0 \n"), std::string("-5 0 3 4 5 6 65536 1280 800 0"));
    }

    void underSudoTheUsersOwnResultFileIsTrusted()
    {
        if (::geteuid() != 0)
            QSKIP("only root can make a file another user's and run as sudo does");
        const std::string path = file("theirs", resultFileText({1, 2, 3, 4}));
        QCOMPARE(::chown(path.c_str(), 4242, 4242), 0);
        for (const auto &[uid, trusted] : {std::pair("", false), std::pair("4242", true), std::pair("4242x", false),
                                           std::pair("4243", false)}) {
            ::setenv("SUDO_UID", uid, 1);
            QVERIFY2(readResultFile(path).trusted() == trusted, uid);
        }
        ::unsetenv("SUDO_UID");
    }

    // What root opens for a user who named it is an input node in /dev/input and nothing else:
    // a node of another driver, a FIFO or a link out of the folder is refused before any open,
    // since an open alone may act (a watchdog arms or stops).
    void rootOpensForAUserOnlyAnInputNodeAndLooksAtNothingElse()
    {
        QTemporaryDir inputFolder;  // stands for /dev/input
        const std::string in = inputFolder.path().toStdString() + "/";
        if (::mknod((in + "null").c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0)
            QSKIP("cannot make device nodes here (needs root)");
        QVERIFY(::mkfifo((in + "fifo").c_str(), 0600) == 0);
        QVERIFY(::symlink("/dev/null", (in + "out").c_str()) == 0);
        QVERIFY(::mknod((in + "event1023").c_str(), S_IFCHR | 0600, makedev(INPUT_MAJOR, 1023)) == 0);
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        for (const char *name : {"null", "fifo"})
            QVERIFY(::inotify_add_watch(watch, (in + name).c_str(), IN_OPEN) >= 0);
        for (const std::string &path : {in + "null", in + "fifo", in + "out", std::string("/dev/null")}) {
            errno = 0;
            QVERIFY2(openInputNodeIn(path, in) == -1 && errno == ENOTTY, path.c_str());
        }
        char event[4096];
        QCOMPARE(::read(watch, event, sizeof event), ssize_t(-1));
        ::close(watch);
        // An input node passes and is opened: with no driver behind it, the kernel says no. Named
        // by a way up and back, it is not even looked for.
        errno = 0;
        QVERIFY(openInputNodeIn(in + "event1023", in) == -1 && errno != ENOTTY);
        const std::string folderName = in.substr(in.rfind('/', in.size() - 2) + 1);
        errno = 0;
        QVERIFY(openInputNodeIn(in + "../" + folderName + "event1023", in) == -1 && errno == ENOTTY);
        // Under sudo the check holds for root; root's own shell opens what it names.
        const int own = openEventDevice("/dev/null");
        ::setenv("SUDO_UID", "1000", 1);
        errno = 0;
        const int forUser = openEventDevice("/dev/null");
        const int refusal = errno;
        ::unsetenv("SUDO_UID");
        QVERIFY(own >= 0 && ::close(own) == 0);
        QVERIFY(forUser == -1 && refusal == ENOTTY);
    }

    void onlyAPlainNameGoesIntoAConfigurationAndUdevPatternsMatchOnlyThemselves()
    {
        QCOMPARE(nameProblemForXorg("eGalax Inc. USB TouchController"), std::string());
        for (const char *bad : {"", "a\"b", "a\\b", "a\nb", "a\tb", "a\x7f", "a|b", "a\xc2\x9b" "31m"})
            QVERIFY2(!nameProblemForXorg(bad).empty(), bad);
        QVERIFY(!nameProblemForUdev("a\xc2\x9b" "2J").empty());
        QCOMPARE(printable("\xc2\x9b" "2J \xc3\xa9\x1b"), std::string("?2J \xc3\xa9?"));
        QCOMPARE(nameProblemForUdev("a|b"), std::string());
        const Matrix matrix = Matrix::identity();
        const std::string rule = udevRuleBlock({{"Pen [x]|*?", 3, 0xeef, 1}, ""}, matrix);
        QVERIFY2(rule.find("ATTRS{name}==\"Pen ?x]???\", ATTRS{id/bustype}==\"0003\", "
                           "ATTRS{id/vendor}==\"0eef\", ATTRS{id/product}==\"0001\", "
                           "ENV{LIBINPUT_CALIBRATION_MATRIX}=\"1 0 0 0 1 0\"\n") != std::string::npos,
                 rule.c_str());
        const std::string snippet = xorgSnippet({"Touch", 3, 0xeef, 1}, Borders{-2, 2047, 3, 2000}, matrix);
        for (const char *line : {"    MatchProduct \"Touch\"\n", "    MatchUSBID \"0eef:0001\"\n",
                                 "    Option \"BoderTop\" \"3\"\n",
                                 "    Option \"Calibration\" \"-2 2047 3 2000\"\n",
                                 "    Option \"CalibrationMatrix\" \"1 0 0 0 1 0 0 0 1\"\n"})
            QVERIFY2(snippet.find(line) != std::string::npos, line);
    }
};

QTEST_APPLESS_MAIN(DeviceCheckTest)
#include "test_devices.moc"
