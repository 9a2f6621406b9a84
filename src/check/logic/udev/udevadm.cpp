// SPDX-License-Identifier: MIT
#include "udev/udevadm.h"

#include "udev/device_holders.h"
#include "input/event_device.h"
#include "signals/signals_at_start.h"

#include <libudev.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <optional>
#include <thread>

namespace {

const char *udevadmProgram()
{
    for (const char *path : {"/usr/bin/udevadm", "/bin/udevadm", "/sbin/udevadm", "/usr/sbin/udevadm"}) {
        if (::access(path, X_OK) == 0)
            return path;
    }
    return "/usr/bin/udevadm";
}

} // namespace

udev *udevContext()
{
    static udev *context = udev_new();
    return context;
}

std::string sysfsPathOf(dev_t device)
{
    udev_device *found = udevContext() ? udev_device_new_from_devnum(udevContext(), 'c', device) : nullptr;
    const std::string path = found && udev_device_get_syspath(found) ? udev_device_get_syspath(found) : "";
    if (found)
        udev_device_unref(found);
    return path;
}

std::string sysfsPathOfNode(const std::string &path)
{
    struct stat node;
    return ::stat(path.c_str(), &node) == 0 && S_ISCHR(node.st_mode) ? sysfsPathOf(node.st_rdev)
                                                                      : std::string();
}

std::string deviceNodeOf(const std::string &sysfsPath)
{
    udev_device *device = udevContext() ? udev_device_new_from_syspath(udevContext(), sysfsPath.c_str()) : nullptr;
    const char *node = device ? udev_device_get_devnode(device) : nullptr;
    const std::string path = node ? node : "";
    if (device)
        udev_device_unref(device);
    return path;
}

int udevadm(const std::vector<std::string> &arguments, std::string *output)
{
    int pipeFds[2] = {-1, -1};
    if (output && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    std::vector<char *> argv;
    const char *program = udevadmProgram();
    argv.push_back(const_cast<char *>(program));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        // The child neither inherits the held signals nor keeps them ignored.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (output)
            ::dup2(pipeFds[1], STDOUT_FILENO);
        else if (quiet >= 0)
            ::dup2(quiet, STDOUT_FILENO);
        ::execv(program, argv.data());
        _exit(127);
    }
    if (output) {
        ::close(pipeFds[1]);
        char buffer[4096];
        for (ssize_t got; child > 0 && ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0
                                        || (got < 0 && errno == EINTR));) {
            if (got > 0)
                output->append(buffer, static_cast<size_t>(got));
        }
        ::close(pipeFds[0]);
    }
    if (child < 0)
        return -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

volatile sig_atomic_t heldSignal = 0;

void holdSignal(int signal)
{
    if (!heldSignal)
        heldSignal = signal;
}

constexpr int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

// Runs a program and waits for it, with nothing but calls that are safe after a fork.
bool runInChild(const char *program, char *const argv[])
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::execv(program, argv);
        _exit(127);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// How long the programs that had the device open may take to let it go at the remove, and to
// open it again at the add: a compositor under load takes seconds.
constexpr int kLetGoSeconds = 3;
constexpr int kOpenAgainSeconds = 10;
constexpr size_t kMostHolders = 64;

double monotonicSeconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Waits, with nothing but calls that are safe after a fork, until every holder not yet done
// has the device open (open) or not (!open); marks those done in done[].
void waitForHolders(const char *const folders[], size_t count, const char *node, bool open, bool done[], int seconds)
{
    const double until = monotonicSeconds() + seconds;
    for (;;) {
        bool all = true;
        for (size_t i = 0; i < count; ++i) {
            if (!done[i])
                done[i] = holdsDevice(folders[i], node) == open;
            all = all && done[i];
        }
        if (all || monotonicSeconds() >= until)
            return;
        const timespec tick {0, 50 * 1000 * 1000};
        ::nanosleep(&tick, nullptr);
    }
}

dev_t deviceNumberOf(const std::string &sysfsPath)
{
    udev_device *device = udevContext() ? udev_device_new_from_syspath(udevContext(), sysfsPath.c_str()) : nullptr;
    const dev_t number = device ? udev_device_get_devnum(device) : 0;
    if (device)
        udev_device_unref(device);
    return number;
}

// mutter 43 ends, and the whole session with it, when a touch screen is removed while one of
// its touches is under way. The remove waits until every finger has been up for a moment; not
// for long, so that a thumb resting on the bezel does not keep the calibration from being read.
constexpr auto kLiftedFor = std::chrono::milliseconds(400);
constexpr auto kLiftedAtMost = std::chrono::seconds(5);
constexpr auto kLiftAskedEvery = std::chrono::milliseconds(50);

