// SPDX-License-Identifier: MIT
#include "udev/rule_edits.h"
#include "udev/rules_judge.h"

#include <QtTest>

// udev's answer read back through the marks, and what it must be for an install to go ahead.
class RulesJudgeTest : public QObject {
    Q_OBJECT

    const std::string ours = "/etc/udev/rules.d/99-kestrilavon.rules";
    const std::string local = "/etc/udev/rules.d/98-local.rules";

    static JudgedDevice device(const std::string &node, UdevAnswer before, UdevAnswer after)
    {
        return {node, "ILITEK Multi-Touch", "/sys" + node, before, after};
    }

private slots:
    void marksNameTheRuleThatSetTheMatrixLast()
    {
        const std::string text = "# mine\nKERNELS==\"1-2:1.0\", \\\n  ENV{LIBINPUT_CALIBRATION_MATRIX}=\"0 1 0 -1 0 1\"\n"
                                 "ENV{LIBINPUT_CALIBRATION_MATRIX}+=\"x\", ENV{OTHER}=\"1\"\n";
        std::vector<RulePlace> places;
        const std::string marked = markedRules(text, local, &places);
        QCOMPARE(places.size(), size_t(2));
        QCOMPARE(places[1].line, 4);
        // The marks survive udev's own reading: same rules, same pairs.
        QCOMPARE(units(marked).size(), units(text).size());
        const std::string value = marked.substr(marked.find("0 1 0"), marked.find('"', marked.find("0 1 0")) - marked.find("0 1 0"));
        UdevAnswer answer = answerFromProperties("ID_INPUT=1\nLIBINPUT_CALIBRATION_MATRIX=" + value + "\nID_PATH=x\n", places);
        QCOMPARE(answer.matrix, std::string("0 1 0 -1 0 1"));
        QCOMPARE(answer.decidedBy, (RulePlace{local, 2}));
        answer = answerFromProperties("LIBINPUT_CALIBRATION_MATRIX=" + value + " x @kestrilavon-mark-1\n", places);
        QCOMPARE(answer.matrix, std::string("0 1 0 -1 0 1 x"));
        QCOMPARE(answer.decidedBy.line, 4);
        QCOMPARE(answerFromProperties("ID_INPUT=1\n", places).decidedBy.line, 0);
    }

    void theInstallGoesAheadOnlyWhereEveryOtherPanelKeepsItsOwnMatrix()
    {
        const std::string matrix = "1.1 0 0 0 1.1 0";
        const RulePlace before{ours, 0}, after{ours, 2};
        // The twin had no matrix, or the device's rule's: it shares the new one.
        std::vector<JudgedDevice> devices = {device("/dev/input/event5", {}, {matrix, after}),
                                             device("/dev/input/event7", {}, {matrix, after})};
        Verdict verdict = judge(devices, "/sys/dev/input/event5", matrix, before, after);
        QCOMPARE(verdict.conflict, std::string());
        QCOMPARE(verdict.sharing, std::vector<std::string>{"/dev/input/event7 \"ILITEK Multi-Touch\""});
        // Its own rule in another file would be overridden: refused, naming that rule.
        devices[1].before = {"0 1 0 -1 0 1", {local, 1}};
        verdict = judge(devices, "/sys/dev/input/event5", matrix, before, after);
        QVERIFY(verdict.conflict.find("98-local.rules line 1") != std::string::npos);
        QCOMPARE(verdict.placeBefore.line, 0);
        // ... in this program's file: the device's rule is placed in front of it instead.
        devices[1].before.decidedBy = {ours, 3};
        QCOMPARE(judge(devices, "/sys/dev/input/event5", matrix, before, after).placeBefore.line, 3);
        // Where it keeps it, all is well.
        devices[1].after = devices[1].before;
        QCOMPARE(judge(devices, "/sys/dev/input/event5", matrix, before, after).conflict, std::string());
        // A rule read after the new one that decides for the device itself is named.
        devices[0].after = {"2 0 0 0 2 0", {local, 9}};
        QVERIFY(judge(devices, "/sys/dev/input/event5", matrix, before, after).conflict.find("line 9") != std::string::npos);
    }

    void theDevicesRuleGoesInFrontOfTheRuleUdevShowed()
    {
        const DeviceIdentity panel{"ILITEK Multi-Touch", 3, 0x222a, 0x0001};
        const std::string theirs = "SUBSYSTEM == \"input\", KERNELS==\"1-2:1.0\", ENV{LIBINPUT_CALIBRATION_MATRIX}=\"0 1 0 -1 0 1\"\n";
        const std::string text = "# the turned one\n" + theirs;
        const RulesEdit placed = withMatrix(text, {panel, ""}, {1, 0, 0, 0, 1, 0}, 2);
        QVERIFY(placed.moved);
        QCOMPARE(placed.line, 2);
        QCOMPARE(placed.text.substr(placed.text.size() - text.size()), text);
        QCOMPARE(ruleLine(placed.text, {panel, ""}), 2);
    }
};

QTEST_APPLESS_MAIN(RulesJudgeTest)
#include "test_rules_judge.moc"
