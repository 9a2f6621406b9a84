// SPDX-License-Identifier: MIT
#include "running_session.h"

#include "apply_in_session.h"
#include "said.h"
#include "handover/session_answer.h"
#include "input/listing.h"
#include "root_part.h"
#include "session_state_text.h"
#include "sway_ipc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

const UserSession *askedAs = nullptr;

// How long the user's part may take to set or put back a calibration, and to read back what
// X and sway use after a re-add (sway's read-back and X's wait for the re-add, and a margin).
constexpr std::chrono::seconds kSettingLimit{20};
constexpr std::chrono::seconds kWatchingLimit{10};
constexpr std::chrono::seconds kReadBackLimit = kSwayReadBackTime + std::chrono::seconds(15);
// What sets, puts back or reads the session ends by root's bound alone: a Ctrl-C never stops it
// halfway.
constexpr bool kUserMayStop = false;

std::string userName()
{
    return askedAs ? printable(askedAs->environment.name) : std::string();
}

ApplyReport setDirectly(const DeviceInfo &device, const XCalibration &calibration, const std::string &output,
                        bool xOnly)
{
    return xOnly ? applyToRunningX(device.path, calibration) : applyInSession(device, calibration, output);
}

std::string putBackDirectly(const DeviceInfo &device, const ApplyReport &set)
{
    return set.swayBefore ? restoreSway(device, *set.swayBefore) : restoreXProperties(set.xBefore);
}

// What a part run as the session's user answers once ask() has set or read the session,
// taken with these keys alone; nullopt where it gave none within limit.
std::optional<SessionAnswer> askAsUser(const std::function<SessionAnswer()> &ask, std::chrono::milliseconds limit,
                                       const std::vector<std::string> &keys)
{
    UserPart part(*askedAs, {}, [&](int fd) { return writeAll(fd, sessionAnswerText(ask())) ? 0 : 1; },
                  kUserMayStop);
    const std::optional<std::string> text = part.answer(limit);
    return text ? readSessionAnswer(*text, keys) : std::nullopt;
}

} // namespace

void askRunningSessionAs(const UserSession *session)
{
    askedAs = session;
}

ApplyReport setOnSession(const DeviceInfo &device, const XCalibration &calibration, const std::string &output,
                         bool xOnly)
{
    if (!askedAs)
        return setDirectly(device, calibration, output, xOnly);
    const std::optional<SessionAnswer> answer = askAsUser([&] {
        const ApplyReport set = setDirectly(device, calibration, output, xOnly);
        SessionAnswer said;
        said.add("ok", set.ok ? "1" : "0");
        said.add("text", set.text);
        said.add("putback", putBackText(set));
        said.add("byhand", putBackByHand(set));
        return said;
    }, kSettingLimit, {"ok", "text", "putback", "byhand"});
    ApplyReport set;
    if (!answer || !answer->value("ok") || !answer->value("text") || !answer->value("putback")) {
        set.text = "the part that sets it as " + userName() + " gave no answer: the touch screen's X devices may "
                   "hold a part of it until it is unplugged and plugged in again\n";
        return set;
    }
    set.ok = answer->value("ok") == "1";
    set.text = printableLines(*answer->value("text"));
    set.userPutBack = *answer->value("putback");
    set.byHand = printable(answer->value("byhand").value_or(""));
    return set;
}

std::string putBackOnSession(const DeviceInfo &device, const ApplyReport &set)
{
    if (!askedAs)
        return putBackDirectly(device, set);
    const std::optional<SessionAnswer> answer = askAsUser([&] {
        ApplyReport before;
        SessionAnswer said;
        if (readPutBack(set.userPutBack, &before))
            said.add("text", putBackDirectly(device, before));
        else
            said.add("unread", "");
        return said;
    }, kSettingLimit, {"text", "unread"});
    if (answer && answer->value("unread"))
        return "what was there before came back from root in pieces, so nothing was put back. Finish it by hand: "
            + set.byHand;
    if (!answer || !answer->value("text"))
        return "the part that puts it back as " + userName() + " gave no answer. Finish it by hand: " + set.byHand;
    const std::string notBack = printableLines(*answer->value("text"));
    return notBack.empty() ? notBack : notBack.substr(0, notBack.size() - 1);
}

std::optional<std::vector<XChain>> settledXChains(const std::string &path, std::chrono::milliseconds quiet,
                                                  std::chrono::milliseconds limit)
{
    if (!askedAs)
        return xChainsOnceSettled(path, quiet, limit);
    const std::optional<SessionAnswer> answer = askAsUser([&] {
        SessionAnswer said;
        for (const XChain &chain : xChainsOnceSettled(path, quiet, limit))
            said.add("chain", xChainText(chain));
        return said;
    }, limit + kSettingLimit, {"chain"});
    if (!answer)
        return std::nullopt;
    std::vector<XChain> chains;
    for (const std::string &value : answer->values("chain")) {
        const std::optional<XChain> chain = readXChain(value);
        if (!chain)
            return std::nullopt;
        chains.push_back(*chain);
    }
    return chains;
}

struct SessionReadBack::Direct {
    DeviceInfo device;
    std::optional<Matrix> expected;
    std::optional<OntoMonitor> onto;
    XReAddWatch watch;
    bool xAnswers = false;

    Direct(const DeviceInfo &readDevice, const std::optional<Matrix> &expectedMatrix,
           const std::optional<OntoMonitor> &ontoMonitor, dev_t node)
        : device(readDevice), expected(expectedMatrix), onto(ontoMonitor), watch(node)
    {
        xAnswers = watch.watching() || xScreenLayout().has_value();
    }