// Whether every finger of the device's node was up for kLiftedFor before kLiftedAtMost; true
// where the node cannot be asked.
bool waitUntilLifted(const std::string &sysfsPath, dev_t number)
{
    udev_device *device = udevContext() ? udev_device_new_from_syspath(udevContext(), sysfsPath.c_str()) : nullptr;
    const char *node = device ? udev_device_get_devnode(device) : nullptr;
    const int fd = node ? ::open(node, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW) : -1;
    if (device)
        udev_device_unref(device);
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode) || status.st_rdev != number) {
        if (fd >= 0)
            ::close(fd);
        return true;
    }
    const auto start = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> liftedSince;
    bool lifted = false;
    for (auto now = start; !lifted && now - start < kLiftedAtMost; now = std::chrono::steady_clock::now()) {
        if (!nothingDown(readDeviceState(fd)))
            liftedSince.reset();
        else if (!liftedSince)
            liftedSince = now;
        lifted = liftedSince && now - *liftedSince >= kLiftedFor;
        if (!lifted)
            std::this_thread::sleep_for(kLiftAskedEvery);
    }
    ::close(fd);
    return lifted;
}

// The programs that have the device's node open now, at most kMostHolders of them.
std::vector<pid_t> holdersOf(const std::string &node)
{
    std::vector<pid_t> holders = node.empty() ? std::vector<pid_t>() : processesHolding(node);
    if (holders.size() > kMostHolders)
        holders.resize(kMostHolders);
    return holders;
}

// /dev/null for the child's input and output, and its pipes for udevadm's words and the holders'
// outcomes; false, with none of them left open, where one cannot be had.
bool childFdsOpen(int quiet, int errors[2], int outcomes[2])
{
    if (quiet < 0 || ::pipe2(errors, O_CLOEXEC) != 0 || ::pipe2(outcomes, O_CLOEXEC) != 0) {
        for (const int fd : {quiet, errors[0], errors[1], outcomes[0], outcomes[1]}) {
            if (fd >= 0)
                ::close(fd);
        }
        return false;
    }
    return true;
}

// From the remove until the add has gone out, the terminal's and other signals are only
// noted: a device left removed is dead to X and the compositor. A handler, not a blocked
// mask, since the mask is one thread's and the toolkit's threads would take them.
void holdSignals(struct sigaction before[])
{
    heldSignal = 0;
    struct sigaction hold {};
    hold.sa_handler = holdSignal;
    sigemptyset(&hold.sa_mask);
    for (size_t i = 0; i < std::size(kHeldSignals); ++i)
        catchUnlessIgnoredAtStart(kHeldSignals[i], hold, &before[i]);
}

void restoreSignals(const struct sigaction before[])
{
    for (size_t i = 0; i < std::size(kHeldSignals); ++i)
        ::sigaction(kHeldSignals[i], &before[i], nullptr);
}

// What the child that removes and adds the device uses: all of it made before the fork, since
// the toolkit may run threads, and after a fork only the simplest calls are safe.
struct ReaddChild {
    const char *program;
    char *const *removeArgv;
    char *const *addArgv;
    int quiet;     // /dev/null
    int errors;    // the write end of the pipe for udevadm's words
    int outcomes;  // the write end of the pipe for the holders' outcomes
    const char *const *folders;
    size_t count;
    const char *node;
    bool *letGo;
    bool *openAgain;
};

// The child's whole life, with nothing but calls that are safe after a fork: the remove, the
// wait for the holders to let the device go, the add, the wait for them to open it again.
[[noreturn]] void readdInChild(const ReaddChild &c)
{
    ::setsid();
    for (const int signal : kHeldSignals)
        defaultUnlessIgnoredAtStart(signal);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::dup2(c.quiet, STDIN_FILENO);
    ::dup2(c.quiet, STDOUT_FILENO);
    // Into a pipe, not the terminal: writing there from outside its session could stop it.
    ::dup2(c.errors, STDERR_FILENO);
    const bool removed = runInChild(c.program, c.removeArgv);
    // Those that keep it open through the remove do not follow udev: not waited for again.
    waitForHolders(c.folders, c.count, c.node, false, c.letGo, kLetGoSeconds);
    // Even when the remove failed: it may have gone out all the same.
    const bool added = runInChild(c.program, c.addArgv);
    for (size_t i = 0; i < c.count; ++i)
        c.openAgain[i] = !c.letGo[i];
    waitForHolders(c.folders, c.count, c.node, true, c.openAgain, kOpenAgainSeconds);
    char said[kMostHolders];
    for (size_t i = 0; i < c.count; ++i)
        said[i] = static_cast<char>(!c.letGo[i] ? HolderOutcome::KeptOpen
                                    : c.openAgain[i] ? HolderOutcome::OpenedAgain : HolderOutcome::NotOpenedAgain);
    // Unread, it only leaves the holders unreported.
    [[maybe_unused]] const ssize_t written = c.count ? ::write(c.outcomes, said, c.count) : 0;
    _exit((removed ? 0 : 1) | (added ? 0 : 2));
}

// What the child's udevadm said on the standard error stream (its start), read until the
// child closes it; the pipe is closed.
std::string readSaid(int errors, pid_t child)
{
    std::string said;
    char buffer[4096];
    for (ssize_t got; child > 0 && ((got = ::read(errors, buffer, sizeof buffer)) > 0
                                    || (got < 0 && errno == EINTR));) {
        if (got > 0 && said.size() < 4096)
            said.append(buffer, static_cast<size_t>(got));
    }
    ::close(errors);
    return said;
}

