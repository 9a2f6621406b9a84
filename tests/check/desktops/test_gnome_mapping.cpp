// SPDX-License-Identifier: MIT
#include "desktops/gnome_mapping.h"

#include <QtTest>

// GNOME's touch screen mapping: which step is taken before the targets are measured, the
// setting's path GNOME reads, and the value root is handed back and the undo printed.
class GnomeMappingTest : public QObject {
    Q_OBJECT

    const GnomeMonitor qemu{"Virtual-1", {"RHT", "QEMU Monitor", "0x00000000"}, false};
    const GnomeMonitor other{"HDMI-1", {"DEL", "U2412M", "0x1234"}, false};

    GnomeStep step(std::vector<GnomeMonitor> monitors, std::vector<std::string> current, const std::string &output,
                   bool writing, GnomeMonitor *target = nullptr)
    {
        GnomeMonitor ignored;
        return chooseGnomeStep(monitors, current, output, writing, target ? target : &ignored);
    }

private slots:
    void valuesRoundTripWithQuotes()
    {
        const std::vector<std::string> odd{"R'T", "back\\slash", ""};
        QCOMPARE(parseGvariantStrings(gvariantStrings(odd)), std::optional(odd));
        QCOMPARE(parseGvariantStrings("@as []"), std::optional(std::vector<std::string>{}));
        QCOMPARE(parseGvariantStrings("['RHT', 'QEMU Monitor', '0x00000000']"), std::optional(qemu.triple));
    }

    void malformedValuesAreRefused()
    {
        for (const char *text : {"", "['a'", "['a',]", "['a' 'b']", "[a]", "['a'] x", "['a\\']"})
            QVERIFY2(!parseGvariantStrings(text), text);
    }

    void undoResetsAnUnsetMappingAndSetsAnotherBack()
    {
        // The path in lower-case hex and the plain reset are what the desktop groups see printed.
        const std::string path = gnomeTouchscreenPath(0x1D6B, 0x104);
        QCOMPARE(gsettingsUndo(path, {"", "", ""}).rfind("gsettings reset ", 0), size_t(0));
        QCOMPARE(gsettingsUndo(path, {"DEL", "U2412M", "0x1234"}),
                 "gsettings set " + std::string(kGnomeTouchscreenSchema) + ":" + path
                     + " output \"['DEL', 'U2412M', '0x1234']\"");
    }

    void unmappedOnOneTurnedMonitorIsMappedOnlyWhereWritingIsAllowed()
    {
        GnomeMonitor turned = qemu, target;
        turned.turned = true;
        QCOMPARE(step({turned}, {}, "", true, &target), GnomeStep::Map);
        QCOMPARE(target.triple, qemu.triple);
        QCOMPARE(step({turned}, {}, "", false), GnomeStep::SayUnmapped);
        QCOMPARE(step({qemu}, {}, "", false), GnomeStep::Leave);
        // A mapping onto a monitor no longer there maps nothing.
        QCOMPARE(step({turned}, other.triple, "", false), GnomeStep::SayUnmapped);
    }

    void aMappingOntoAMonitorThereIsKeptUnlessAnotherIsNamed()
    {
        GnomeMonitor target;
        QCOMPARE(step({qemu, other}, other.triple, "", true, &target), GnomeStep::Leave);
        QCOMPARE(target.connector, other.connector);
        QCOMPARE(step({qemu, other}, other.triple, "Virtual-1", true, &target), GnomeStep::Map);
        QCOMPARE(target.connector, qemu.connector);
        QCOMPARE(step({qemu, other}, {}, "", true), GnomeStep::Unknown);
        QCOMPARE(step({qemu}, {}, "DP-9", true), GnomeStep::Unknown);
    }
};

QTEST_APPLESS_MAIN(GnomeMappingTest)
#include "test_gnome_mapping.moc"
