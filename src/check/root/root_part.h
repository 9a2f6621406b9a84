// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_ROOT_PART_H
#define KESTRILAVON_ROOT_PART_H

#include "framebuffer/framebuffer.h"
#include "input/devices.h"
#include "user_session_found.h"
#include "x_input.h"

#include <signal.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// --calibrate under sudo or pkexec, root's side: root opens the devices and keeps the result;
// the window in between runs as the user who asked, in a child of its own.

// What the window part left: its hand-over, unchecked, where one came; its status otherwise.
struct WindowPartEnd {
    std::optional<std::string> handover;
    int status = 1;
    bool timedOut = false;  // it had handed nothing over when the time was up
};

// How long the calibration's window may take: a user who calibrates slowly, not one who left.
constexpr std::chrono::seconds kWindowTime{600};

// While it lives, SIGINT, SIGTERM, SIGHUP and SIGQUIT are only noted (those ignored from the
// start stay ignored), and a wait for the window part ends at once: what root changed is put
// back before the program ends as the signal asked.
class HeldUntilRestored {
public:
    HeldUntilRestored();
    ~HeldUntilRestored();
    HeldUntilRestored(const HeldUntilRestored &) = delete;
    HeldUntilRestored &operator=(const HeldUntilRestored &) = delete;
    int signal() const;  // the first noted, or 0

private:
    struct sigaction before[4];
};

// The signal a HeldUntilRestored noted, or 0: a window in this process ends on it.
int heldSignal();

// Where a held signal ends the program once root's changes are put back (endBySignal, with
// 128 + the signal), putBack runs first: what the session's user changed for the measurement.
void putBackBeforeSignalEnd(std::function<void()> putBack);
[[noreturn]] void endBySignal(int status);

// Forks the window part, which drops to the session's user keeping only the devices and the
// hand-over's pipe, then runs window with the pipe's end to write to. Waits for the hand-over
// for at most limit (less when a signal is held); the child is killed and reaped before this
// returns.
WindowPartEnd runWindowPart(const UserSession &session, const std::vector<int> &devices,
                            const std::function<int(int handoverFd)> &window,
                            std::chrono::seconds limit = kWindowTime);

// A child of root's that runs as the session's user: a window part, or one with no device for
// what root is not to do itself, set or read what the user's session holds (X, sway). It talks
// over a socket pair; root's side bounds every wait. Killed, at the latest, and reaped when
// this goes.
class UserPart {
public:
    UserPart(const UserSession &session, const std::vector<int> &devices, const std::function<int(int fd)> &body);
    ~UserPart();
    UserPart(const UserPart &) = delete;
    UserPart &operator=(const UserPart &) = delete;

    bool started() const { return fd >= 0; }
    // Sends it a line.
    bool tell(const std::string &line);
    // Whether its next line, within limit, is exactly line (with its newline).
    bool heard(const std::string &line, std::chrono::milliseconds limit);
    // What it writes until it ends, within limit, where it ends with status 0; nullopt
    // otherwise. It is gone once this returns.
    std::optional<std::string> answer(std::chrono::milliseconds limit);
    // What a window part hands over, as runWindowPart reads it; where lines is given and it
    // writes that many without ending, it is left running for more (status 0).
    WindowPartEnd handOver(std::chrono::milliseconds limit, long lines = 0);
    // Closes root's side and lets it end on its own, for a moment, before it is killed.
    void letGo();

private:
    pid_t child = -1;
    int fd = -1;
};

// What root is to do with a hand-over.
struct Keeping {
    bool install = false;  // else apply on the running session
    bool port = false;
    std::optional<XScreenLayout> layout;
    std::optional<Monitor> monitor;
    std::string monitorName;  // as --output named it
    // Shows the check target on the device (its index) with the bound, as the user, and
    // returns what that window part handed over; none where nothing is to be checked.
    std::function<WindowPartEnd(size_t device, int bound)> touchCheck;
    // Asks KWin, as the user, what matrix it uses for the device (its index) after the re-add;
    // none where no user's part can ask.
    std::function<std::optional<std::string>(size_t device, const Matrix &expected)> askKWin;
};

// Checks the hand-over as --matrix is checked (nothing kept on a problem, status 1), then
// installs the matrix it comes to, or applies it, as --install and --apply do. An install is
// then checked by a touch: kept (status 0) only when the touch lands within the bound;
// otherwise the rules file is put back and read back (status 1, or 128 + a signal that came).
int keepHandedOver(const std::string &text, const std::vector<DeviceInfo> &devices,
                   const std::vector<int> &fds, const Keeping &keeping);

// Writes tslib's pointercal line, then checks it by a touch as keepHandedOver checks a rule:
// the file is put back unless the touch lands within the bound.
int installPointercalAndCheck(const std::string &line, int bound, const std::function<WindowPartEnd()> &touchCheck);

// --calibrate --install --tslib, root's side: the hand-over checked as keepHandedOver checks it,
// then tslib's pointercal line made here from its fit, for the framebuffer's visible size (else
// the window's), written, and checked by a touch where touchCheck is given, as
// installPointercalAndCheck does.
int keepPointercalHandedOver(const std::string &text, const std::vector<DeviceInfo> &devices,
                             const FramebufferChoice &framebuffer,
                             const std::function<WindowPartEnd(size_t device, int bound)> &touchCheck);

#endif
