// SPDX-License-Identifier: MIT
#include "user_part.h"

#include "handover/handover.h"
#include "handover/session_answer.h"
#include "input/listing.h"
#include "signals/signals_at_start.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

namespace {

// A word on the standard error stream, as the program says its problems.
void say(const std::string &line)
{
    std::fprintf(stderr, "kestrilavon-check: %s\n", line.c_str());
}

// How long a window part that handed nothing over may take to end on its own.
constexpr std::chrono::seconds kEndingTime{2};

// The window part's status once it is gone: its own exit status, or 1 where it was killed.
int endChild(pid_t child, bool waitFirst)
{
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + (waitFirst ? kEndingTime : std::chrono::seconds(0));
    pid_t ended = 0;
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (ended == 0) {
        ::kill(child, SIGKILL);
        while ((ended = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
        }
    }
    return ended == child && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

volatile sig_atomic_t interruptedBy = 0;

void noteInterruption(int signal)
{
    if (!interruptedBy)
        interruptedBy = signal;
}

constexpr int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// How many holds are in force: one within another keeps the signal the outer one noted.
int holdDepth = 0;

// The pipe the user parts' standard streams go into while root keeps what it says.
struct UserPartsWords {
    int read = -1, write = -1;
    std::string partial;  // a line not yet ended
    size_t taken = 0;
} words;

// The text the child writes before it closes its side (or, where lines is given, once it has
// written that many lines), read within the time left; a text longer than limit is cut there
// (and refused when checked). Where stopOnSignal, a signal noted by HeldUntilRestored ends the
// wait too.
std::string readWithin(int fd, std::chrono::steady_clock::time_point deadline, bool *ended,
                       size_t limit = kHandoverLimit, bool stopOnSignal = true, long lines = 0)
{
    std::string text;
    char buffer[256];
    while (text.size() <= limit && (lines == 0 || std::count(text.begin(), text.end(), '\n') < lines)) {
        // Noted before this wait began, or between two reads.
        if (stopOnSignal && interruptedBy)
            return text;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        const int polled = left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
        if (polled < 0 && errno == EINTR && interruptedBy && stopOnSignal)
            return text;
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return text;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            *ended = true;
            return text;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

// Forks a child that drops to the session's user, keeping only the devices and childEnd, and
// runs body with childEnd; -1 where it could not be started (said).
pid_t forkAsUser(const UserSession &session, const std::vector<int> &devices, int childEnd,
                 const std::function<int(int fd)> &body, bool userMayStop)
{
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child < 0) {
        say(std::string("could not start the part that runs as the user: ") + std::strerror(errno));
        return -1;
    }
    if (child == 0) {
        // Root's note of a signal is root's: the window is the user's to stop.
        // The terminal's Ctrl-C reaches root's whole process group. One that sets or puts back
        // what the session holds finishes it, within root's bound, as root would have.
        for (const int signal : kRestoringSignals) {
            if (userMayStop)
                defaultUnlessIgnoredAtStart(signal);
            else
                ::signal(signal, SIG_IGN);
        }
        if (words.write >= 0 && (::dup2(words.write, STDOUT_FILENO) < 0 || ::dup2(words.write, STDERR_FILENO) < 0))
            ::_exit(1);
        std::vector<int> keep = devices;
        keep.push_back(childEnd);
        std::string problem;
        if (!dropToUser(session, keep, &problem)) {
            say(problem);
            ::_exit(1);
        }
        const int status = body(childEnd);
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(status);
    }
    return child;
}

} // namespace

bool startCollectingUserPartsWords()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    // Root reads only when it says something itself: what a part says beyond what the pipe
    // holds until then is lost, rather than the part held up on it.
    ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
    words = {ends[0], ends[1], {}, 0};
    return true;
}

std::string takeUserPartsWords()
{
    std::string lines;
    char buffer[4096];
    for (ssize_t got; words.read >= 0 && ((got = ::read(words.read, buffer, sizeof buffer)) > 0
                                          || (got < 0 && errno == EINTR));) {
        words.partial.append(buffer, static_cast<size_t>(std::max<ssize_t>(got, 0)));
        for (size_t end; (end = words.partial.find('\n')) != std::string::npos;) {
            const std::string line = printable(words.partial.substr(0, end)) + "\n";
            words.partial.erase(0, end + 1);
            if (words.taken + line.size() <= kUserPartsWordsLimit) {
                words.taken += line.size();
                lines += line;
            }
        }
        // A line with no end in sight is dropped whole.
        if (words.partial.size() > kUserPartsWordsLimit)
            words.partial.clear();
    }
    return lines;
}

void stopCollectingUserPartsWords()
{
    // A part still running that writes later gets EPIPE: SIGPIPE is ignored from the start.
    for (const int fd : {words.read, words.write}) {
        if (fd >= 0)
            ::close(fd);
    }
    words = {};
}

HeldUntilRestored::HeldUntilRestored()
{
    if (holdDepth++ == 0)
        interruptedBy = 0;
    struct sigaction note {};
    note.sa_handler = noteInterruption;
    sigemptyset(&note.sa_mask);
    for (size_t i = 0; i < std::size(kRestoringSignals); ++i)
        catchUnlessIgnoredAtStart(kRestoringSignals[i], note, &before[i]);
}

HeldUntilRestored::~HeldUntilRestored()
{
    --holdDepth;
    for (size_t i = 0; i < std::size(kRestoringSignals); ++i)
        ::sigaction(kRestoringSignals[i], &before[i], nullptr);
}

int HeldUntilRestored::signal() const
{
    return interruptedBy;
}

int heldSignal()
{
    return interruptedBy;
}

void forgetHeldSignal()
{
    interruptedBy = 0;
}

bool writeAll(int fd, const std::string &text)
{
    for (size_t written = 0; written < text.size();) {
        const ssize_t wrote = ::write(fd, text.data() + written, text.size() - written);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        written += static_cast<size_t>(wrote);
    }
    return true;
}

WindowPartEnd runWindowPart(const UserSession &session, const std::vector<int> &devices,
                            const std::function<int(int handoverFd)> &window, std::chrono::seconds limit)
{
    return UserPart(session, devices, window).handOver(limit);
}

UserPart::UserPart(const UserSession &session, const std::vector<int> &devices, const std::function<int(int fd)> &body,
                   bool userMayStop)
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        say(std::string("no socket for the part that runs as the user: ") + std::strerror(errno));
        return;
    }
    child = forkAsUser(session, devices, ends[1], body, userMayStop);
    ::close(ends[1]);
    if (child < 0)
        ::close(ends[0]);
    else
        fd = ends[0];
}

