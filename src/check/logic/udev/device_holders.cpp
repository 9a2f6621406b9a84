// SPDX-License-Identifier: MIT
#include "udev/device_holders.h"

#include "input/listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
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

std::vector<pid_t> holdersNow(dev_t device)
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
        if (holdsDevice(fdFolderOf(static_cast<pid_t>(pid)).c_str(), device) && parentOf(static_cast<pid_t>(pid)) != self)
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

std::string fdFolderOf(pid_t pid)
{
    return "/proc/" + std::to_string(pid) + "/fd";
}

bool holdsDevice(const char *fdFolder, dev_t device)
{
    const int folder = ::open(fdFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return false;
    bool holds = false;
    // getdents64 itself, not readdir(), which may allocate; glibc's dirent64 is the kernel's
    // record.
    alignas(dirent64) char buffer[4096];
    for (long got; !holds && (got = ::syscall(SYS_getdents64, folder, buffer, sizeof buffer)) > 0;) {
        for (long at = 0; !holds && at < got;) {
            const auto *record = reinterpret_cast<const dirent64 *>(buffer + at);
            struct stat target;
            // The descriptor's own file, through the link in /proc: a character device has
            // the device number udev's device has.
            holds = record->d_name[0] != '.' && ::fstatat(folder, record->d_name, &target, 0) == 0
                && S_ISCHR(target.st_mode) && target.st_rdev == device;
            at += record->d_reclen;
        }
    }
    ::close(folder);
    return holds;
}

std::vector<pid_t> processesHolding(dev_t device)
{
    const std::vector<pid_t> first = holdersNow(device);
    if (first.empty())
        return first;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::vector<pid_t> second = holdersNow(device);
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
