// SPDX-License-Identifier: MIT
#include "udev/device_holders.h"

#include "input/listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

pid_t parentOf(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, 5, "PPid:") == 0)
            return static_cast<pid_t>(std::atoi(line.c_str() + 5));
    }
    return 0;
}

std::vector<pid_t> holdersNow(const std::string &node)
{
    std::vector<pid_t> holders;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return holders;
    const pid_t self = ::getpid();
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end || pid == self)
            continue;
        if (holdsDevice(fdFolderOf(static_cast<pid_t>(pid)).c_str(), node.c_str())
            && parentOf(static_cast<pid_t>(pid)) != self)
            holders.push_back(static_cast<pid_t>(pid));
    }
    ::closedir(proc);
    std::sort(holders.begin(), holders.end());
    return holders;
}

std::string nameList(const std::vector<Holder> &holders, HolderOutcome outcome)
{
    std::string list;
    for (const Holder &holder : holders) {
        if (holder.outcome != outcome)
            continue;
        list += (list.empty() ? "" : ", ") + printable(processName(holder.pid)) + " (pid "
            + std::to_string(holder.pid) + ")";
    }
    return list;
}

} // namespace

bool sharesOurMountNamespace(pid_t pid)
{
    const auto mountNamespace = [](const std::string &process) {
        char link[64];
        const ssize_t length = ::readlink(("/proc/" + process + "/ns/mnt").c_str(), link, sizeof link);
        return length > 0 ? std::string(link, static_cast<size_t>(length)) : std::string();
    };
    const std::string ours = mountNamespace("self");
    return !ours.empty() && mountNamespace(std::to_string(pid)) == ours;
}

std::string fdFolderOf(pid_t pid)
{
    return "/proc/" + std::to_string(pid) + "/fd";
}

bool holdsDevice(const char *fdFolder, const char *node)
{
    const int folder = ::open(fdFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return false;
    const size_t nodeLength = std::strlen(node);
    bool holds = false;
    // getdents64 itself, not readdir(), which may allocate; glibc's dirent64 is the kernel's
    // record.
    alignas(dirent64) char buffer[4096];
    for (long got; !holds && (got = ::syscall(SYS_getdents64, folder, buffer, sizeof buffer)) > 0;) {
        for (long at = 0; !holds && at < got;) {
            const auto *record = reinterpret_cast<const dirent64 *>(buffer + at);
            // The link's text alone: following it would stat every file of every process, and
            // one on a stopped FUSE mount would hold root there for good.
            char target[PATH_MAX];
            const ssize_t length = record->d_name[0] == '.' ? -1
                : ::readlinkat(folder, record->d_name, target, sizeof target);
            holds = length == static_cast<ssize_t>(nodeLength) && std::memcmp(target, node, nodeLength) == 0;
            at += record->d_reclen;
        }
    }
    ::close(folder);
    return holds;
}

std::vector<pid_t> processesHolding(const std::string &node)
{
    const std::vector<pid_t> first = holdersNow(node);
    if (first.empty())
        return first;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<pid_t> second = holdersNow(node);
    std::vector<pid_t> both;
    std::set_intersection(first.begin(), first.end(), second.begin(), second.end(), std::back_inserter(both));
    return both;
}

std::string processName(pid_t pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "a process" : name;
}

std::string holdersReport(const std::vector<Holder> &holders, int secondsWaited)
{
    const std::string again = nameList(holders, HolderOutcome::OpenedAgain);
    const std::string notAgain = nameList(holders, HolderOutcome::NotOpenedAgain);
    std::string report;
    if (!again.empty())
        report += "Opened again after the re-add by " + again + ".\n";
    if (!notAgain.empty())
        report += "Let go at the remove and not opened again within " + std::to_string(secondsWaited)
            + " s by " + notAgain + ": it may still use the old calibration.\n";
    return report;
}
