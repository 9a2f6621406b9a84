// SPDX-License-Identifier: MIT
#include "udev/rules_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

constexpr off_t kLargestRulesFile = 1 << 20;

std::string systemError(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

std::string editRulesFile(const std::string &folder, const std::string &lockPath,
                          const std::function<std::string(const std::string &)> &edit,
                          std::chrono::milliseconds wait)
{
    // The rules file itself is replaced, so a lock on it would be lost; a lock on the folder
    // could be taken by anyone who may open it.
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0)
        return systemError("cannot open the lock file " + lockPath);
    struct stat lockStatus;
    if (::fstat(lock, &lockStatus) != 0 || !S_ISREG(lockStatus.st_mode) || lockStatus.st_uid != ::geteuid()
        || ((lockStatus.st_mode & 0077) != 0 && ::fchmod(lock, 0600) != 0)) {
        ::close(lock);
        return lockPath + " is not a lock file of this user's alone: will not use it";
    }
    const auto giveUp = std::chrono::steady_clock::now() + wait;
    while (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= giveUp) {
            const std::string problem = errno == EWOULDBLOCK
                ? "another --install is running (it holds " + lockPath + "): nothing was changed"
                : systemError("cannot lock " + lockPath);
            ::close(lock);
            return problem;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        const std::string problem = systemError("cannot open " + folder);
        ::close(lock);
        return problem;
    }
    const std::string path = folder + "/" + kRulesFile;
    std::string old, problem;
    const int file = ::openat(directory, kRulesFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status;
    if (file < 0 && errno != ENOENT) {
        problem = errno == ELOOP ? path + " is a symbolic link: will not write through it"
                                 : systemError("cannot read " + path);
    } else if (file >= 0 && (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode))) {
        problem = path + " is not a regular file: will not replace it";
    } else if (file >= 0 && status.st_uid != 0) {
        problem = path + " belongs to uid " + std::to_string(status.st_uid)
            + ", not to root: will not take it over";
    } else if (file >= 0 && status.st_size > kLargestRulesFile) {
        problem = path + " is too large for a rules file";
    } else if (file >= 0) {
        char buffer[4096];
        for (ssize_t got; (got = ::read(file, buffer, sizeof buffer)) != 0;) {
            if (got < 0) {
                problem = systemError("cannot read " + path);
                break;
            }
            old.append(buffer, static_cast<size_t>(got));
        }
    }
    if (file >= 0)
        ::close(file);

    const std::string text = problem.empty() ? edit(old) : std::string();
    if (problem.empty() && text.empty() && file >= 0) {
        if (::unlinkat(directory, kRulesFile, 0) != 0)
            problem = systemError("cannot remove " + path);
    } else if (problem.empty() && !text.empty()) {
        // A hidden name without .rules: udev never reads the file half written.
        std::string hidden;
        int out = -1;
        for (int attempt = 0; out < 0 && attempt < 100; ++attempt) {
            hidden = "." + std::string(kRulesFile) + "." + std::to_string(::getpid()) + "."
                + std::to_string(attempt);
            out = ::openat(directory, hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           0644);
            if (out < 0 && errno != EEXIST)
                break;
        }
        if (out < 0) {
            problem = systemError("cannot write in " + folder);
        } else {
            size_t written = 0;
            while (written < text.size()) {
                const ssize_t put = ::write(out, text.data() + written, text.size() - written);
                if (put <= 0 && errno != EINTR)
                    break;
                written += put > 0 ? static_cast<size_t>(put) : 0;
            }
            if (written != text.size() || ::fchmod(out, 0644) != 0 || ::fsync(out) != 0)
                problem = systemError("cannot write " + folder + "/" + hidden);
            if (::close(out) != 0 && problem.empty())
                problem = systemError("cannot write " + folder + "/" + hidden);
            if (problem.empty() && ::renameat(directory, hidden.c_str(), directory, kRulesFile) != 0)
                problem = systemError("cannot rename " + hidden + " to " + path);
            if (!problem.empty())
                ::unlinkat(directory, hidden.c_str(), 0);
        }
    }
    if (problem.empty() && ::fsync(directory) != 0)
        problem = systemError("cannot sync " + folder);
    ::close(directory);
    ::close(lock);
    return problem;
}

