// SPDX-License-Identifier: MIT
#include "udevadm.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>

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

std::string sysfsPathOf(dev_t device)
{
    const std::string link = "/sys/dev/char/" + std::to_string(major(device)) + ":"
        + std::to_string(minor(device));
    char *resolved = ::realpath(link.c_str(), nullptr);
    const std::string path = resolved ? resolved : "";
    std::free(resolved);
    return path;
}

std::string sysfsPathOfNode(const std::string &path)
{
    struct stat node;
    return ::stat(path.c_str(), &node) == 0 && S_ISCHR(node.st_mode) ? sysfsPathOf(node.st_rdev)
                                                                      : std::string();
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

std::string reloadAndReplug(const std::string &sysfsPath)
{
    if (sysfsPath.empty())
        return "the device has no folder in sysfs";
    if (udevadm({"control", "--reload"}) != 0)
        return "udevadm control --reload failed";
    sigset_t held, before;
    sigemptyset(&held);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&held, signal);
    ::sigprocmask(SIG_BLOCK, &held, &before);
    std::string problem;
    if (udevadm({"trigger", "--settle", "--action=remove", sysfsPath}) != 0)
        problem = "udevadm trigger --action=remove failed";
    // Even when the remove failed: it may have gone out all the same.
    if (udevadm({"trigger", "--settle", "--action=add", sysfsPath}) != 0)
        problem += std::string(problem.empty() ? "" : "; ") + "udevadm trigger --action=add failed";
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    return problem;
}

std::string udevMatrixOf(const std::string &sysfsPath)
{
    std::string properties;
    if (udevadm({"info", "--query=property", "--path=" + sysfsPath}, &properties) != 0)
        return {};
    std::istringstream in(properties);
    const std::string key = "LIBINPUT_CALIBRATION_MATRIX=";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) == 0)
            return line.substr(key.size());
    }
    return {};
}
