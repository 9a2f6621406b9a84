// SPDX-License-Identifier: MIT
#include "desktops/sway_inputs.h"
#include "udev/rule_edits.h"
#include "udev/rules_file.h"
#include "text/shell_word.h"

#include <QtTest>

#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

// The rules file as --install and --uninstall edit it: a file people edit too.
class UdevRulesTest : public QObject {
    Q_OBJECT

    const DeviceIdentity panel{"ILITEK Multi-Touch", 3, 0x222a, 0x0001};
    const DeviceIdentity other{"eGalax Inc. USB TouchController", 3, 0x0eef, 0x0001};
    const RuleTarget device{panel, ""};
    const RuleTarget port{panel, "pci-0000:00:14.0-usb-0:1:1.0"};
    const std::string match = "ACTION==\"add|change\", SUBSYSTEM==\"input\", KERNEL==\"event*\", "
                              "ATTRS{name}==\"ILITEK Multi-Touch\", ATTRS{id/bustype}==\"0003\", "
                              "ATTRS{id/vendor}==\"222a\", ATTRS{id/product}==\"0001\"";

    static std::string read(const std::string &path)
    {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static std::string rule(const RuleTarget &target, const Matrix &matrix)
    {
        const std::string block = udevRuleBlock(target, matrix);
        return block.substr(block.find('\n') + 1);
    }

private slots:
    void aRuleKeepsThePersonsKeysAndOnlyItsMatrixChanges()
    {
        // The rule as a person has it: the match in another order and spacing, keys of their own.
        const std::string mine = "ATTRS{id/product}==\"0001\",ATTRS{name}==\"ILITEK Multi-Touch\", "
                                 "ENV{WL_OUTPUT}=\"HDMI-A-1\",  ACTION==\"add|change\", SUBSYSTEM==\"input\", "
                                 "KERNEL==\"event*\", ATTRS{id/bustype}==\"0003\", ATTRS{id/vendor}==\"222a\", "
                                 "ENV{LIBINPUT_CALIBRATION_MATRIX}=\"2 0 0 0 2 0\", TAG+=\"kiosk\"\n";
        const std::string text = "# my kiosk\n" + mine + "ENV{SOMETHING}=\"else\"\n";
        RulesEdit edit = withMatrix(text, device, {1.5, 0, -0.25, 0, 1.5, -0.25});
        QCOMPARE(*edit.oldMatrix, std::string("2 0 0 0 2 0"));
        QCOMPARE(edit.line, 2);
        std::string changed = mine;
        changed.replace(changed.find("2 0 0 0 2 0"), 11, "1.5 0 -0.25 0 1.5 -0.25");
        QCOMPARE(edit.text, "# my kiosk\n" + changed + "ENV{SOMETHING}=\"else\"\n");

        // Uninstall takes the matrix alone: the person's keys keep the line.
        edit = withoutMatrix(edit.text, device);
        std::string without = mine;
        without.erase(without.find(", ENV{LIBINPUT"), without.find(", TAG") - without.find(", ENV{LIBINPUT"));
        QCOMPARE(edit.text, "# my kiosk\n" + without + "ENV{SOMETHING}=\"else\"\n");
        // Installing again adds the matrix to that line, keeping its keys.
        edit = withMatrix(edit.text, device, {1, 0, 0, 0, 1, 0});
        QVERIFY(edit.existed && !edit.oldMatrix);
        QVERIFY(edit.text.find("TAG+=\"kiosk\", ENV{LIBINPUT_CALIBRATION_MATRIX}=\"1 0 0 0 1 0\"\n")
                != std::string::npos);
    }

    void aCommentedRuleAndOtherDevicesRulesAreLeftAsTheyStand()
    {
        const std::string text = "  # " + rule(device, {2, 0, 0, 0, 2, 0}) + rule({other, ""}, {1, 0, 0, 0, 1, 0});
        RulesEdit edit = withMatrix(text, device, {3, 0, 0, 0, 3, 0});
        QVERIFY(!edit.existed && !edit.oldMatrix);
        QCOMPARE(edit.text, text + udevRuleBlock(device, {3, 0, 0, 0, 3, 0}));
        QCOMPARE(edit.line, 4);
        // Its own rule and the comment this program wrote go; the file keeps the rest.
        edit = withoutMatrix(edit.text, device);
        QVERIFY(edit.lineRemoved);
        QCOMPARE(edit.text, text);
        // Nothing of the person's left: nothing at all, so the file goes.
        QCOMPARE(withoutMatrix(udevRuleBlock(device, {1, 0, 0, 0, 1, 0}) + "\n", device).text, std::string());
        QVERIFY(!withoutMatrix(text, device).changed);
    }

    void portRulesAndNarrowerRulesStayAfterTheDevicesRule()
    {
        // Two identical panels told apart by their USB ports, one turned; the device's rule came last.
        const std::string left = match + ", KERNELS==\"1-1:1.0\", ENV{LIBINPUT_CALIBRATION_MATRIX}=\"1 0 0 0 1 0\"\n";
        const std::string turned = match + ", KERNELS==\"1-2:1.0\", ENV{LIBINPUT_CALIBRATION_MATRIX}=\"0 1 0 -1 0 1\"\n";
        const std::string text = "# the left panel\n" + left + turned + udevRuleBlock(device, {2, 0, 0, 0, 2, 0});
        RulesEdit edit = withMatrix(text, device, {1.1, 0, 0, 0, 1.1, 0});
        QVERIFY(edit.moved);
        QCOMPARE(edit.text, udevRuleBlock(device, {1.1, 0, 0, 0, 1.1, 0}) + "# the left panel\n" + left + turned);
        QCOMPARE(edit.line, 2);
        // A port rule goes right after the device's rule, and is edited there the next time.
        edit = withMatrix(edit.text, port, {0.9, 0, 0, 0, 0.9, 0});
        QVERIFY(!edit.existed);
        QCOMPARE(edit.text, udevRuleBlock(device, {1.1, 0, 0, 0, 1.1, 0}) + udevRuleBlock(port, {0.9, 0, 0, 0, 0.9, 0})
                                + "# the left panel\n" + left + turned);
        edit = withMatrix(edit.text, port, {0.8, 0, 0, 0, 0.8, 0});
        QCOMPARE(*edit.oldMatrix, std::string("0.9 0 0 0 0.9 0"));
        QCOMPARE(edit.line, 4);
        // Uninstalling the device's rule leaves the port's and the person's.
        edit = withoutMatrix(edit.text, device);
        QCOMPARE(edit.text, udevRuleBlock(port, {0.8, 0, 0, 0, 0.8, 0}) + "# the left panel\n" + left + turned);
        QCOMPARE(lineSettingMatrix(edit.text, "0  1 0 -1 0 1"), 5);
        QCOMPARE(lineSettingMatrix(edit.text, "3 0 0 0 3 0"), 0);
    }

    void westonsOutputIsTakenOutOnlyWhileItIsStillWhatThisProgramWrote()
    {
        RuleTarget onSecond = device, onFirst = device;
        onSecond.waylandOutput = "Virtual-2";
        onFirst.waylandOutput = "HDMI-A-1";
        // Ours is replaced by an install onto another output, and kept by one without --output.
        RulesEdit edit = withMatrix(udevRuleBlock(onSecond, {1, 0, 0, 0, 1, 0}), onFirst, {2, 0, 0, 0, 2, 0});
        QCOMPARE(edit.oldOutput, std::string("Virtual-2"));
        QCOMPARE(edit.text, udevRuleBlock(onFirst, {2, 0, 0, 0, 2, 0}));
        QCOMPARE(withMatrix(edit.text, device, {2, 0, 0, 0, 2, 0}).text, edit.text);
        // Changed by hand since: the person's now, kept with the rule; the comment no longer claims it.
        std::string text = edit.text;
        text.replace(text.rfind("HDMI-A-1"), 8, "DP-3");
        edit = withoutMatrix(text, device);
        QVERIFY(edit.oldOutput.empty());
        QCOMPARE(edit.text, "# kestrilavon-check: the calibration of \"ILITEK Multi-Touch\"\n" + match
                                + ", ENV{WL_OUTPUT}=\"DP-3\"\n");
    }

    void onlyAWaylandOutputsNameMayGoIntoTheRule()
    {
        for (const std::string name : {"HDMI-A-1", "Virtual-2", "eDP-1", "DVI-I-1", "HEADLESS-1", "wayland_0.1"})
            QVERIFY2(waylandOutputProblem(name).empty(), name.c_str());
        for (const std::string &name : std::vector<std::string>{"", "-1", ".hidden", "HDMI A 1", "HDMI-A-1\", RUN+=\"/bin/sh", "DP-1\n",
                                       "DP-1\\", "Écran", std::string(64, 'A')})
            QVERIFY2(!waylandOutputProblem(name).empty(), name.c_str());
    }

    void continuedLinesCarriageReturnsAndRepeatsAreReadAsUdevReadsThem()
    {
        const std::string continued = "ATTRS{name}==\"ILITEK Multi-Touch\", ACTION==\"add|change\", \\\r\n"
                                      "# a note inside\r\n"
                                      "  SUBSYSTEM==\"input\", KERNEL==\"event*\", ATTRS{id/bustype}==\"0003\", \\\r\n"
                                      "  ATTRS{id/vendor}==\"222a\", ATTRS{id/product}==\"0001\", \\\r\n"
                                      "  ENV{LIBINPUT_CALIBRATION_MATRIX}=\"2 0 0 0 2 0\"\r\n";
        const std::string first = match + ", ENV{LIBINPUT_CALIBRATION_MATRIX}=\"5 0 0 0 5 0\"\r\n";
        RulesEdit edit = withMatrix(first + continued, device, {1, 0, 0, 0, 1, 0});
        QCOMPARE(edit.others, std::vector<int>{1});
        QCOMPARE(edit.line, 2);
        std::string changed = continued;
        changed.replace(changed.find("2 0 0 0 2 0"), 11, "1 0 0 0 1 0");
        QCOMPARE(edit.text, first + changed);
        // The matrix goes with the backslash before it; the line endings stay.
        edit = withoutMatrix(edit.text, device);
        QCOMPARE(edit.text, first + continued.substr(0, continued.rfind(", \\\r\n")) + "\r\n");
        // A new rule in a file of CRLF lines ends its lines the same way.
        const std::string crlf = withMatrix("# kiosk\r\n", {other, ""}, {1, 0, 0, 0, 1, 0}).text;
        QCOMPARE(crlf.find('\n'), crlf.find("\r\n") + 1);
        QCOMPARE(std::count(crlf.begin(), crlf.end(), '\n'), std::count(crlf.begin(), crlf.end(), '\r'));
        // Blanks around operators, a name running over a line end, no commas: udev reads one
        // rule of the same match, so its matrix is set there and nothing is added.
        const std::string spaced = "ACTION == \"add|change\" SUBSYSTEM==\"input\",KERNEL ==\"event*\", ATTRS{name} "
                                   "== \"ILITEK \\\n  Multi-Touch\", ATTRS{id/bustype}==\"0003\", \\\n"
                                   "# the vendor's ids\n  ATTRS{id/vendor}==\"222a\", ATTRS{id/product}==\"0001\"\n";
        edit = withMatrix(spaced, device, {1, 0, 0, 0, 1, 0});
        QVERIFY(edit.existed);
        QCOMPARE(edit.text, spaced.substr(0, spaced.size() - 1) + ", ENV{LIBINPUT_CALIBRATION_MATRIX}=\"1 0 0 0 1 0\"\n");
        // Taking it away again leaves the person's comment, backslash and lines as they were.
        QCOMPARE(withoutMatrix(edit.text, device).text, spaced);
    }

    void whatUdevWouldNotReadIsNeverJoinedOrGuessed()
    {
        // A rule going on at the end of the file is never read by udev: a new rule starts
        // after an empty line, so that it cannot join it.
        const std::string broken = "ATTRS{name}==\"other\", ENV{X}=\"1\" \\";
        RulesEdit edit = withMatrix(broken, device, {1, 0, 0, 0, 1, 0});
        QCOMPARE(edit.text, broken + "\n\n" + udevRuleBlock(device, {1, 0, 0, 0, 1, 0}));
        QCOMPARE(edit.line, 4);
        // Its uninstall takes the comment above it along, and the empty line stays.
        QCOMPARE(withoutMatrix(edit.text, device).text, broken + "\n\n");
        // A rule with a pair udev cannot read is dropped by udev: not the device's rule.
        const std::string invalid = match + ", ENV{LIBINPUT_CALIBRATION_MATRIX}=\"2 0 0 0 2 0\", TAG+=kiosk\n";
        edit = withMatrix(invalid, device, {1, 0, 0, 0, 1, 0});
        QVERIFY(!edit.existed);
        QCOMPARE(edit.unread, std::vector<int>{1});
        // Where udev would split lines otherwise, or read escapes, the line is named.
        QCOMPARE(whereUdevMayReadOtherwise("# a\n" + match + "\rENV{X}=\"1\"\n").line, 2);
        QCOMPARE(whereUdevMayReadOtherwise("# a\r\n\r\n" + match + ", ENV{X}=e\"\\x41\"\n").line, 3);
        QCOMPARE(whereUdevMayReadOtherwise(match + ", ENV{X}=\"" + std::string(20000, 'a') + "\"\n").line, 1);
        QCOMPARE(whereUdevMayReadOtherwise("# a\r\n" + match + ", ENV{X}=e\"1\"\r\n").line, 0);
        // A plain value ends at the first quote that no backslash stands before.
        const std::vector<Unit> read = units("ENV{A}=\"x\\\\\"y\", ENV{B}=\"z\"\n");
        QCOMPARE(read[0].pairs.size(), size_t(2));
        QCOMPARE(read[0].pairs[0].value, std::string("x\\\"y"));
    }

    void theFileIsChangedUnderALockNoOneElseCanHoldAndOnlyWhenRoots()
    {
        QTemporaryDir folder;
        const std::string path = folder.filePath(kRulesFile).toStdString();
        const std::string lock = folder.filePath("lock").toStdString();
        const auto install = [&](const RuleTarget &target, const Matrix &matrix) {
            const RulesLock held(lock, std::chrono::milliseconds(300));
            return editRulesFile(folder.path().toStdString(), held, [&](const std::string &old) {
                return withMatrix(old, target, matrix).text;
            });
        };
        QCOMPARE(install(device, {1, 0, 0, 0, 1, 0}), std::string());
        QCOMPARE(read(path), udevRuleBlock(device, {1, 0, 0, 0, 1, 0}));
        struct stat status;
        QVERIFY(::stat(path.c_str(), &status) == 0 && (status.st_mode & 0777) == 0644);
        QVERIFY(::stat(lock.c_str(), &status) == 0 && (status.st_mode & 0777) == 0600);
        // Another holder of the lock: a refusal after the wait, and the file as it was.
        const int held = ::open(lock.c_str(), O_RDONLY);
        QCOMPARE(::flock(held, LOCK_EX), 0);
        const auto before = std::chrono::steady_clock::now();
        QVERIFY(install(device, {2, 0, 0, 0, 2, 0}).find("another --install is running") != std::string::npos);
        QVERIFY(std::chrono::steady_clock::now() - before < std::chrono::seconds(2));
        ::close(held);
        QCOMPARE(read(path), udevRuleBlock(device, {1, 0, 0, 0, 1, 0}));
        // One run's lock lasts until that run is done with the file, the re-add included.
        {
            const RulesLock first(lock);
            QVERIFY(first.problem().empty());
            QVERIFY(!RulesLock(lock, std::chrono::milliseconds(100)).problem().empty());
        }
        QVERIFY(RulesLock(lock).problem().empty());
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({"99-kestrilavon.rules", "lock"}));

        if (::geteuid() != 0)
            QSKIP("only root can make a file another user's");
        QCOMPARE(::unlink(path.c_str()), 0);
        const std::string target = folder.filePath("elsewhere").toStdString();
        std::ofstream(target) << "# not a rules file\n";
        QCOMPARE(::symlink(target.c_str(), path.c_str()), 0);
        QVERIFY(install(device, {1, 0, 0, 0, 1, 0}).find("symbolic link") != std::string::npos);
        QCOMPARE(read(target), std::string("# not a rules file\n"));
        QCOMPARE(::unlink(path.c_str()), 0);
        std::ofstream(path) << "# a user's\n";
        QCOMPARE(::chown(path.c_str(), 4242, 4242), 0);
        QVERIFY(install(device, {1, 0, 0, 0, 1, 0}).find("not to root") != std::string::npos);
        QCOMPARE(read(path), std::string("# a user's\n"));
    }

