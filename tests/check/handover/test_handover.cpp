// SPDX-License-Identifier: MIT
#include "handover/handover.h"
#include "handover/session_answer.h"
#include "handover/user_session.h"

#include <QtTest>

// What the window part, run as the user, hands root, and how root picks that user's session:
// anything not exactly as written, or not sane, is refused before a file is touched.
class HandoverTest : public QObject {
    Q_OBJECT

    const Matrix fit{1.26, 0.02, -0.115, -0.01, -1.17, 1.07};
    const Matrix quarterTurn{0, -1, 1, 1, 0, 0};

    Handover measured() const
    {
        Handover handover;
        handover.device = 1;
        handover.fit = fit;
        handover.compositor = quarterTurn;
        handover.paired = 8;
        handover.targets = 9;
        handover.width = 1280;
        handover.height = 800;
        handover.bound = 17;
        handover.onX = XPlace{3200, 1080, 1920, 0, 1280, 800, "HDMI-2"};
        return handover;
    }

    std::optional<Handover> read(const std::string &text) const
    {
        std::string problem;
        const auto handover = readHandover(text, 2, 9, &problem);
        if (!handover && problem.empty())
            qFatal("refused without a reason");
        return handover;
    }

    // The measured hand-over's text with one line replaced.
    std::string withLine(int index, const std::string &line) const
    {
        std::string text = handoverText(measured());
        size_t from = 0;
        for (int i = 0; i < index; ++i)
            from = text.find('\n', from) + 1;
        return text.replace(from, text.find('\n', from) - from, line);
    }

private slots:
    void aWrittenHandOverReadsBackAndKeepsTheMapUndoneAfterTheFit()
    {
        const auto back = read(handoverText(measured()));
        QVERIFY(back);
        QCOMPARE(back->device, size_t(1));
        QVERIFY(back->kept().same(quarterTurn.inverse()->after(fit)));
        QVERIFY(back->onX && back->onX->screenWidth == 3200 && back->onX->x == 1920 && back->onX->height == 800
                && back->onX->monitor == "HDMI-2");
        Handover unmeasured = measured();
        unmeasured.compositor.reset();
        unmeasured.paired = 2;
        QVERIFY(read(handoverText(unmeasured))->kept().same(fit));
        Handover offX = measured();
        offX.onX.reset();
        QVERIFY(!read(handoverText(offX))->onX);
    }

    // Root maps the device onto this monitor of X's screen after the re-add, and names it.
    void aMonitorOffItsScreenOrANameThatIsNotPlainIsRefused()
    {
        for (const std::string &line : std::vector<std::string>{"x 3200 1080 1920 0 1281 800 HDMI-2", "x 3200 1080 1920 281 1280 800 HDMI-2",
                                        "x 0 1080 0 0 1 1 HDMI-2", "x 3200 1080 -1 0 1280 800 HDMI-2",
                                        "x 3200 1080 1920 0 1280 800", "x 3200 1080 1920 0 1280 800 HDMI\x1b-2",
                                        "x 3200 1080 1920 0 1280 800 " + std::string(256, 'A'),
                                        "x 3200 1080 1920 0 1280 800  HDMI-2", "x none "})
            QVERIFY2(!read(withLine(7, line)), line.c_str());
        QCOMPARE(read(withLine(7, "x 3200 1080 1920 280 1280 800 HDMI 2"))->onX->monitor, std::string("HDMI 2"));
    }

    void eachFieldOutOfItsFormOrItsBoundsIsRefused()
    {
        const std::vector<std::pair<int, std::string>> bad = {
            {0, "kestrilavon-handover 1"}, {1, "device 2"}, {1, "device -0"}, {1, "device 01"},
            {2, "fit 1.26  0.02 -0.115 -0.01 -1.17 1.07"}, {2, "fit 1 0 nan 0 1 0"}, {2, "fit 1 0 5 0 1 0"},
            {2, "fit 1 0 0 0 0.001 0"}, {3, "compositor 0.5 0 0 0 1 0"}, {3, "compositor 1 0 0 0 1 0 "},
            {4, "pairs 3 9"}, {4, "pairs 10 9"}, {4, "pairs 8 5"}, {5, "window 0 800"}, {5, "window 1280 99999"},
            {6, "bound 11"}, {6, "bound 1281"}, {6, "bound 17.5"}, {6, "bound"}};
        for (const auto &[line, text] : bad)
            QVERIFY2(!read(withLine(line, text)), text.c_str());
        const std::string good = handoverText(measured());
        for (const std::string &text : {good.substr(0, good.size() - 1), good + "extra\n",
                                        good + std::string(kHandoverLimit, ' '), std::string()})
            QVERIFY(!read(text));
    }

