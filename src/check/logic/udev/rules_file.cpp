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

RulesLock::RulesLock(const std::string &lockPath, std::chrono::milliseconds wait)
{
    // The rules file itself is replaced, so a lock on it would be lost; a lock on the folder
    // could be taken by anyone who may open it.
    m_file = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_file < 0) {
        m_problem = systemError("cannot open the lock file " + lockPath);
        return;
    }
    struct stat lockStatus;
    if (::fstat(m_file, &lockStatus) != 0 || !S_ISREG(lockStatus.st_mode) || lockStatus.st_uid != ::geteuid()
        || ((lockStatus.st_mode & 0077) != 0 && ::fchmod(m_file, 0600) != 0)) {
        m_problem = lockPath + " is not a lock file of this user's alone: will not use it";
        return;
    }
    const auto giveUp = std::chrono::steady_clock::now() + wait;
    while (::flock(m_file, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= giveUp) {
            m_problem = errno == EWOULDBLOCK
                ? "another --install is running (it holds " + lockPath + "): nothing was changed"
                : systemError("cannot lock " + lockPath);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

RulesLock::~RulesLock()
{
    if (m_file >= 0)
        ::close(m_file);
}

std::string editRulesFile(const std::string &folder, const RulesLock &held,
                          const std::function<std::string(const std::string &)> &edit, const char *file)
{
    if (!held.problem().empty())
        return held.problem();
    const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        return systemError("cannot open " + folder);
    }
    const std::string path = folder + "/" + file;
    const FileRead old = readFileAt(directory, file, path, {kLargestRulesFile, "a rules file", true, true});
    std::string problem = old.missing ? std::string() : old.problem;
    const std::string text = problem.empty() ? edit(old.text) : std::string();
    if (problem.empty() && text.empty() && !old.missing) {
        if (::unlinkat(directory, file, 0) != 0)
            problem = systemError("cannot remove " + path);
        else if (::fsync(directory) != 0)
            problem = systemError("cannot sync " + folder);
    } else if (problem.empty() && !text.empty()) {
        // A hidden name without .rules: udev never reads the file half written.
        problem = replaceFileAt(directory, folder, file, text, &old).line;
    }
    ::close(directory);
    return problem;
}
