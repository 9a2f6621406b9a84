// SPDX-License-Identifier: MIT
#include "udev/rules_file.h"

#include "safe_file.h"

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
    const FileRead old = readFileAt(directory, kRulesFile, path, {kLargestRulesFile, "a rules file", true, true});
    std::string problem = old.missing ? std::string() : old.problem;
    const std::string text = problem.empty() ? edit(old.text) : std::string();
    if (problem.empty() && text.empty() && !old.missing) {
        if (::unlinkat(directory, kRulesFile, 0) != 0)
            problem = systemError("cannot remove " + path);
        else if (::fsync(directory) != 0)
            problem = systemError("cannot sync " + folder);
    } else if (problem.empty() && !text.empty()) {
        // A hidden name without .rules: udev never reads the file half written.
        problem = replaceFileAt(directory, folder, kRulesFile, text, &old).line;
    }
    ::close(directory);
    ::close(lock);
    return problem;
}
