// SPDX-License-Identifier: MIT
#include "said.h"

#include "user_part.h"

#include <sys/mman.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// What is said while it is kept: both streams go into a memory file, copied on to where the
// standard output went at every finished piece, so that an end by a signal loses nothing.
struct KeptSaying {
    int memory = -1, out = -1, err = -1;
    off_t copied = 0;
} saying;

void copySaid()
{
    if (saying.memory < 0)
        return;
    // What the user's parts said meanwhile, after what root said before it.
    if (const std::string theirs = takeUserPartsWords(); !theirs.empty()) {
        std::fflush(stdout);
        writeAll(STDERR_FILENO, theirs);
    }
    char buffer[4096];
    for (ssize_t got; (got = ::pread(saying.memory, buffer, sizeof buffer, saying.copied)) > 0;) {
        saying.copied += got;
        for (ssize_t put = 0, wrote; put < got; put += wrote) {
            if ((wrote = ::write(saying.out, buffer + put, static_cast<size_t>(got - put))) <= 0)
                break;
        }
    }
}

} // namespace

int fail(const std::string &line)
{
    std::fprintf(stderr, "kestrilavon-check: %s\n", line.c_str());
    copySaid();
    return 1;
}

int finishOutput(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return fail(std::string("could not write the output: ") + std::strerror(errno));
    copySaid();
    return status;
}

bool startKeepingWhatIsSaid()
{
    std::fflush(stdout);
    std::fflush(stderr);
    saying.memory = ::memfd_create("kestrilavon-check report", MFD_CLOEXEC);
    saying.out = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    saying.err = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saying.memory < 0 || saying.out < 0 || saying.err < 0 || !startCollectingUserPartsWords()
        || ::dup2(saying.memory, STDOUT_FILENO) < 0 || ::dup2(saying.memory, STDERR_FILENO) < 0) {
        stopKeepingWhatIsSaid();
        return false;
    }
    return true;
}

std::string stopKeepingWhatIsSaid()
{
    std::fflush(stdout);
    std::fflush(stderr);
    copySaid();
    stopCollectingUserPartsWords();
    std::string said;
    if (saying.memory >= 0) {
        char buffer[4096];
        for (ssize_t got; (got = ::pread(saying.memory, buffer, sizeof buffer, static_cast<off_t>(said.size()))) > 0;)
            said.append(buffer, static_cast<size_t>(got));
    }
    if (saying.out >= 0)
        ::dup2(saying.out, STDOUT_FILENO);
    if (saying.err >= 0)
        ::dup2(saying.err, STDERR_FILENO);
    for (const int fd : {saying.memory, saying.out, saying.err}) {
        if (fd >= 0)
            ::close(fd);
    }
    saying = {};
    return said;
}
