// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_USER_PART_H
#define KESTRILAVON_USER_PART_H

#include "user_session_found.h"

#include <signal.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Root's children that run as the session's user (the window part, and those that set or read
// what the user's session holds), and the signals root holds while it waits for them: every
// wait is bounded, and each child is reaped before root goes on without it.

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
// One made while another lives keeps what that one noted.
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

// Forgets a signal noted: what puts the session back then waits for its own children.
void forgetHeldSignal();

// Forks the window part, which drops to the session's user keeping only the devices and its
// end of a socket pair, then runs window with that end to write to. Waits for the hand-over
// for at most limit (less when a signal is held); the child is killed and reaped before this
// returns.
WindowPartEnd runWindowPart(const UserSession &session, const std::vector<int> &devices,
                            const std::function<int(int handoverFd)> &window,
                            std::chrono::seconds limit = kWindowTime);

// While root keeps what it says for a report, its standard streams are a memory file that a
// user's process given them could rewrite or fill. The parts forked meanwhile write theirs into a
// pipe that root alone reads instead: started here (false where no pipe could be made), read by
// takeUserPartsWords (in whole lines made printable, kUserPartsWordsLimit in all), and ended by
// stopCollectingUserPartsWords, after which parts forked get root's streams again.
bool startCollectingUserPartsWords();
std::string takeUserPartsWords();
void stopCollectingUserPartsWords();
constexpr size_t kUserPartsWordsLimit = 64 * 1024;

// In such a child: whether all of text went out to root on fd.
bool writeAll(int fd, const std::string &text);

// A child of root's that runs as the session's user: a window part, or one with no device for
// what root is not to do itself, set or read what the user's session holds (X, sway). It talks
// over a socket pair; root's side bounds every wait. Killed, at the latest, and reaped when
// this goes.
class UserPart {
public:
    // Where userMayStop, the held signals end it as they would end any program of the user's
    // (a window part); otherwise it ignores them, and root's bound alone ends it.
    UserPart(const UserSession &session, const std::vector<int> &devices, const std::function<int(int fd)> &body,
             bool userMayStop = true);
    ~UserPart();
    UserPart(const UserPart &) = delete;
    UserPart &operator=(const UserPart &) = delete;

    bool started() const { return fd >= 0; }
    // Sends it a line.
    bool tell(const std::string &line);
    // Sends it text, all of it within limit, and then the end of root's side: whether it went.
    bool tellLast(const std::string &text, std::chrono::milliseconds limit);
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

#endif
