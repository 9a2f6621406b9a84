// SPDX-License-Identifier: MIT
#include "framebuffer/framebuffer.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fstream>

// Which framebuffer tslib's pointercal is made for, and at which size.
class FramebufferTest : public QObject {
    Q_OBJECT

    using Size = std::optional<std::pair<int, int>>;

private slots:
    void theOptionThenQtsThenTslibsThenTheFirstFramebufferIsMeant()
    {
        const char *qt = "linuxfb:fb=/dev/fb2:size=800x480";
        QCOMPARE(chooseFramebuffer("/dev/fb3", qt, "/dev/fb1").path, std::string("/dev/fb3"));
        QCOMPARE(chooseFramebuffer("", qt, "/dev/fb1").namedBy, std::string("QT_QPA_PLATFORM"));
        // A platform that names no framebuffer leaves the choice to tslib's variable.
        for (const char *other : {"linuxfb", "linuxfb:size=800x480", "xcb", "eglfs:fb=/dev/fb2"})
            QCOMPARE(chooseFramebuffer("", other, "/dev/fb1").path, std::string("/dev/fb1"));
        QCOMPARE(chooseFramebuffer("", nullptr, "").path, std::string("/dev/fb0"));
        // The window goes on the one meant, Qt's other options kept.
        QCOMPARE(linuxfbPlatform(qt, "/dev/fb1"), std::string("linuxfb:size=800x480:fb=/dev/fb1"));
        QCOMPARE(linuxfbPlatform("", "/dev/fb1"), std::string("linuxfb:fb=/dev/fb1"));
    }

    void onlyAFramebuffersNodeIsTaken()
    {
        QCOMPARE(framebufferPathProblem("/dev/fb999"), std::string());  // missing: opening it says so
        for (const char *other : {"/dev/null", "/dev/fb", "/dev/fb0/../null"})
            QVERIFY(!framebufferPathProblem(other).empty());
    }

    void theSizeIsTheVisibleModeNeverTheVirtualOne()
    {
        QTemporaryDir sysfs;
        const std::string folder = sysfs.path().toStdString() + "/fb7";
        QVERIFY(QDir().mkpath(QString::fromStdString(folder)));
        std::ofstream(folder + "/virtual_size") << "1024,1536\n";
        const std::string device = sysfs.path().toStdString() + "/fb7";  // no device node: sysfs it is
        QCOMPARE(visibleSize(device, sysfs.path().toStdString()), Size());
        std::ofstream(folder + "/mode") << "U:1024x768p-0\n";
        QCOMPARE(visibleSize(device, sysfs.path().toStdString()), Size(std::pair(1024, 768)));
        for (const char *garbage : {"", "U:", "U:1024,768p-0", "U:0x768p-0", "U:1024x99999p-0"})
            QCOMPARE(sizeOfModeLine(garbage), Size());
    }

    void withoutTheFramebufferTheScreenIsTakenOnlyWhenNoneWasNamed()
    {
        std::string said;
        const Size screen(std::pair(1280, 800));
        QCOMPARE(pointercalSize({"/dev/fb999", "the default"}, screen, &said), screen);
        QCOMPARE(pointercalSize({"/dev/fb999", "TSLIB_FBDEVICE"}, screen, &said), Size());
        QVERIFY2(said.find("/dev/fb999 (named by TSLIB_FBDEVICE) is not known") != std::string::npos, said.c_str());
        QCOMPARE(pointercalSize({"/dev/fb999", "the default"}, Size(), &said), Size());
    }
};

QTEST_APPLESS_MAIN(FramebufferTest)
#include "test_framebuffer.moc"