    void theOutputWhileMeasuringIsARuleOfItsOwnFileWithTheDevicesMatch()
    {
        RuleTarget onSecond = port;
        onSecond.waylandOutput = "Virtual-2";
        const std::string rule = outputOnlyRule(onSecond);
        // The same match as the calibration's rule for that port, so the same panel; no matrix.
        QCOMPARE(rule.substr(rule.find('\n') + 1),
                 match + ", ENV{ID_PATH}==\"pci-0000:00:14.0-usb-0:1:1.0\", ENV{WL_OUTPUT}=\"Virtual-2\"\n");
        QVERIFY(rule.rfind("# kestrilavon-check: the calibration of \"ILITEK Multi-Touch\" on the port ", 0) == 0);
        QTemporaryDir folder;
        const std::string ours = folder.filePath(kRulesFile).toStdString(), lock = folder.filePath("lock").toStdString();
        std::ofstream(ours) << "# kept\n";
        const auto write = [&](const std::string &text) {
            return editRulesFile(folder.path().toStdString(), RulesLock(lock), [&](const std::string &) { return text; },
                                 "99-zz-measuring-event5.rules");
        };
        QCOMPARE(write(rule), std::string());
        QCOMPARE(read(folder.filePath("99-zz-measuring-event5.rules").toStdString()), rule);
        QCOMPARE(write(""), std::string());
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"99-kestrilavon.rules", "lock"}));
        QCOMPARE(read(ours), std::string("# kept\n"));
    }

    void underSudoOnlyTheUsersLiveSwaySessionIsFound()
    {
        QTemporaryDir runtime, processes;
        const uid_t me = ::geteuid();
        const std::string live = "sway-ipc." + std::to_string(me) + "." + std::to_string(::getpid()) + ".sock";
        const std::string dead = "sway-ipc." + std::to_string(me) + ".4194305.sock";
        QVERIFY(QDir().mkpath(processes.filePath(QString::number(::getpid()))));
        std::vector<int> sockets;
        for (const std::string &name : {live, dead}) {
            sockets.push_back(::socket(AF_UNIX, SOCK_STREAM, 0));
            sockaddr_un address{AF_UNIX, {}};
            std::strncpy(address.sun_path, runtime.filePath(QString::fromStdString(name)).toLocal8Bit().constData(),
                         sizeof address.sun_path - 1);
            QCOMPARE(::bind(sockets.back(), reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        }
        const auto found = liveSwaySockets(runtime.path().toStdString(), me, processes.path().toStdString());
        for (const int socket : sockets)
            ::close(socket);
        QCOMPARE(found, std::vector<std::string>{runtime.filePath(QString::fromStdString(live)).toStdString()});
        QVERIFY(liveSwaySockets(runtime.path().toStdString(), me + 1, processes.path().toStdString()).empty());
    }
};

QTEST_APPLESS_MAIN(UdevRulesTest)
#include "test_udev_rules.moc"