    void theCheckWindowsVerdictIsTakenOnlyAsWrittenAndKeptOnlyWithinTheBound()
    {
        for (const TouchVerdict &verdict : {TouchVerdict{TouchVerdict::Kind::Kept, 9, ""},
                                            TouchVerdict{TouchVerdict::Kind::Off, 712, ""},
                                            TouchVerdict{TouchVerdict::Kind::None, 0, "timeout"}}) {
            const auto back = readTouchVerdict(touchVerdictText(verdict), 17);
            QVERIFY(back && back->kind == verdict.kind && back->pixels == verdict.pixels && back->none == verdict.none);
        }
        for (const char *bad : {"kestrilavon-touch-check 1\nkept 18\n", "kestrilavon-touch-check 1\nkept -1\n",
                                       "kestrilavon-touch-check 1\nnone later\n", "kestrilavon-touch-check 1\nkept 9",
                                       "kestrilavon-touch-check 1\noff 9\nkept 9\n", ""})
            QVERIFY2(!readTouchVerdict(bad, 17), bad);
    }

    // What the user's part answers after setting or reading X and sway: any bytes survive the
    // trip, anything not as written is refused, and text reaches the terminal only printable.
    void aSessionAnswerCarriesAnyBytesAndIsTakenOnlyAsWritten()
    {
        SessionAnswer written;
        written.add("ok", "1");
        written.add("text", "X device 12 \"\x1b]0;owned\x07\" reads it now.\nline two\n");
        written.add("chain", std::string("a\0b", 3));
        const std::string text = sessionAnswerText(written);
        const std::optional<SessionAnswer> read = readSessionAnswer(text, {"ok", "text", "chain"});
        QVERIFY(read);
        QCOMPARE(read->fields, written.fields);
        QCOMPARE(printableLines(*read->value("text")), std::string("X device 12 \"?]0;owned?\" reads it now.\nline two\n"));

        QVERIFY(!readSessionAnswer(text, {"ok", "text"}));  // a key not asked for
        QVERIFY(!readSessionAnswer("ok 31", {"ok"}));  // no newline at the end
        QVERIFY(!readSessionAnswer("ok 3\n", {"ok"}));
        QVERIFY(!readSessionAnswer("ok 4A\n", {"ok"}));
        QVERIFY(!readSessionAnswer("ok  31\n", {"ok"}));
        QVERIFY(!readSessionAnswer("ok 31\n" + std::string(kSessionAnswerLimit, 'x'), {"ok"}));
        QVERIFY(readSessionAnswer("", {"ok"}) && readSessionAnswer("", {"ok"})->fields.empty());
    }

    void onlyAUserOtherThanRootIsTakenFromSudoOrPkexec()
    {
        std::string problem;
        QCOMPARE(invokingUid("1000", nullptr, &problem), std::optional<uid_t>(1000));
        QCOMPARE(invokingUid(nullptr, "1001", &problem), std::optional<uid_t>(1001));
        QVERIFY(!invokingUid(nullptr, nullptr, &problem) && problem.empty());
        using Given = std::pair<const char *, const char *>;
        for (const auto &[sudo, pkexec] : {Given("0", nullptr), Given(" 1000", nullptr), Given("", nullptr),
                                           Given("1000", "1001")}) {
            problem.clear();
            QVERIFY(!invokingUid(sudo, pkexec, &problem) && !problem.empty());
        }
        // Kept by su into another user's login, SUDO_UID names no one who asked.
        QCOMPARE(invokerProblem(1000, 1000), std::string());
        QCOMPARE(invokerProblem(1000, std::nullopt), std::string());  // a service, a boot script
        QVERIFY(invokerProblem(1000, 1001).find("user 1000, but this runs in the login of user 1001") != std::string::npos);
    }