UserPart::~UserPart()
{
    letGo();
}

void UserPart::letGo()
{
    if (fd >= 0)
        ::close(std::exchange(fd, -1));
    if (child > 0)
        endChild(std::exchange(child, -1), true);
}

bool UserPart::tell(const std::string &line)
{
    return fd >= 0 && ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
}

bool UserPart::tellLast(const std::string &text, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // A part that reads no more, or slowly, holds root no longer than limit.
    for (size_t sent = 0; fd >= 0 && sent < text.size();) {
        pollfd ready{fd, POLLOUT, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int polled = left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return false;
        const ssize_t put = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (put <= 0)
            return false;
        sent += static_cast<size_t>(put);
    }
    return fd >= 0 && ::shutdown(fd, SHUT_WR) == 0;
}

bool UserPart::heard(const std::string &line, std::chrono::milliseconds limit)
{
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char c = 0;
    while (fd >= 0 && got.size() <= line.size()) {
        pollfd ready{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int polled = left.count() > 0 ? ::poll(&ready, 1, static_cast<int>(left.count())) : 0;
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0 || ::read(fd, &c, 1) != 1)
            return false;
        got += c;
        if (c == '\n')
            return got == line;
    }
    return false;
}

std::optional<std::string> UserPart::answer(std::chrono::milliseconds limit)
{
    if (fd < 0)
        return std::nullopt;
    bool ended = false;
    std::string text = readWithin(fd, std::chrono::steady_clock::now() + limit, &ended, kSessionAnswerLimit, false);
    ::close(std::exchange(fd, -1));
    const int status = endChild(std::exchange(child, -1), ended);
    if (!ended || status != 0)
        return std::nullopt;
    return text;
}

WindowPartEnd UserPart::handOver(std::chrono::milliseconds limit, long lines)
{
    WindowPartEnd end;
    if (fd < 0)
        return end;
    bool ended = false;
    const std::string text =
        readWithin(fd, std::chrono::steady_clock::now() + limit, &ended, kHandoverLimit, true, lines);
    // A hand-over comes whole before the window part closes its side or, where it stays for
    // more, as its lines; one longer than any goes to the check, which says so.
    const bool tooLong = text.size() > kHandoverLimit;
    const bool whole = lines > 0 && std::count(text.begin(), text.end(), '\n') >= lines;
    if ((ended && !text.empty()) || tooLong || whole)
        end.handover = text;
    end.timedOut = !ended && !tooLong && !whole && !interruptedBy;
    if (whole && !ended && !tooLong) {
        end.status = 0;
        return end;
    }
    ::close(std::exchange(fd, -1));
    // At the end of what it writes it is on its way out.
    end.status = endChild(std::exchange(child, -1), ended);
    return end;
}

