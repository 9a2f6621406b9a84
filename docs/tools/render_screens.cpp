// SPDX-License-Identifier: MIT
// Renders the screens of kestrilavon-check that the documentation shows, from the widgets
// of this build, into FOLDER as PNG: the calibration's targets (one under a finger), its
// result, the live view, the check target and the report, kept and not. The touches come as
// the kernel's records through a pipe, as the programs read a device, at exact places.
#include "CalibrateWidget.h"
#include "CheckWidget.h"
#include "ReportWidget.h"
#include "TouchCheckWidget.h"
#include "event_records.h"
#include "geometry/target_sequence.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kWidth = 1280, kHeight = 800;
constexpr int kRawMaximum = 32767;

// The device's read end of a pipe, fed the kernel's records of a finger at screen pixels.
class Device {
public:
    Device()
    {
        if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
            std::perror("render-screens: a pipe");
    }
    ~Device()
    {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    int readEnd() const { return ends[0]; }

    void down(double x, double y)
    {
        send(EventStream().record(EV_KEY, BTN_TOUCH, 1).x(raw(x, kWidth)).y(raw(y, kHeight)).syn());
    }
    void up() { send(EventStream().record(EV_KEY, BTN_TOUCH, 0).syn()); }

private:
    static int raw(double pixel, int size) { return static_cast<int>((pixel + 0.5) * kRawMaximum / size); }
    void send(const EventStream &records)
    {
        if (::write(ends[1], records.bytes.data(), records.bytes.size()) != static_cast<ssize_t>(records.bytes.size()))
            std::perror("render-screens: the records");
    }
    int ends[2] = {-1, -1};
};

// The event loop run for a while: what was written is read and drawn.
void settle(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool save(QWidget &window, const QString &folder, const char *name)
{
    settle(300);
    const QString path = QDir(folder).filePath(QString(name) + ".png");
    const bool saved = window.grab().save(path);
    std::printf("%s %s\n", saved ? "rendered" : "could not save", qPrintable(path));
    return saved;
}

void show(QWidget &window)
{
    window.resize(kWidth, kHeight);
    window.show();
    settle(300);
}

bool renderCalibration(const QString &folder)
{
    Device device;
    const AxisRange axis{0, kRawMaximum};
    CalibrateWidget targets(device.readEnd(), kWidth, kHeight, axis, axis, false, false, [](const Calibration &) {
        return QString("The udev rule, the xorg.conf section and the xinput command are on the "
                       "standard output.");
    });
    show(targets);
    bool saved = save(targets, folder, "calibrate-target");
    const TargetSequence sequence(kWidth, kHeight, {0, kRawMaximum}, {0, kRawMaximum});
    // A finger a little off each target, as fingers are.
    const int offX[] = {2, -3, 1, -2, 3, -1, 2, -2, 1}, offY[] = {-2, 1, 3, -1, -2, 2, 1, -3, 2};
    for (int step = 0; step < TargetSequence::kTargets; ++step) {
        const TargetSequence::Pixel at = sequence.target(step);
        device.down(at.x + offX[step], at.y + offY[step]);
        settle(250);
        if (step == 1)
            saved = save(targets, folder, "calibrate-finger") && saved;
        device.up();
        settle(500);
    }
    return save(targets, folder, "calibrate-result") && saved;
}

bool renderLiveView(const QString &folder)
{
    Device device;
    const QString result = QDir(folder).filePath(".kestrilavon.tmp");
    {
        QFile file(result);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("    Option  \"BoderLeft\" \"2000\"\n    Option  \"BoderRight\" \"30000\"\n"
                   "    Option  \"BoderTop\" \"1800\"\n    Option  \"BoderBottom\" \"31000\"\n");
    }
    // Named as kestrilavon's own result file is.
    CheckWidget live(device.readEnd(), "/dev/input/event5", readResultFile(result.toStdString()),
                     "/tmp/kestrilavon.tmp", std::nullopt, false);
    QFile::remove(result);
    show(live);
    for (const auto &[x, y] : {std::pair{330, 205}, std::pair{960, 190}, std::pair{650, 410}}) {
        device.down(x, y);
        settle(200);
        device.up();
        settle(200);
    }
    return save(live, folder, "calibrate-live");
}

bool renderCheckAndReports(const QString &folder)
{
    Device device;
    TouchCheckWidget check(device.readEnd(), 16, [](const TouchCheckWidget::Outcome &) {});
    show(check);
    bool saved = save(check, folder, "check-target");
    // The report's last lines, as a run under weston said them.
    ReportWidget kept(true, "Re-added /dev/input/event1 (as if unplugged and plugged in): udev gives it "
                            "LIBINPUT_CALIBRATION_MATRIX=1.260308 0 -0.115396 0 -1.170286 1.07142.\n"
                            "Opened again after the re-add by weston (pid 285).\n"
                            "To undo: sudo kestrilavon-check --uninstall /dev/input/event1\n\n"
                            "Check: touch the target on the screen to keep this calibration.\n"
                            "Kept: your touch landed 0 px from the target.\n");
    show(kept);
    saved = save(kept, folder, "report-kept") && saved;
    // As a run under GNOME said them, where the check's touch landed off twice.
    ReportWidget putBack(false, "Check: touch the target on the screen to keep this calibration.\n"
                                "The touch landed 144 px from the target, twice: something turns or overrides "
                                "the calibration (the lines above may say what).\n"
                                "Removed /etc/udev/rules.d/99-kestrilavon.rules, which was not there before.\n"
                                "The old calibration is back.\n");
    show(putBack);
    return save(putBack, folder, "report-not-kept") && saved;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: render-screens FOLDER\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const bool all = renderCalibration(folder) & renderLiveView(folder) & renderCheckAndReports(folder);
    return all ? 0 : 1;
}
