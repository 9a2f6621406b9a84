// SPDX-License-Identifier: MIT
#include "root_part.h"

#include "said.h"
#include "forms/driver_forms.h"
#include "geometry/fit.h"
#include "geometry/target_sequence.h"
#include "geometry/x_chain.h"
#include "handover/handover.h"
#include "install.h"
#include "pointercal.h"
#include "put_back_list.h"
#include "running_session.h"
#include "sway_ipc.h"
#include "udev/rules_file.h"
#include "TouchCheckWidget.h"

#include <utility>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cmath>
#include <limits>

namespace {

// Why the check did not keep the calibration, from what its window handed over.
std::string whyNotKept(const WindowPartEnd &end, const std::optional<TouchVerdict> &verdict, int signal)
{
    if (signal)
        return "Interrupted by signal " + std::to_string(signal) + " during the check.";
    if (!verdict)
        return end.timedOut ? "The check window gave no answer in time."
                            : "The check window ended without an answer (" + std::to_string(end.status) + ").";
    if (verdict->kind == TouchVerdict::Kind::Off)
        return "The touch landed " + std::to_string(verdict->pixels) + " px from the target, twice: something "
               "turns or overrides the calibration (the lines above may say what).";
    return verdict->none == "timeout" ? "No touch on the target within "
                   + std::to_string(TouchCheckWidget::kSeconds) + " s."
        : verdict->none == "esc" ? "Esc was pressed in the check window."
                                 : "The check window was closed.";
}

// Everything root changed put back, after why; status 1, or the end a signal held meanwhile
// (or one that came during the put-back) asks for.
int notKept(const std::string &why, int signal)
{
    int duringPutBack = 0;
    whatRootChanged().putBackAll(why, &duringPutBack);
    const int status = finishOutput(1);
    const int end = signal ? signal : duringPutBack ? duringPutBack : heldSignal();
    if (end)
        endBySignal(128 + end);
    return status;
}

// Everything root changed stays, as the check touch confirmed: status 0.
int kept(int pixels)
{
    whatRootChanged().keepAll();
    std::printf("Kept: your touch landed %d px from the target.\n", pixels);
    return finishOutput(0);
}

// The check by a touch, once what is to be kept is set: kept (status 0) when the touch lands
// within the bound; otherwise everything root changed is put back, status 1, or 128 + a signal
// held meanwhile.
int keptIfTouched(const HeldUntilRestored &held, int bound, const std::function<WindowPartEnd()> &touchCheck)
{
    std::fputs("\nCheck: touch the target on the screen to keep this calibration.\n", stdout);
    finishOutput(0);
    const WindowPartEnd end = touchCheck();
    const std::optional<TouchVerdict> verdict = end.handover ? readTouchVerdict(*end.handover, bound) : std::nullopt;
    if (!held.signal() && verdict && verdict->kind == TouchVerdict::Kind::Kept)
        return kept(verdict->pixels);
    return notKept(whyNotKept(end, verdict, held.signal()), held.signal());
}

// What was set on the running X or sway, listed to be put back and read back.
PutBackList::Id listLive(const ApplyReport &live, const DeviceInfo &info)
{
    return whatRootChanged().add([live, info](int *) {
        const std::string notBack = putBackOnSession(info, live);
        std::printf("%s\n", notBack.empty() ? "The old calibration is back."
                                            : ("The old calibration is NOT back: " + notBack).c_str());
        return notBack.empty();
    });
}

// The rules file as the install changed it, listed to be put back, re-added and read back.
PutBackList::Id listRules(const RulesChange &change, const DeviceInfo &info, const std::optional<OntoMonitor> &onto)
{
    return whatRootChanged().add([change, info, onto](int *signal) { return restoreRules(info, change, onto, signal); });
}

// On X with libinput the calibration is tried on the running X's devices before the rules file
// is written: a power loss or SIGKILL during the check leaves the old file, and the re-add that
// follows the write gives the devices udev's matrix again. Not on sway, whose run-time setting
// would stay an override of udev's and hide the one in its config that the read-back must see;
// nor where X does not drive the device with libinput (evdev, Xwayland).
std::optional<PutBackList::Id> tryOnX(const Handover &handover, const DeviceInfo &info,
                                      const std::optional<OntoMonitor> &onto, const Keeping &keeping)
{
    if (!keeping.layout || inSway())
        return std::nullopt;
    const ApplyReport live = setOnSession(info, {handover.kept(), std::nullopt, *info.x, *info.y, onto}, "", true);
    if (!live.ok)
        return std::nullopt;
    std::fputs("Set on the running X first; the rules file is written once the check has passed.\n", stdout);
    return listLive(live, info);
}

// How long a desktop may take to set its own properties on a device X has added again, and how
// long they must then stay unchanged before what X applies is read.
constexpr std::chrono::seconds kDesktopLimit{6};
constexpr std::chrono::seconds kDesktopQuiet{2};

// The first X device whose whole chain (its Coordinate Transformation Matrix after libinput's
// matrix) does not put the targets where the fit does, once the re-add is done; none where all
// agree or X drives no device of the node with libinput. *unread where what X applies could not
// be read (the user's part gave no answer), or where X, which drove the device before
// (xDroveIt), has no device of it after.
struct ChainOff {
    XChain device;
    ChainFinding finding;
};

std::optional<ChainOff> xChainOff(const DeviceInfo &info, const Handover &handover,
                                  const std::optional<OntoMonitor> &onto, bool xDroveIt, bool *unread)
{
    const std::optional<std::vector<XChain>> chains = settledXChains(info.path, kDesktopQuiet, kDesktopLimit);
    // X drove the device before the re-add and has none of it now: not added again yet, or not
    // at all. Nothing was read that a touch on the live calibration could stand for.
    *unread = !chains || (xDroveIt && chains->empty());
    for (const XChain &x : chains.value_or(std::vector<XChain>())) {
        // Seen from the monitor the fit was measured on: X's map onto it undone.
        Matrix chain = x.chain();
        if (const std::optional<Matrix> fromMonitor = onto ? onto->transformation.inverse() : std::nullopt)
            chain = fromMonitor->after(chain);
        ChainFinding finding;
        finding.worstPixels = std::numeric_limits<double>::infinity();
        if (x.affine)
            finding = compareChain(chain, handover.fit, handover.width, handover.height);
        if (!finding.agrees())
            return ChainOff{x, finding};
    }
    return std::nullopt;
}

std::string chainText(const ChainOff &off)
{
    return "X device " + std::to_string(off.device.id) + " \"" + off.device.name + "\" applies its Coordinate Transformation Matrix "
        + off.device.transformation.text() + " after libinput's matrix "
        + off.device.libinput.text();
}

// How far off that chain puts touches, to end a line.
std::string howFar(const ChainFinding &finding)
{
    return std::isfinite(finding.worstPixels)
        ? "up to " + std::to_string(std::lround(finding.worstPixels)) + " px from the targets"
        : "off any calibration's plane (its last row is not 0 0 1)";
}

int installAndCheck(const Handover &handover, const DeviceInfo &info, const std::optional<OntoMonitor> &onto,
                    const Keeping &keeping)
{
    // From here on a signal ends the program only once what was written is put back.
    const HeldUntilRestored held;
    const std::optional<PutBackList::Id> live = tryOnX(handover, info, onto, keeping);
    std::optional<int> livePixels;
    if (live && !held.signal()) {
        std::fputs("\nCheck: touch the target on the screen to keep this calibration.\n", stdout);
        finishOutput(0);
        const WindowPartEnd end = keeping.touchCheck(handover.device, handover.bound);
        const std::optional<TouchVerdict> verdict =
            end.handover ? readTouchVerdict(*end.handover, handover.bound) : std::nullopt;
        if (held.signal() || !verdict || verdict->kind != TouchVerdict::Kind::Kept)
            return notKept(whyNotKept(end, verdict, held.signal()) + " Nothing was written to " + kRulesFolder + "/"
                               + kRulesFile + ".", held.signal());
        livePixels = verdict->pixels;
    }
    if (live && !livePixels)
        return notKept(whyNotKept({}, std::nullopt, held.signal()), held.signal());
    RulesChange change;
    AskKWin askKWin;
    if (keeping.askKWin)
        askKWin = [&](const Matrix &expected) { return keeping.askKWin(handover.device, expected); };
    int installed = installCalibration(info, handover.kept(), onto, keeping.port, &change,
                                       waylandOutputOf(keeping.layout, keeping.monitorName), askKWin);
    if (!change.signal)
        change.signal = held.signal();
    // The re-add gave X's devices udev's matrix: what was set live is gone with it.
    const auto listRulesInsteadOfLive = [&] {
        if (live)
            whatRootChanged().keep(*live);
        return listRules(change, info, onto);
    };
    std::optional<PutBackList::Id> rules;
    if (change.written)
        rules = listRulesInsteadOfLive();
    if (live && !change.written && (installed != 0 || change.signal))
        return notKept("\nNot kept: the rules file was not written.", change.signal);
    // Stopped before the check could start, or the read-back found that the session does not
    // use it: what was written goes, and nothing is kept with success.
    if (change.signal || (installed != 0 && change.written))
        return notKept(change.signal ? "\nInterrupted by signal " + std::to_string(change.signal)
                                   + " during the re-add: not kept."
                                     : "\nNot kept: the lines above say what the session uses instead.",
                       change.signal);
    if (installed != 0)
        return installed;
    // A file that held the matrix already: putting it back re-adds the device and reads it back.
    if (!rules)
        rules = listRulesInsteadOfLive();
    // A desktop may set the transformation when X adds the device (GNOME on X turns it with the
    // monitor): what X applies now is measured, and a turn it adds is undone in the rule, once.
    bool chainUnread = false;
    const bool onX = keeping.layout && !inSway();
    if (const std::optional<ChainOff> off = onX ? xChainOff(info, handover, onto, live.has_value(), &chainUnread)
                                                : std::nullopt) {
        const std::optional<Matrix> undone = off->finding.turn ? off->finding.turn->inverse() : std::nullopt;
        if (!undone)
            return notKept("\nNot kept: " + chainText(*off) + ", which puts touches " + howFar(off->finding) + ".",
                           held.signal());
        const Matrix kept = undone->after(off->device.libinput);
        std::printf("%s, set when X added the device, which turns touches a second time (up to %ld px off): "
                    "keeping %s instead, with that turn undone, and checking again.\n",
                    chainText(*off).c_str(), std::lround(off->finding.worstPixels), kept.text().c_str());
        RulesChange again;
        installed = kept.driverProblem().empty() ? installCalibration(info, kept, onto, keeping.port, &again) : 1;
        if (again.written) {
            // Put back from what the first install found: the file as it was before either.
            change.after = again.after;
            whatRootChanged().keep(*rules);
            rules = listRules(change, info, onto);
        }
        const int signal = again.signal ? again.signal : held.signal();
        if (signal || installed != 0)
            return notKept(signal ? "\nInterrupted by signal " + std::to_string(signal) + " during the re-add: not kept."
                                  : "\nNot kept: the lines above say what the session uses instead.",
                           signal);
        if (const std::optional<ChainOff> still = xChainOff(info, handover, onto, live.has_value(), &chainUnread))
            return notKept("\nNot kept: " + chainText(*still) + " with the turn undone too, which puts touches "
                               + howFar(still->finding) + ".",
                           held.signal());
        // The touch on the live calibration judged another chain: this one is judged afresh.
        livePixels.reset();
    }
    if (chainUnread) {
        // The touch on the live calibration says nothing of what the re-add gave X.
        std::fputs("What X applies after the re-add was not read: the check touch decides.\n", stdout);
        livePixels.reset();
    }
    if (held.signal())
        return notKept("\nInterrupted by signal " + std::to_string(held.signal()) + ": not kept.", held.signal());
    if (livePixels)
        return kept(*livePixels);
    return keptIfTouched(held, handover.bound, [&] { return keeping.touchCheck(handover.device, handover.bound); });
}

// --apply checked by a touch: what it set on the running X or sway is put back, and read back,
// unless the touch lands within the bound. Nothing is written: a power loss leaves the old state.
int applyAndCheck(const Handover &handover, const DeviceInfo &info, const std::optional<OntoMonitor> &onto,
                  const Keeping &keeping)
{
    const HeldUntilRestored held;
    const std::optional<Borders> borders = axisAlignedBorders(
        calibrationFromLibinput(handover.fit, *info.x, *info.y), handover.width, handover.height);
    const ApplyReport report =
        setOnSession(info, {handover.fit, borders, *info.x, *info.y, onto}, keeping.monitorName, false);
    if (!report.ok) {
        const int status = fail(report.text.substr(0, report.text.size() - 1));
        if (held.signal())
            endBySignal(128 + held.signal());
        return status;
    }
    std::fputs(report.text.c_str(), stdout);
    listLive(report, info);
    if (held.signal())
        return notKept(whyNotKept({}, std::nullopt, held.signal()), held.signal());
    return keptIfTouched(held, handover.bound, [&] { return keeping.touchCheck(handover.device, handover.bound); });
}

} // namespace