    void rootAloneRunsTheWindowAsItsSessionsOwnerElseAsAnUnprivilegedUser()
    {
        QCOMPARE(sessionUser(1000, 1001), std::optional<uid_t>(1000));  // sudo from another's session
        QCOMPARE(sessionUser(std::nullopt, 1001), std::optional<uid_t>(1001));  // su - in a user's session
        QVERIFY(!sessionUser(std::nullopt, 0));  // root's own startx
        QVERIFY(!sessionUser(std::nullopt, std::nullopt));  // a boot script
    }

    void onlyTheLocalDisplaysCookiesAreHandedOn()
    {
        QCOMPARE(localXDisplayNumber(":0"), std::optional<std::string>("0"));
        QCOMPARE(localXDisplayNumber("unix:12.1"), std::optional<std::string>("12"));
        for (const char *remote : {"localhost:10.0", "host:0", "[::1]:0", ":", ":x", ""})
            QVERIFY2(!localXDisplayNumber(remote), remote);
        QVERIFY(localCookieFor(256, "0", "0") && localCookieFor(65535, "0", "0"));
        QVERIFY(!localCookieFor(256, "1", "0") && !localCookieFor(0, "0", "0"));  // another display, a host's
    }

    void theFramebufferIsHandedOnOnlyThroughAGroupOfItsOwnThatMayWriteIt()
    {
        struct stat node {};
        node.st_mode = S_IFCHR | 0660;
        node.st_gid = 44;
        QCOMPARE(framebufferGroup(node), std::optional<gid_t>(44));
        struct stat roots = node, readOnly = node, file = node;
        roots.st_gid = 0;
        readOnly.st_mode = S_IFCHR | 0640;
        file.st_mode = S_IFREG | 0660;
        QVERIFY(!framebufferGroup(roots) && !framebufferGroup(readOnly) && !framebufferGroup(file));
    }

    void aRuntimeFolderCountsOnlyAsTheUsersOwnClosedFolder()
    {
        struct stat folder {};
        folder.st_mode = S_IFDIR | 0700;
        folder.st_uid = 1000;
        QVERIFY(runtimeFolderProblem(folder, 1000).empty());
        QVERIFY(!runtimeFolderProblem(folder, 1001).empty());
        struct stat open = folder, link = folder;
        open.st_mode = S_IFDIR | 0755;
        link.st_mode = S_IFLNK | 0700;
        QVERIFY(!runtimeFolderProblem(open, 1000).empty());
        QVERIFY(!runtimeFolderProblem(link, 1000).empty());
    }

    void theWaylandSocketIsTheOneNamedOrTheOnlyOne()
    {
        QVERIFY(waylandSocketName("wayland-1") && !waylandSocketName("wayland-1.lock")
                && !waylandSocketName("../wayland-1") && !waylandSocketName("sway-ipc.1000.5.sock"));
        std::string problem;
        QCOMPARE(chooseWaylandSocket({"wayland-0"}, "", &problem), std::optional<std::string>("wayland-0"));
        QCOMPARE(chooseWaylandSocket({"wayland-0", "wayland-1"}, "wayland-1", &problem),
                 std::optional<std::string>("wayland-1"));
        QVERIFY(!chooseWaylandSocket({"wayland-0", "wayland-1"}, "", &problem));
        QVERIFY(problem.find("wayland-0, wayland-1") != std::string::npos);
        QVERIFY(!chooseWaylandSocket({"wayland-0"}, "wayland-2", &problem));
    }

    void theWindowEnvironmentHoldsTheUsersOwnAndTheDisplayAlone()
    {
        const WindowEnvironment environment{"ann", "/home/ann", std::nullopt, {{"DISPLAY", ":0"}, {"XAUTHORITY", "a\nb"}}};
        QCOMPARE(environmentStrings(environment),
                 (std::vector<std::string>{"HOME=/home/ann", "USER=ann", "LOGNAME=ann", "DISPLAY=:0"}));
    }
};

QTEST_APPLESS_MAIN(HandoverTest)
#include "test_handover.moc"
