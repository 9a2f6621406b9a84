// SPDX-License-Identifier: MIT
#include "session_state_text.h"

#include "handover/session_answer.h"

#include <QtTest>

// What a part run as the session's user hands root about X and sway: what puts back a
// calibration it set survives the trip whole, and X's chains are read only as written.
class SessionStateTextTest : public QObject {
    Q_OBJECT

    static std::string hex(const std::string &text)
    {
        SessionAnswer one;
        one.add("x", text);
        const std::string line = sessionAnswerText(one);
        return line.substr(2, line.size() - 3);
    }

private slots:
    void whatPutsBackXOrSwayComesBackWhole()
    {
        ApplyReport set;
        set.xBefore.push_back({12, "libinput Calibration Matrix", 155, 32, {1065353216, 0, 0, 0, 1065353216, 0, 0, 0, 1065353216},
                               "xinput set-prop 12 \"libinput Calibration Matrix\" 1 0 0 0 1 0 0 0 1"});
        set.xBefore.push_back({13, "Coordinate Transformation Matrix", 155, 32, {}, "xinput set-prop 13 ..."});
        ApplyReport back;
        readPutBack(putBackText(set), &back);
        QCOMPARE(back.xBefore.size(), size_t(2));
        for (size_t i = 0; i < 2; ++i) {
            QCOMPARE(back.xBefore[i].device, set.xBefore[i].device);
            QCOMPARE(back.xBefore[i].name, set.xBefore[i].name);
            QCOMPARE(back.xBefore[i].type, set.xBefore[i].type);
            QCOMPARE(back.xBefore[i].format, set.xBefore[i].format);
            QCOMPARE(back.xBefore[i].items, set.xBefore[i].items);
            QCOMPARE(back.xBefore[i].undo, set.xBefore[i].undo);
        }
        QVERIFY(!back.swayBefore);
        QCOMPARE(putBackByHand(back), set.xBefore[0].undo + "; " + set.xBefore[1].undo);

        ApplyReport sway;
        sway.swayBefore = SwayBefore{"1267:1031:a \"quoted\" panel", "0 1 0 -1 0 1", true};
        ApplyReport swayBack;
        readPutBack(putBackText(sway), &swayBack);
        QVERIFY(swayBack.swayBefore && swayBack.xBefore.empty());
        QCOMPARE(swayBack.swayBefore->identifier, sway.swayBefore->identifier);
        QCOMPARE(swayBack.swayBefore->matrix, sway.swayBefore->matrix);
        QVERIFY(swayBack.swayBefore->mapped);

        // Whole or not at all: one entry that does not read leaves nothing to put back wrongly.
        for (const std::string &bad : {std::string("x zz\n"), putBackText(set) + "x 3132\n",
                                       putBackText(set) + "x " + hex("12 155 32 1 two\nname\nundo") + "\n",
                                       "sway " + hex("panel\n0 1 0 -1 0 1\nperhaps") + "\n"}) {
            ApplyReport nothing;
            QVERIFY(!readPutBack(bad, &nothing));
            QVERIFY(nothing.xBefore.empty() && !nothing.swayBefore);
        }
    }

    void aChainKeepsEveryDigitAndIsTakenOnlyAsWritten()
    {
        const XChain chain{7, "touch \x1b[2J screen", Matrix{0, -1, 1, 1, 0, 0}, Matrix{1.0 / 3, 0, 0.1, 0, 2.0 / 3, 1e-17},
                           false};
        const std::optional<XChain> back = readXChain(xChainText(chain));
        QVERIFY(back);
        QCOMPARE(back->id, 7);
        QVERIFY(!back->affine);
        QVERIFY(back->transformation.v == chain.transformation.v);
        QVERIFY(back->libinput.v == chain.libinput.v);  // exactly: the chain is compared in pixels
        QCOMPARE(back->name, std::string("touch ?[2J screen"));

        for (const char *bad : {"7 1 0 -1 1 1 0 0 1 0 0 0 1\nname",           // a number short
                                "7 1 0 -1 1 1 0 0 1 0 0 0 1 0 9\nname",       // one more
                                "7 2 0 -1 1 1 0 0 1 0 0 0 1 0\nname",         // affine neither 0 nor 1
                                "7 1 0 -1 1 1 0 0 1 0 0 0 1 nan\nname",       // not finite
                                "7 1 0 -1 1 1 0 0 1 0 0 0 1 0"})              // no name
            QVERIFY2(!readXChain(bad), bad);
    }
};

QTEST_APPLESS_MAIN(SessionStateTextTest)
#include "test_session_state_text.moc"