void endBySignal(int status)
{
    if (!whatRootChanged().empty()) {
        // The user's parts that put the session back must not be cut short by the signal
        // already noted.
        forgetHeldSignal();
        std::fflush(stdout);
        int duringPutBack = 0;
        whatRootChanged().putBackAll("", &duringPutBack);
    }
    // What the put-back said goes out, and on to the terminal where the report kept it.
    finishOutput(0);
    std::fflush(stderr);
    std::_Exit(status);
}

int keepHandedOver(const std::string &text, const std::vector<DeviceInfo> &devices,
                   const std::vector<int> &fds, const Keeping &keeping)
{
    std::string problem;
    const std::optional<Handover> handover = readHandover(text, devices.size(), TargetSequence::kTargets, &problem);
    if (!handover)
        return fail(problem + "; nothing was kept");
    const DeviceInfo &info = devices[handover->device];
    // Where X maps the device onto one monitor of several, that is the touch screen's, as the
    // window took it.
    Keeping given = keeping;
    struct stat node;
    if (keeping.layout && keeping.monitorName.empty() && ::fstat(fds[handover->device], &node) == 0
        && S_ISCHR(node.st_mode)) {
        if (const std::optional<Monitor> mapped = xMappedMonitor(node.st_rdev, *keeping.layout))
            given.monitor = mapped;
    }
    // A window part asked X as the user, and found that itself.
    if (!keeping.layout && handover->onX) {
        const XPlace &x = *handover->onX;
        given.monitor = Monitor{x.monitor, x.x, x.y, x.width, x.height};
        given.layout = XScreenLayout{x.screenWidth, x.screenHeight, {*given.monitor}, 0};
    }
    const std::optional<OntoMonitor> onto = ontoMonitor(given.layout, given.monitor);
    std::fputs("\n", stdout);
    if (keeping.install && keeping.touchCheck)
        return installAndCheck(*handover, info, onto, given);
    if (keeping.install)
        return installCalibration(info, handover->kept(), onto, keeping.port, nullptr,
                                  waylandOutputOf(given.layout, given.monitorName));
    if (keeping.touchCheck)
        return applyAndCheck(*handover, info, onto, given);
    const std::optional<Borders> borders = axisAlignedBorders(
        calibrationFromLibinput(handover->fit, *info.x, *info.y), handover->width, handover->height);
    const ApplyReport report =
        setOnSession(info, {handover->fit, borders, *info.x, *info.y, onto}, keeping.monitorName, false);
    if (!report.ok)
        return fail(report.text.substr(0, report.text.size() - 1));
    std::fputs(report.text.c_str(), stdout);
    return finishOutput(0);
}