    std::string swayReport(bool swayHolds, bool *ok) const;
    std::string xReadBack(bool *ok);
    std::string after(bool swayHolds, bool *ok)
    {
        std::string report = swayReport(swayHolds, ok);
        if (watch.watching())
            report += xReadBack(ok);
        else if (!xAnswers && std::getenv("DISPLAY") && *std::getenv("DISPLAY") && !inSway())
            report += "X (DISPLAY=" + printable(std::getenv("DISPLAY")) + ") does not answer this user: what X "
                      "uses was not checked.\n";
        return report;
    }
};

// What sway uses; where its socket is not found, a word only when sway holds the device (a
// user's missing runtime folder says nothing on X).
std::string SessionReadBack::Direct::swayReport(bool swayHolds, bool *ok) const
{
    const SwaySocket socket = swaySocket();
    if (socket.path.empty())
        return !swayHolds ? ""
            : "What sway uses was not checked: "
                + (socket.problem.empty() ? std::string("its socket was not found") : socket.problem) + ".\n";
    if (!expected)
        return {};
    const std::optional<std::string> swayMatrix = swayReadBack(device, expected->text());
    if (!swayMatrix)
        return "sway did not answer on its socket within " + std::to_string(kSwayReadBackTime.count())
            + " seconds: what it uses was not checked.\n";
    if (swayMatrix->empty())
        return "sway does not show the device yet: what it uses was not checked.\n";
    if (*swayMatrix != expected->text()) {
        *ok = false;
        return "sway uses " + printable(*swayMatrix) + ", not udev's matrix: a matrix set through its "
               "IPC or in its config overrides udev's on every re-add (remove that input's "
               "calibration_matrix line and reload sway).\n";
    }
    return "sway reads it now.\n";
}

// What X uses after the re-add, once X has removed its old devices of the node and added it
// again; maps it onto the monitor again.
std::string SessionReadBack::Direct::xReadBack(bool *ok)
{
    if (!watch.waitForReAdd(std::chrono::seconds(5)))
        return "X has not added the device again: its X configuration may not take devices from "
               "udev (AutoAddDevices off); restart X to load the rule.\n";
    std::string report;
    for (const XDeviceMatrix &x : xDeviceMatrices(device.path)) {
        report += "X device " + std::to_string(x.id) + " \"" + x.name + "\" ";
        if (!x.libinput) {
            report += "is driven by evdev, which does not read udev's matrix: use --xorg for it.\n";
            *ok = false;
        } else if (expected && (!x.matrix || !x.matrix->same(*expected))) {
            report += "does not use udev's matrix: an xorg.conf.d CalibrationMatrix option "
                      "overrides it.\n";
            *ok = false;
        } else {
            report += expected ? "reads it now.\n" : "is back to no calibration.\n";
        }
    }
    report += "X added the device again (its ids may be new): undo lines printed before no longer "
              "apply.\n";
    if (onto) {
        const std::string refused = setTransformation(device.path, onto->transformation);
        report += refused.empty() ? "Mapped it onto the monitor " + printable(onto->monitor.name) + " again.\n"
                                  : "Could not map it onto its monitor again: " + refused + "\n";
    }
    return report;
}

struct SessionReadBack::AsUser {
    UserPart part;
    bool watching = false;
};

SessionReadBack::SessionReadBack(const DeviceInfo &device, const std::optional<Matrix> &expected,
                                 const std::optional<OntoMonitor> &onto)
{
    struct stat node;
    const dev_t rdev = ::stat(device.path.c_str(), &node) == 0 && S_ISCHR(node.st_mode) ? node.st_rdev : 0;
    if (!askedAs) {
        direct = std::make_unique<Direct>(device, expected, onto, rdev);
        return;
    }
    // The user's part watches X from before the re-add, says so, and reads back once root says
    // the re-add is done and whether sway holds the device.
    asUser.reset(new AsUser{UserPart(*askedAs, {}, [&](int fd) {
        Direct watched(device, expected, onto, rdev);
        if (!writeAll(fd, "watching\n"))
            return 1;
        char word[8] = {};
        if (::read(fd, word, sizeof word) < 2 || (word[0] != '0' && word[0] != '1') || word[1] != '\n')
            return 1;
        bool ok = true;
        const std::string report = watched.after(word[0] == '1', &ok);
        SessionAnswer answer;
        answer.add("ok", ok ? "1" : "0");
        answer.add("text", report);
        return writeAll(fd, sessionAnswerText(answer)) ? 0 : 1;
    }, kUserMayStop), false});
    asUser->watching = asUser->part.heard("watching\n", kWatchingLimit);
}

SessionReadBack::~SessionReadBack() = default;

std::string SessionReadBack::after(bool swayHolds, bool *ok)
{
    if (direct)
        return direct->after(swayHolds, ok);
    const std::optional<std::string> text = asUser->watching && asUser->part.tell(swayHolds ? "1\n" : "0\n")
        ? asUser->part.answer(kReadBackLimit) : std::nullopt;
    const std::optional<SessionAnswer> answer = text ? readSessionAnswer(*text, {"ok", "text"}) : std::nullopt;
    if (!answer || !answer->value("ok") || !answer->value("text"))
        return "What X and sway use was not checked: the part that reads them as " + userName()
            + " gave no answer.\n";
    if (answer->value("ok") != "1")
        *ok = false;
    return printableLines(*answer->value("text"));
}