// How each holder went through the re-add, as the child wrote it; the pipe is closed.
std::vector<Holder> holderOutcomes(int outcomes, pid_t child, const std::vector<pid_t> &holders)
{
    std::vector<Holder> found;
    char outcome[kMostHolders];
    ssize_t told = 0;
    while (child > 0 && (told = ::read(outcomes, outcome, sizeof outcome)) < 0 && errno == EINTR) {
    }
    ::close(outcomes);
    for (ssize_t i = 0; i < told && static_cast<size_t>(i) < holders.size(); ++i)
        found.push_back({holders[static_cast<size_t>(i)], static_cast<HolderOutcome>(outcome[i])});
    return found;
}

// What failed of the remove and the add, from the child's status, with what udevadm said.
void judgeReadd(pid_t child, int status, std::string said, Replug *replug)
{
    const int failed = child < 0 ? 3 : WIFEXITED(status) ? WEXITSTATUS(status) : 2;
    replug->addFailed = (failed & 2) != 0;
    if (failed & 1)
        replug->problem = "udevadm trigger --action=remove failed";
    if (replug->addFailed)
        replug->problem += std::string(replug->problem.empty() ? "" : "; ") + "udevadm trigger --action=add failed";
    while (!said.empty() && (said.back() == '\n' || said.back() == ' '))
        said.pop_back();
    if (!replug->problem.empty() && !said.empty())
        replug->problem += " (udevadm said: " + said + ")";
}

} // namespace

Replug reloadAndReplug(const std::string &sysfsPath)
{
    Replug replug;
    if (sysfsPath.empty()) {
        replug.problem = "the device has no folder in sysfs";
        return replug;
    }
    if (udevadm({"control", "--reload"}) != 0) {
        replug.problem = "udevadm control --reload failed";
        return replug;
    }
    // Everything the child needs is made before the fork: the toolkit may run threads, and
    // after a fork only the simplest calls are safe.
    const char *program = udevadmProgram();
    std::string remove = "--action=remove", add = "--action=add", path = sysfsPath;
    std::string trigger = "trigger", settle = "--settle";
    char *const removeArgv[] = {const_cast<char *>(program), trigger.data(), settle.data(), remove.data(),
                                path.data(), nullptr};
    char *const addArgv[] = {const_cast<char *>(program), trigger.data(), settle.data(), add.data(),
                             path.data(), nullptr};
    const dev_t device = deviceNumberOf(sysfsPath);
    if (device && !waitUntilLifted(sysfsPath, device))
        std::fprintf(stderr, "kestrilavon-check: a finger stayed on the touch screen for %d s; it is re-added all "
                             "the same, and a compositor may lose that touch\n",
                     static_cast<int>(kLiftedAtMost.count()));
    // Who has the device open now, to wait until they have let it go and opened it again.
    const std::string node = deviceNodeOf(sysfsPath);
    const std::vector<pid_t> holders = holdersOf(node);
    std::vector<std::string> folderPaths;
    for (const pid_t holder : holders)
        folderPaths.push_back(fdFolderOf(holder));
    const char *folders[kMostHolders] = {};
    for (size_t i = 0; i < folderPaths.size(); ++i)
        folders[i] = folderPaths[i].c_str();
    bool letGo[kMostHolders] = {}, openAgain[kMostHolders] = {};
    int errors[2] = {-1, -1}, outcomes[2] = {-1, -1};
    const int quiet = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (!childFdsOpen(quiet, errors, outcomes)) {
        replug.problem = "cannot start udevadm";
        return replug;
    }
    const ReaddChild work{program, removeArgv, addArgv, quiet, errors[1], outcomes[1], folders, holders.size(),
                          node.c_str(), letGo, openAgain};
    struct sigaction before[std::size(kHeldSignals)];
    holdSignals(before);
    // The remove and the add run in a child of a session of its own, so that the add follows
    // the remove even when this program is killed, and no signal of the terminal reaches it.
    const pid_t child = ::fork();
    if (child == 0)
        readdInChild(work);
    ::close(errors[1]);
    ::close(outcomes[1]);
    ::close(quiet);
    const std::string said = readSaid(errors[0], child);
    replug.holders = holderOutcomes(outcomes[0], child, holders);
    replug.secondsWaited = kOpenAgainSeconds;
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    restoreSignals(before);
    replug.signal = heldSignal;
    judgeReadd(child, status, said, &replug);
    return replug;
}

std::string udevPropertyOf(const std::string &sysfsPath, const std::string &name)
{
    // A device of its own each time: udev's database as it is now, after a re-add.
    udev_device *device = udevContext() ? udev_device_new_from_syspath(udevContext(), sysfsPath.c_str()) : nullptr;
    const char *value = device ? udev_device_get_property_value(device, name.c_str()) : nullptr;
    const std::string found = value ? value : "";
    if (device)
        udev_device_unref(device);
    return found;
}