int installPointercalAndCheck(const std::string &line, int bound, const std::function<WindowPartEnd()> &touchCheck)
{
    const HeldUntilRestored held;
    PointercalChange change;
    const int installed = installPointercal(line, &change);
    if (installed != 0 || !change.written) {
        if (held.signal())
            endBySignal(128 + held.signal());
        return installed;
    }
    whatRootChanged().add([change](int *) { return restorePointercal(change); });
    return keptIfTouched(held, bound, touchCheck);
}

int keepPointercalHandedOver(const std::string &text, const std::vector<DeviceInfo> &devices,
                             const FramebufferChoice &framebuffer,
                             const std::function<WindowPartEnd(size_t device, int bound)> &touchCheck)
{
    std::string problem;
    const std::optional<Handover> handover = readHandover(text, devices.size(), TargetSequence::kTargets, &problem);
    if (!handover)
        return fail(problem + "; nothing was kept");
    const DeviceInfo &info = devices[handover->device];
    std::string said;
    const std::optional<std::pair<int, int>> size =
        pointercalSize(framebuffer, std::pair(handover->width, handover->height), &said);
    if (!size)
        return fail(said + "; nothing was kept");
    const std::optional<std::string> line = pointercalLine(
        calibrationFromLibinput(handover->fit, tslibX(info), tslibY(info)), size->first, size->second);
    if (!line)
        return fail("the calibration does not fit tslib's integers; nothing was kept");
    std::fputs(("\n" + said).c_str(), stdout);
    if (!touchCheck)
        return installPointercal(*line);
    return installPointercalAndCheck(*line, handover->bound,
                                     [&] { return touchCheck(handover->device, handover->bound); });
}
