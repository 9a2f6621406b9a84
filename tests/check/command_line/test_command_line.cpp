// SPDX-License-Identifier: MIT
#include "command_line/command_line.h"

#include <QtTest>

namespace {

using Arguments = std::vector<std::string>;

const char kDevice[] = "/dev/input/event3";
const char kMatrix[] = "1 0 0 0 1 0";

CheckOptions accepted(const Arguments &arguments, bool underPkexec = false)
{
    const CommandLine line = parseCommandLine(arguments, underPkexec);
    if (!line.options)
        qFatal("refused: %s", line.refusal.c_str());
    return *line.options;
}

} // namespace

// kestrilavon-check's command line: what each list asks, and the one line a wrong one gets.
class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void eachOptionLandsInItsFieldWhereverTheDeviceStands()
    {
        QCOMPARE(accepted({}).resultPath, std::string("/tmp/kestrilavon.tmp"));

        const CheckOptions form = accepted({"--result", "/tmp/r", "--output", "HDMI-1", kDevice, "--xorg"});
        QCOMPARE(form.resultPath, std::string("/tmp/r"));
        QCOMPARE(form.monitorName, std::string("HDMI-1"));
        QCOMPARE(form.devicePath, std::string(kDevice));
        QVERIFY(form.forms == std::vector<Form>{Form::Xorg});

        // A form given twice counts once; a matrix's leading minus is a value, not an option.
        const CheckOptions kept = accepted({"--install", kDevice, "--port", "--install", "--matrix", "-1 0 1 0 1 0"});
        QVERIFY(kept.forms == std::vector<Form>{Form::Install});
        QVERIFY(kept.port);
        QVERIFY(accepted({"--udev", "--port", kDevice}).port);
        QCOMPARE(kept.givenMatrix, std::optional<std::string>("-1 0 1 0 1 0"));

        const CheckOptions calibrate = accepted({"--calibrate", "--apply", "--tslib", "--framebuffer=/dev/fb1",
                                                 "--pointercal", "/tmp/p", "--show-report"});
        QVERIFY(calibrate.calibrate && calibrate.tslib && calibrate.showReportWindow);
        QVERIFY(calibrate.forms == std::vector<Form>{Form::Apply});
        QCOMPARE(calibrate.framebufferPath, std::string("/dev/fb1"));
        QCOMPARE(calibrate.pointercalFile, std::string("/tmp/p"));
        QCOMPARE(accepted({"--calibrate", "--wayland-display", "wayland-1"}).waylandName, std::string("wayland-1"));

        // Help and the version end the reading, as they always did: what follows is not looked at.
        QVERIFY(accepted({"--help", "--bogus"}).action == CheckOptions::Action::Help);
        QVERIFY(accepted({"--version", "a", "b"}).action == CheckOptions::Action::Version);
    }

    void aWrongListIsOneLineNamingTheArgument()
    {
        const struct {
            Arguments arguments;
            const char *named;
            bool usageFollows;
        } wrong[] = {
            {{"--bogus"}, "--bogus", true},
            {{kDevice, "--result"}, "--result", true},
            {{"--port", kDevice}, "--port", true},
            {{"--xorg", "--udev", kDevice}, "--udev", true},
            {{"--udev"}, "--udev", true},
            {{"--output", "HDMI-1"}, "--output", true},
            {{"--apply", "--matrix", kMatrix, kDevice}, "--matrix", true},
            {{"--calibrate", "--matrix", kMatrix}, "--matrix", true},
            {{"--calibrate", "--uninstall"}, "--uninstall", true},
            {{"--tslib", "--udev", kDevice}, "--udev", true},
            {{"--tslib", "--install", "--port", kDevice}, "--port", true},
            {{"--tslib"}, "--tslib", true},
            {{"--pointercal", "/tmp/p", kDevice}, "--pointercal", true},
            {{"--calibrate", "--wayland-display", ""}, "--wayland-display", true},
            {{"--wayland-display", "wayland-1", kDevice}, "--wayland-display", true},
            {{"--show-report", kDevice}, "--show-report", true},
            {{kDevice, "/dev/input/event4"}, "/dev/input/event4", true},
            {{kDevice, "-"}, "-", true},
            {{"--calibrate", "--apply", "--install"}, "--install", false},
            {{"--calibrate", "--framebuffer", "/dev/null"}, "--framebuffer", false},
            {{"--tslib", kDevice, "--pointercal", "/tmp/a\nb"}, "--pointercal", false},
        };
        for (const auto &w : wrong) {
            const CommandLine line = parseCommandLine(w.arguments, false);
            QVERIFY2(!line.options, w.named);
            QVERIFY2(line.refusal.find(w.named) != std::string::npos, line.refusal.c_str());
            QCOMPARE(line.refusal.find('\n'), std::string::npos);
            QCOMPARE(line.usageFollows, w.usageFollows);
        }
        // What would work, where something does: the one command measures and keeps in one go.
        QCOMPARE(parseCommandLine({"--install"}, false).refusal,
                 std::string("--install needs a DEVICE (or use --calibrate --install)"));
        for (const Arguments &nothingToMeasure : {Arguments{"--uninstall"}, Arguments{"--install", "--matrix", kMatrix}})
            QVERIFY(parseCommandLine(nothingToMeasure, false).refusal.find("--calibrate") == std::string::npos);
        // The line reaches a terminal: a name's control characters do not.
        const CommandLine named = parseCommandLine({kDevice, "/dev/x\x1b]0;owned\a"}, false);
        QVERIFY(!named.options);
        QVERIFY(named.refusal.find('\x1b') == std::string::npos && named.refusal.find('\a') == std::string::npos);
    }

    void underPkexecTheMenuEntrysCommandAloneIsTaken()
    {
        const Arguments menu = {"--calibrate", "--install", "--show-report"};
        QVERIFY(accepted(menu, true).calibrate);
        const CheckOptions onDevice = accepted({kDevice, "--show-report", "--install", "--calibrate"}, true);
        QCOMPARE(onDevice.devicePath, std::string(kDevice));
        QVERIFY(onDevice.forms == std::vector<Form>{Form::Install});

        const Arguments pointercal = {"--tslib", "--install", "--matrix", kMatrix, "--pointercal", "/etc/nologin",
                                      kDevice};
        const Arguments unchecked = {"--install", "--matrix", kMatrix, kDevice};
        // Lists sudo takes, and others a requester may try around the menu's.
        for (const Arguments &arguments :
             {pointercal, unchecked, Arguments{"--help"}, Arguments{"--calibrate", "--install"},
              Arguments{"--calibrate", "--install", "--show-report", "--tslib"},
              Arguments{"--calib", "--install", "--show-report"},
              Arguments{"--calibrate", "--install", "--show-report", "--show-report"},
              Arguments{"--calibrate", "--install", "--show-report", kDevice, "/dev/input/event4"},
              Arguments{"--calibrate", "--install", "--show-report", "--", "--tslib"}}) {
            const CommandLine line = parseCommandLine(arguments, true);
            QVERIFY2(!line.options, arguments[0].c_str());
            QVERIFY2(line.refusal.find("pkexec") != std::string::npos
                     && line.refusal.find("sudo") != std::string::npos, line.refusal.c_str());
            QVERIFY(!line.usageFollows);
        }
        QVERIFY(parseCommandLine(pointercal, false).options);
        QVERIFY(parseCommandLine(unchecked, false).options);
    }
};

QTEST_APPLESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
