// SPDX-License-Identifier: MIT
#include "udev/udev_sandbox.h"

#include "udev/udevadm.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

namespace {

// Where udev reads rules from, by the names it reads them by: the same folder under two names
// (/lib is /usr/lib on merged systems) is copied once.
constexpr const char *kRulesFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/local/lib/udev/rules.d",
                                         "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
constexpr std::chrono::seconds kPatience(120);
// The id udevadm test runs as: a rule's PROGRAM and IMPORT{program} then run as nobody too.
constexpr uid_t kSandboxId = 65534;
// The status of a child that could not make the sandbox; its reason is all it wrote.
constexpr int kNoSandbox = 8;

std::string readAt(int folder, const char *name)
{
    std::string text;
    const int file = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    char buffer[8192];
    for (ssize_t got; file >= 0 && (got = ::read(file, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(got));
    if (file >= 0)
        ::close(file);
    return text;
}

bool writeAt(int folder, const char *name, const std::string &text, mode_t mode)
{
    const int file = ::openat(folder, name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    size_t written = 0;
    while (file >= 0 && written < text.size()) {
        const ssize_t put = ::write(file, text.data() + written, text.size() - written);
        if (put <= 0)
            break;
        written += static_cast<size_t>(put);
    }
    return file >= 0 && ::close(file) == 0 && written == text.size();
}

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Copies a folder's tree within its file system (a mount in it, such as /dev/pts, stays an
// empty folder). Where markAs names the folder, the rules files in it that set the matrix are
// marked on the way.
bool copyTree(int from, int to, const std::string &markAs, std::vector<RulePlace> *places)
{
    struct stat self;
    DIR *folder = ::fstat(from, &self) == 0 ? ::fdopendir(::dup(from)) : nullptr;
    if (!folder)
        return false;
    bool ok = true;
    while (const dirent *entry = ::readdir(folder)) {
        const char *name = entry->d_name;
        struct stat status;
        if (!std::strcmp(name, ".") || !std::strcmp(name, "..")
            || ::fstatat(from, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(status.st_mode)) {
            ok &= ::mkdirat(to, name, status.st_mode & 07777) == 0;
            const int inner = status.st_dev == self.st_dev ? ::openat(from, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
            const int innerCopy = inner >= 0 ? ::openat(to, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
            if (inner >= 0)
                ok &= innerCopy >= 0 && copyTree(inner, innerCopy, "", places);
            for (const int fd : {inner, innerCopy}) {
                if (fd >= 0)
                    ::close(fd);
            }
        } else if (S_ISREG(status.st_mode)) {
            std::string text = readAt(from, name);
            if (!markAs.empty() && endsWith(name, ".rules") && text.find("LIBINPUT_CALIBRATION_MATRIX") != std::string::npos)
                text = markedRules(text, markAs + "/" + name, places);
            // udev heeds no rules file's mode: the copy is readable to the sandbox's id, so
            // that a file of mode 0600 still counts.
            ok &= writeAt(to, name, text, (status.st_mode & 07777) | (markAs.empty() ? 0 : 0444));
        } else if (S_ISLNK(status.st_mode)) {
            char target[PATH_MAX];
            const ssize_t length = ::readlinkat(from, name, target, sizeof target - 1);
            ok &= length >= 0 && (target[length] = '\0', ::symlinkat(target, to, name) == 0);
        } else if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) {
            ok &= ::mknodat(to, name, status.st_mode, status.st_rdev) == 0;
        } else {
            continue;  // sockets and pipes: udevadm test talks to no one
        }
        ok &= ::fchownat(to, name, status.st_uid, status.st_gid, AT_SYMLINK_NOFOLLOW) == 0;
    }
    ::closedir(folder);
    return ok;
}

struct Covered {
    std::string path;
    int original = -1;  // the folder as it was, still readable under the copy
    bool marks = false;
};

// A tmpfs over the folder, holding a copy of what it held.
bool coverWithCopy(const Covered &folder, std::vector<RulePlace> *places)
{
    struct stat status;
    if (::fstat(folder.original, &status) != 0
        || ::mount("tmpfs", folder.path.c_str(), "tmpfs", MS_NOSUID, "mode=0755") != 0)
        return false;
    const int copy = ::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool ok = copy >= 0 && ::fchmod(copy, (status.st_mode & 07777) | (folder.marks ? 0555 : 0)) == 0
        && ::fchown(copy, status.st_uid, status.st_gid) == 0
        && copyTree(folder.original, copy, folder.marks ? folder.path : "", places);
    if (copy >= 0)
        ::close(copy);
    return ok;
}

void putField(std::string &out, const std::string &field)
{
    out += std::to_string(field.size()) + ":" + field;
}

std::string takeField(const std::string &in, size_t *at)
{
    const size_t colon = in.find(':', *at);
    if (colon == std::string::npos)
        return *at = in.size(), std::string();
    const size_t length = std::stoul("0" + in.substr(*at, colon - *at));
    const std::string field = in.substr(colon + 1, length);
    *at = std::min(in.size(), colon + 1 + length);
    return field;
}

bool writeAll(int out, const std::string &text)
{
    const char *data = text.data();
    for (size_t left = text.size(); left > 0;) {
        const ssize_t put = ::write(out, data, left);
        if (put <= 0)
            return false;
        data += put;
        left -= static_cast<size_t>(put);
    }
    return true;
}

[[noreturn]] void cannotSandbox(int out, const char *step)
{
    writeAll(out, std::string(step) + ": " + std::strerror(errno));
    _exit(kNoSandbox);
}

// Makes this process one whose programs can change nothing outside it, or exits saying why:
// every mount read-only (/proc/sys with /proc, the copies of /dev, /run/udev and the rules
// folders with the rest), a read-only sysfs of its own, empty scratch folders over /tmp and
// /var/tmp, no network, no capability, and nobody's id. Measured with Debian 12's udevadm
// test: it gives the same properties but USEC_INITIALIZED, and only logs that it cannot write
// its database and links.
void enterSandbox(int out)
{
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWIPC | CLONE_NEWUTS) != 0)
        cannotSandbox(out, "cannot make namespaces of its own");
    mount_attr readOnly{};
    readOnly.attr_set = MOUNT_ATTR_RDONLY | MOUNT_ATTR_NOSUID;
    if (::mount_setattr(AT_FDCWD, "/", AT_RECURSIVE, &readOnly, sizeof readOnly) != 0)
        cannotSandbox(out, "cannot make the mounts read-only");
    if (::mount("sysfs", "/sys", "sysfs", MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        cannotSandbox(out, "cannot mount a read-only sysfs");
    for (const char *scratch : {"/tmp", "/var/tmp"}) {
        if (::mount("tmpfs", scratch, "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0 && errno != ENOENT)
            cannotSandbox(out, "cannot cover a scratch folder");
    }
    for (int capability = 0; ::prctl(PR_CAPBSET_READ, capability, 0, 0, 0) >= 0; ++capability) {
        if (::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0)
            cannotSandbox(out, "cannot drop the capabilities");
    }
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kSandboxId, kSandboxId, kSandboxId) != 0
        || ::setresuid(kSandboxId, kSandboxId, kSandboxId) != 0 || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        cannotSandbox(out, "cannot become nobody");
    if (::setuid(0) == 0) {
        errno = EPERM;
        cannotSandbox(out, "could become root again");
    }
}

// In a child of the namespace's process: each device's properties, as udevadm test gives them
// in the sandbox, written framed.
[[noreturn]] void testInSandbox(int out, const std::vector<JudgedDevice> &devices)
{
    enterSandbox(out);
    std::string framed;
    for (const JudgedDevice &device : devices) {
        std::string properties;
        if (udevadm({"test", "--action=add", device.sysfsPath}, &properties) != 0)
            _exit(6);
        putField(framed, properties);
    }
    _exit(writeAll(out, framed) ? 0 : 7);
}

// The sandboxed child's status, and what it wrote in *said: the properties, or why it could
// not make the sandbox.
int propertiesFromSandbox(const std::vector<JudgedDevice> &devices, std::string *said)
{
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return 7;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        testInSandbox(channel[1], devices);
    }
    ::close(channel[1]);
    char buffer[4096];
    for (ssize_t got; child > 0 && ((got = ::read(channel[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR));) {
        if (got > 0)
            said->append(buffer, static_cast<size_t>(got));
    }
    ::close(channel[0]);
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : 7;
}

// In the child: sets the namespace up, asks udev, writes the answers: for each run and device,
// the matrix, the deciding rule's file and its line.
[[noreturn]] void answerInNamespace(int out, const std::string &rulesPath, const std::string *oldText,
                                    const std::string &newText, const std::vector<JudgedDevice> &devices)
{
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (quiet >= 0)
        ::dup2(quiet, STDERR_FILENO);
    ::umask(0);  // the copies take their originals' modes exactly
    std::vector<Covered> folders = {{"/dev", -1, false}, {"/run/udev", -1, false}};
    for (const char *path : kRulesFolders)
        folders.push_back({path, -1, true});
    std::vector<std::pair<dev_t, ino_t>> seen;
    for (Covered &folder : folders) {
        folder.original = ::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat status;
        if (folder.original >= 0 && ::fstat(folder.original, &status) == 0) {
            for (const auto &[device, inode] : seen) {
                if (device == status.st_dev && inode == status.st_ino)
                    ::close(folder.original), folder.original = -1;
            }
            seen.push_back({status.st_dev, status.st_ino});
        }
    }
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        _exit(3);
    std::vector<RulePlace> places;
    for (const Covered &folder : folders) {
        if (folder.original >= 0 && !coverWithCopy(folder, &places))
            _exit(4);
    }
    const size_t slash = rulesPath.rfind('/');
    const int rules = ::open(rulesPath.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::string name = rulesPath.substr(slash + 1);
    std::string answers;
    for (const std::string *text : {oldText, &newText}) {
        const bool placed = text ? writeAt(rules, name.c_str(), markedRules(*text, rulesPath, &places), 0644)
                                 : ::unlinkat(rules, name.c_str(), 0) == 0 || errno == ENOENT;
        if (!placed)
            _exit(5);
        std::string said;
        const int status = propertiesFromSandbox(devices, &said);
        if (status == kNoSandbox)
            writeAll(out, said);
        if (status != 0)
            _exit(status);
        size_t at = 0;
        for (size_t device = 0; device < devices.size(); ++device) {
            const UdevAnswer answer = answerFromProperties(takeField(said, &at), places);
            putField(answers, answer.matrix);
            putField(answers, answer.decidedBy.file);
            putField(answers, std::to_string(answer.decidedBy.line));
        }
    }
    _exit(writeAll(out, answers) ? 0 : 7);
}

} // namespace

std::string askUdev(const std::string &rulesPath, const std::string *oldText, const std::string &newText,
                    std::vector<JudgedDevice> *devices)
{
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return std::string("cannot make a pipe: ") + std::strerror(errno);
    const pid_t child = ::fork();
    if (child == 0) {
        ::setpgid(0, 0);
        ::close(channel[0]);
        answerInNamespace(channel[1], rulesPath, oldText, newText, *devices);
    }
    ::close(channel[1]);
    std::string answers;
    const auto giveUp = std::chrono::steady_clock::now() + kPatience;
    bool late = false;
    for (char buffer[4096]; child > 0;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - std::chrono::steady_clock::now());
        pollfd ready{channel[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) == 0) {
            late = true;
            ::kill(-child, SIGKILL);
            ::kill(child, SIGKILL);
            break;
        }
        const ssize_t got = ::read(channel[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        answers.append(buffer, static_cast<size_t>(got));
    }
    ::close(channel[0]);
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (child < 0)
        return std::string("cannot start a process: ") + std::strerror(errno);
    if (late)
        return "udevadm test did not answer within " + std::to_string(kPatience.count()) + " seconds";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return code == kNoSandbox ? "cannot make a sandbox for udevadm test: " + answers
             : code == 3 ? "cannot make a mount namespace of its own"
             : code == 4 ? "cannot copy the udev folders into a mount namespace of its own"
             : code == 6 ? "udevadm test failed"
                         : "udevadm test could not be run (status " + std::to_string(code) + ")";
    }
    size_t at = 0;
    for (int run = 0; run < 2; ++run) {
        for (JudgedDevice &device : *devices) {
            UdevAnswer &answer = run == 0 ? device.before : device.after;
            answer.matrix = takeField(answers, &at);
            answer.decidedBy.file = takeField(answers, &at);
            answer.decidedBy.line = std::stoi("0" + takeField(answers, &at));
        }
    }
    return {};
}
