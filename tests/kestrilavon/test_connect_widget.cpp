// SPDX-License-Identifier: MIT
#include "ConnectWidget.h"
#include "event_records.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace {

const char kTouchRequest[] =
    "Please Press Enter and Touch the marker or just touch if the Touch Screen is working";
const char kNote[] =
    "(Note: to exit Press Esc. If it seems dead for long, press Alt+Tab,then kill it.)";
const char kNoteOnRepaint[] =
    "(Note: to exit Press Esc.If it seems dead for long, press Alt+Tab,then kill it.)";
const char kReadErrorKey[] =
    "Read device Error! Press R or r to try again. Press Esc or Double click to quit.";
const char kReadErrorClick[] =
    "Read device Error! Press R or r to try again, Press Esc or Double click to quit.";

QString text(const QString &line, int x, int y)
{
    return QString("%1,%2 %3").arg(x).arg(y).arg(line);
}

QString marker(int x, int y)
{
    return QString("marker 80 at %1,%2").arg(x).arg(y);
}

std::string contentsOf(const char *path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

class ConnectWidgetTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QByteArray devicePath;
    std::unique_ptr<ConnectWidget> widget;

    void setDevice(const EventStream &records)
    {
        std::ofstream(devicePath.constData(), std::ios::binary | std::ios::trunc) << records.bytes;
    }

    // Shows the window at the given size and waits for its first paint.
    void start(int w, int h, char *device)
    {
        widget = std::make_unique<ConnectWidget>(device);
        widget->resize(w, h);
        widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
        QTRY_VERIFY(!widget->shown.isEmpty());
    }

    QStringList screen() const
    {
        QStringList lines;
        for (const ScreenItem &item : widget->shown) {
            lines << (item.kind == ScreenItem::Marker
                          ? QString("marker %1 at %2,%3").arg(item.length).arg(item.x).arg(item.y)
                          : text(item.text, item.x, item.y));
        }
        return lines;
    }

    int state() const { return widget->count; }
    Qt::CursorShape cursorShape() const { return widget->cursor().shape(); }
    void expose() { widget->repaint(); }
    void press(Qt::Key key) { QTest::keyClick(widget.get(), key); }
    void click() { QTest::mouseClick(widget.get(), Qt::LeftButton, {}, QPoint(300, 200)); }
    void doubleClick()
    {
        QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(300, 200), QPointF(300, 200),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget.get(), &event);
    }

    // The first-marker screen of a calibration of the device file, at 640 x 480.
    void startAtFirstMarker()
    {
        setDevice(EventStream().touch(300, 250));
        start(640, 480, devicePath.data());
        QCOMPARE(state(), 1);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        devicePath = dir.filePath("event-device").toLocal8Bit();
    }

    void init()
    {
        setDevice(EventStream());
        ConnectWidget::defaultDevice = nullptr;
    }

    void cleanup()
    {
        widget.reset();
        static char builtIn[] = "/dev/input/event2";
        ConnectWidget::defaultDevice = builtIn;
    }

    void aGivenDeviceGoesStraightToTheFirstMarker_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<QStringList>("entry");
        QTest::addColumn<int>("points");
        QTest::newRow("640x480") << 640 << 480
                                 << QStringList{text(kTouchRequest, 140, 240),
                                                text(kNote, 140, 264), marker(159, 119)}
                                 << 10;
        QTest::newRow("1024x768") << 1024 << 768
                                  << QStringList{text(kTouchRequest, 236, 384),
                                                 text(kNote, 236, 408), marker(255, 191)}
                                  << 14;
    }
    void aGivenDeviceGoesStraightToTheFirstMarker()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(QStringList, entry);
        QFETCH(int, points);
        start(w, h, devicePath.data());
        QCOMPARE(state(), 1);
        QCOMPARE(screen(), entry);
        QCOMPARE(widget->font().pointSize(), points);
        QCOMPARE(widget->font().family(), QString("Helvetica"));
        QVERIFY(widget->font().bold());
        QCOMPARE(cursorShape(), Qt::BlankCursor);

        // An exposed first-marker screen loses the blank after "Esc.".
        expose();
        entry[1] = text(kNoteOnRepaint, entry[1].section(',', 0, 0).toInt(), h / 2 + 24);
        QCOMPARE(screen(), entry);
        QCOMPARE(state(), 1);
    }

    void aTypedDeviceThatDoesNotOpenIsReported_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<QStringList>("expected");
        const QString message = "Error: Can not open the device /nonexistent/event7 you typed! "
                                "Please read readme file carefully!";
        const QString usage = "Usage: kestrilavon /dev/input/event* (*=0,1,2,3...)";
        const QString exit = "To EXIT, Press the key Esc or double click.";
        QTest::newRow("640x480") << 640 << 480
                                 << QStringList{text(message, 80, 120), text(usage, 130, 170),
                                                text(exit, 106, 240)};
        QTest::newRow("1024x768") << 1024 << 768
                                  << QStringList{text(message, 128, 192), text(usage, 178, 242),
                                                 text(exit, 170, 384)};
    }
    void aTypedDeviceThatDoesNotOpenIsReported()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(QStringList, expected);
        static char missing[] = "/nonexistent/event7";
        start(w, h, missing);
        QCOMPARE(state(), 0);
        QCOMPARE(screen(), expected);

        // Each expose tries the device again and says the same.
        expose();
        QCOMPARE(screen(), expected);
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_A, Qt::Key_Space}) {
            press(key);
            QCOMPARE(screen(), expected);
        }
        click();
        QCOMPARE(state(), 0);
        QCOMPARE(screen(), expected);
    }

    void aDevicePathIsShownAsItIsNeverAsAFormat()
    {
        static char directives[] = "/nonexistent/%s%n%x%d";
        start(640, 480, directives);
        QCOMPARE(screen().first(),
                 text("Error: Can not open the device /nonexistent/%s%n%x%d you typed! Please read "
                      "readme file carefully!",
                      80, 120));
    }

    void withoutADeviceTheMissingDefaultIsReportedThenTreatedAsTyped()
    {
        if (QFile::exists("/dev/input/event2"))
            QSKIP("this machine has a /dev/input/event2");
        cleanup();  // the built-in default device
        start(640, 480, nullptr);
        QCOMPARE(state(), 0);
        QCOMPARE(screen().first(),
                 text("Error: Can not open default device /dev/input/event2! Please read readme "
                      "file carefully!",
                      80, 120));
        QCOMPARE(screen().size(), 3);

        press(Qt::Key_R);
        QCOMPARE(state(), 0);
        QCOMPARE(screen().first(),
                 text("Error: Can not open the device /dev/input/event2 you typed! Please read "
                      "readme file carefully!",
                      80, 120));
        QCOMPARE(screen().size(), 3);
    }

    void withoutADeviceAWorkingDefaultShowsTheIntro_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<QList<int>>("at");  // x of lines 1..3, y of line 1, x of line 4 / repaint
        QTest::newRow("640x480") << 640 << 480 << QList<int>{64, 114, 120, 160, 213, 260};
        QTest::newRow("1024x768") << 1024 << 768 << QList<int>{102, 152, 192, 256, 341, 404};
    }
    void withoutADeviceAWorkingDefaultShowsTheIntro()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(QList<int>, at);
        ConnectWidget::defaultDevice = devicePath.data();
        start(w, h, nullptr);
        const QString line1 = QString("Now this Quillomar Screen calibration program is using the "
                                      "default attaching device: %1.")
                                  .arg(QString(devicePath));
        const QString line2 = "If the Touch Screen has been attached to event* (*=1,2,3...), you "
                              "should run it in X terminal as bellow:";
        const QString line4 = "Press Enter or click to continue ...  or Press Esc to exit.";
        // One start pass only: the entry variant, not the repaint variant.
        QCOMPARE(state(), -1);
        QCOMPARE(screen(), (QStringList{text(line1, at[0], at[2]), text(line2, at[0], at[2] + 30),
                                        text("Usage: kestrilavon /dev/input/event*", at[1], at[2] + 60),
                                        text(line4, at[3], at[5])}));
        QCOMPARE(cursorShape(), Qt::ArrowCursor);

        expose();
        QCOMPARE(screen(), (QStringList{text(line1, at[0], at[2]), text(line2, at[0], at[2] + 30),
                                        text("kestrilavon /dev/input/event*", at[1], at[2] + 60),
                                        text(line4, at[4], at[5])}));

        press(Qt::Key_Enter);
        QCOMPARE(state(), 1);
        QCOMPARE(screen().at(1), text(kNote, w / 4 - 20, h / 2 + 24));
        QCOMPARE(cursorShape(), Qt::BlankCursor);
    }

    void aClickOnTheIntroAlsoGoesOnAndRGoesStraightToTheMarker()
    {
        ConnectWidget::defaultDevice = devicePath.data();
        start(640, 480, nullptr);
        click();
        QCOMPARE(state(), 1);
        QCOMPARE(screen(),
                 (QStringList{text(kTouchRequest, 140, 240), text(kNote, 140, 264), marker(159, 119)}));
        press(Qt::Key_R);  // the default device now counts as typed: no intro again
        QCOMPARE(state(), 1);
    }

    void aWholeCalibrationShowsAndSavesTheBorders()
    {
        startAtFirstMarker();
        press(Qt::Key_Return);
        QCOMPARE(state(), 2);
        QCOMPARE(screen(),
                 (QStringList{text(kTouchRequest, 160, 240), text(kNote, 160, 264), marker(479, 359)}));
        QCOMPARE(cursorShape(), Qt::BlankCursor);
        expose();
        QCOMPARE(screen().last(), marker(479, 359));

        setDevice(EventStream().touch(700, 650));
        click();
        QCOMPARE(state(), 3);
        const QStringList result{
            text("Ok! Fill the following data to the X Config file to calibrate your Quillomar "
                 "Screen,then restart X.",
                 64, 80),
            text("Option  \"BoderLeft\"  \"100\"", 114, 105),
            text("Option  \"BoderRight\"  \"900\"", 114, 130),
            text("Option  \"BoderTop\"  \"50\"", 114, 160),
            text("Option  \"BoderBottom\"  \"850\"", 114, 185),
            text("You can switch the result screen and the X config file by pressing Alt+Tab.", 44, 235),
            text("And you can also see the data in file: /tmp/kestrilavon.tmp", 44, 260),
            text("This kestrilavon(Version:1.0.0) is an X calibration program of Quillomar Screen of "
                 "USB interface for Linux.",
                 8, 310),
            text("Thank you for using. ~_~ Press key R or r to redo!", 160, 360),
            text("To exit, please press the key Esc or double click !", 160, 410),
        };
        QCOMPARE(screen(), result);
        QCOMPARE(cursorShape(), Qt::ArrowCursor);
        QCOMPARE(contentsOf("/tmp/kestrilavon.tmp"),
                 std::string("Ok! Fill the following data to the X Config file to calibrate your "
                             "Quillomar Screen,then restart X.\n"
                             "    Option  \"BoderLeft\" \"100\"\n"
                             "    Option  \"BoderRight\" \"900\"\n"
                             "    Option  \"BoderTop\" \"50\"\n"
                             "    Option  \"BoderBottom\" \"850\"\n"));

        expose();
        QCOMPARE(screen(), result);
        press(Qt::Key_Return);
        press(Qt::Key_Enter);
        click();
        QCOMPARE(state(), 3);
        QCOMPARE(screen(), result);

        press(Qt::Key_R);  // redo: the device still opens
        QCOMPARE(state(), 1);
        QCOMPARE(screen().last(), marker(159, 119));
    }

    void aResultThatCannotBeSavedSaysSo()
    {
        const char *resultPath = "/tmp/kestrilavon.tmp";
        ::unlink(resultPath);
        QVERIFY(::mkdir(resultPath, 0755) == 0);
        startAtFirstMarker();
        press(Qt::Key_Return);
        click();
        ::rmdir(resultPath);
        QCOMPARE(state(), 3);
        QCOMPARE(screen().size(), 10);
        QCOMPARE(screen().at(6),
                 text("But the data could not be saved in file: /tmp/kestrilavon.tmp (Is a directory)",
                      44, 260));
        QCOMPARE(screen().at(1), text("Option  \"BoderLeft\"  \"300\"", 114, 105));
        expose();
        QVERIFY(screen().at(6).startsWith("44,260 But the data could not be saved"));
    }

    void aFailedReadSaysHowItWasAsked_data()
    {
        QTest::addColumn<bool>("atSecondMarker");
        QTest::addColumn<bool>("byClick");
        QTest::addColumn<QString>("message");
        QTest::newRow("first marker, key") << false << false << QString(kReadErrorKey);
        QTest::newRow("first marker, click") << false << true << QString(kReadErrorClick);
        QTest::newRow("second marker, key") << true << false << QString(kReadErrorKey);
        QTest::newRow("second marker, click") << true << true << QString(kReadErrorKey);
    }
    void aFailedReadSaysHowItWasAsked()
    {
        QFETCH(bool, atSecondMarker);
        QFETCH(bool, byClick);
        QFETCH(QString, message);
        startAtFirstMarker();
        if (atSecondMarker)
            press(Qt::Key_Return);
        setDevice(EventStream().x(2000).y(600).release());  // never acceptable; then end of file
        byClick ? click() : press(Qt::Key_Enter);
        QCOMPARE(state(), 4);
        QCOMPARE(screen(), (QStringList{text("", 128, 160), text(message, 160, 240)}));
        QCOMPARE(cursorShape(), Qt::BlankCursor);

        expose();
        QCOMPARE(screen(), QStringList{text(kReadErrorKey, 160, 240)});
        press(Qt::Key_Return);
        click();
        QCOMPARE(state(), 4);

        setDevice(EventStream());
        press(Qt::Key_R);
        QCOMPARE(state(), 1);
        QCOMPARE(screen().last(), marker(159, 119));
    }

    void theCursorSavedAtTheLastStartPassComesBackWithTheResult()
    {
        startAtFirstMarker();
        press(Qt::Key_R);  // the start pass now saves the blank cursor
        press(Qt::Key_Return);
        press(Qt::Key_Return);
        QCOMPARE(state(), 3);
        QCOMPARE(cursorShape(), Qt::BlankCursor);
    }

    void everyStateAnswersEveryInput_data()
    {
        // From each state, the state after one input; -9 means the window closed.
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("to");
        const int closed = -9;
        const QList<QPair<int, QList<int>>> table = {
            //          Return Enter click  R  Esc     double   A
            {0, {0, 0, 0, 0, closed, closed, 0}},
            {-1, {1, 1, 1, 1, closed, closed, -1}},
            {1, {2, 2, 2, 1, closed, closed, 1}},
            {2, {3, 3, 3, 1, closed, closed, 2}},
            {3, {3, 3, 3, 1, closed, closed, 3}},
            {4, {4, 4, 4, 1, closed, closed, 4}},
        };
        const QStringList inputs{"Return", "Enter", "click", "R", "Esc", "double click", "A"};
        for (const auto &row : table) {
            for (int i = 0; i < inputs.size(); ++i) {
                QTest::addRow("state %d, %s", row.first, qPrintable(inputs[i]))
                    << row.first << inputs[i] << row.second[i];
            }
        }
    }
    void everyStateAnswersEveryInput()
    {
        QFETCH(int, from);
        QFETCH(QString, input);
        QFETCH(int, to);
        static char missing[] = "/nonexistent/event7";
        setDevice(EventStream().touch(300, 250));
        if (from == -1)
            ConnectWidget::defaultDevice = devicePath.data();
        start(640, 480, from == 0 ? missing : from == -1 ? nullptr : devicePath.data());
        if (from == 4)
            setDevice(EventStream());
        for (int step = 1; step < from; ++step)
            press(Qt::Key_Return);
        setDevice(EventStream().touch(300, 250));
        QCOMPARE(state(), from);

        if (input == "click")
            click();
        else if (input == "double click")
            doubleClick();
        else
            press(input == "Return" ? Qt::Key_Return
                  : input == "Enter" ? Qt::Key_Enter
                  : input == "R"     ? Qt::Key_R
                  : input == "Esc"   ? Qt::Key_Escape
                                     : Qt::Key_A);
        if (to == -9) {
            QVERIFY(!widget->isVisible());
        } else {
            QVERIFY(widget->isVisible());
            QCOMPARE(state(), to);
        }
    }

    void laterScreensAt1024x768()
    {
        setDevice(EventStream().touch(300, 250));
        start(1024, 768, devicePath.data());
        press(Qt::Key_Return);
        QCOMPARE(screen(),
                 (QStringList{text(kTouchRequest, 256, 384), text(kNote, 256, 408), marker(767, 575)}));
        QList<int> xs, ys;
        press(Qt::Key_Return);
        for (const ScreenItem &item : widget->shown) {
            xs << item.x;
            ys << item.y;
        }
        QCOMPARE(xs, (QList<int>{102, 152, 152, 152, 152, 82, 82, 12, 256, 256}));
        QCOMPARE(ys, (QList<int>{128, 153, 178, 208, 233, 283, 308, 358, 408, 458}));

        press(Qt::Key_R);
        setDevice(EventStream());
        click();
        QCOMPARE(screen(), (QStringList{text("", 204, 256), text(kReadErrorClick, 256, 384)}));
    }
};

// With no runtime folder the toolkit would make /tmp/runtime-USER and leave it: the test gives
// it one of its own and removes it afterwards.
int main(int argc, char **argv)
{
    char runtime[] = "/tmp/kestrilavon-widget-test.XXXXXX";
    if (!::mkdtemp(runtime))
        return 1;
    ::setenv("XDG_RUNTIME_DIR", runtime, 1);
    int status;
    {
        QApplication app(argc, argv);
        ConnectWidgetTest test;
        status = QTest::qExec(&test, argc, argv);
    }
    ::rmdir(runtime);
    return status;
}
#include "test_connect_widget.moc"
