// SPDX-License-Identifier: MIT
#include "desktops/kwin_input.h"

#include <QtTest>

// KWin's output for a touch screen: which step is taken before the targets are measured, the
// value root is handed back, and the undo printed.
class KWinOutputTest : public QObject {
    Q_OBJECT

    GnomeStep step(const std::vector<std::string> &outputs, const std::string &current, const std::string &named,
                   bool writing, std::string *target = nullptr)
    {
        std::string ignored;
        return chooseKWinStep(outputs, current, named, writing, target ? target : &ignored);
    }

private slots:
    void anUnmappedDeviceGoesOntoTheOneOutputOnlyWhereWritingIsAllowed()
    {
        std::string target;
        QCOMPARE(step({"Virtual-1"}, "", "", true, &target), GnomeStep::Map);
        QCOMPARE(target, std::string("Virtual-1"));
        // A name no output has any more is no mapping.
        QCOMPARE(step({"Virtual-1"}, "HDMI-A-1", "", true), GnomeStep::Map);
        QCOMPARE(step({"Virtual-1"}, "", "", false), GnomeStep::Leave);
        QCOMPARE(step({"Virtual-1"}, "Virtual-1", "", true), GnomeStep::Leave);
    }

    void onSeveralOutputsOnlyTheOneNamedIsTaken()
    {
        std::string target;
        QCOMPARE(step({"Virtual-1", "Virtual-2"}, "", "", true), GnomeStep::Unknown);
        QCOMPARE(step({"Virtual-1", "Virtual-2"}, "Virtual-1", "Virtual-2", true, &target), GnomeStep::Map);
        QCOMPARE(target, std::string("Virtual-2"));
        QCOMPARE(step({"Virtual-1", "Virtual-2"}, "Virtual-2", "", true), GnomeStep::Leave);
        QCOMPARE(step({"Virtual-1"}, "", "HDMI-A-1", true), GnomeStep::Unknown);
    }

    void rootTakesOnlyOnePrintableNameInItsOwnForm()
    {
        for (const std::string &name : {std::string(), std::string("Virtual-1"), std::string("a'b\\c")})
            QCOMPARE(readKWinOutputHandover(kwinOutputHandover(name)), std::optional(name));
        const std::string tooLong(kLongestKWinOutput + 1, 'x');
        QVERIFY(!kwinOutputNameFits(tooLong) && !kwinOutputNameFits("a\nb") && kwinOutputNameFits(""));
        for (const std::string &refused :
             {kwinOutputHandover(tooLong), kwinOutputHandover("a\x1b[2J"), std::string("kwin outputName []"),
              std::string("kwin outputName ['a', 'b']"), std::string("kwin outputName @as ['a']"),
              std::string("kwin outputName ['a']\n"), std::string("kwin outputName  ['a']"), std::string("['a']")})
            QVERIFY2(!readKWinOutputHandover(refused), refused.c_str());
    }

    void theUndoQuotesTheObjectAndTheName()
    {
        QCOMPARE(kwinOutputUndo("/org/kde/KWin/InputDevice/event5", "it's $HOME"),
                 std::string("busctl --user set-property org.kde.KWin /org/kde/KWin/InputDevice/event5 "
                             "org.kde.KWin.InputDevice outputName s 'it'\\''s $HOME'"));
    }
};

QTEST_GUILESS_MAIN(KWinOutputTest)
#include "test_kwin_output.moc"
