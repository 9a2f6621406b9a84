// SPDX-License-Identifier: MIT
#include "safe_file.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

namespace {

std::string pathIn(const std::string &folder, const std::string &name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// An attribute's name as it may be shown on a terminal: root's to set, but bytes all the same.
std::string shownName(const std::string &name)
{
    std::string shown = name;
    std::replace_if(shown.begin(), shown.end(), [](char c) { return c < 0x20 || c > 0x7e; }, '?');
    return shown;
}

bool writeAll(int fd, const std::string &text)
{
    for (size_t written = 0; written < text.size();) {
        const ssize_t put = ::write(fd, text.data() + written, text.size() - written);
        if (put < 0 && errno != EINTR)
            return false;
        written += put > 0 ? static_cast<size_t>(put) : 0;
    }
    return true;
}

// The names of a file's extended attributes (none where the file system keeps none); false
// with errno set when they cannot be listed. Asked again when one is added meanwhile.
bool attributeNames(int fd, std::vector<std::string> *names)
{
    names->clear();
    ssize_t size;
    std::string list;
    do {
        size = ::flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP;
        list.assign(static_cast<size_t>(size), '\0');
        size = ::flistxattr(fd, list.data(), list.size());
    } while (size < 0 && errno == ERANGE);
    if (size < 0)
        return false;
    for (size_t at = 0; at < static_cast<size_t>(size);) {
        const size_t end = list.find('\0', at);
        names->push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return true;
}

bool attributeValue(int fd, const std::string &name, std::string *value)
{
    ssize_t size;
    do {
        size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
        if (size < 0)
            return false;
        value->assign(static_cast<size_t>(size), '\0');
        size = ::fgetxattr(fd, name.c_str(), value->data(), value->size());
    } while (size < 0 && errno == ERANGE);
    if (size >= 0)
        value->resize(static_cast<size_t>(size));
    return size >= 0;
}

// Gives the new file the old one's group, mode and extended attributes (ACLs are two of them),
// and root (or the writer) as its owner. Otherwise says which could not be kept, errno set.
bool keepProperties(int from, const struct stat &old, int to, std::string *notKept)
{
    if (::fchown(to, ::geteuid(), old.st_gid) != 0) {
        *notKept = "its group (gid " + std::to_string(old.st_gid) + ")";
        return false;
    }
    std::vector<std::string> oldNames, newNames;
    *notKept = "its extended attributes";
    if (!attributeNames(from, &oldNames) || !attributeNames(to, &newNames))
        return false;
    // Such as an ACL the folder's default ACL gave the new file where the old one had none.
    for (const std::string &name : newNames) {
        *notKept = "its extended attributes as they were (the new file came with " + shownName(name) + ")";
        if (std::find(oldNames.begin(), oldNames.end(), name) == oldNames.end()
            && ::fremovexattr(to, name.c_str()) != 0 && errno != ENODATA)
            return false;
    }
    // The mode after the group (a change of owner clears set-id bits) and before the ACLs,
    // whose mask is the mode's group bits.
    *notKept = "its mode";
    if (::fchmod(to, old.st_mode & 07777) != 0)
        return false;
    for (const std::string &name : oldNames) {
        std::string value;
        *notKept = "its extended attribute " + shownName(name);
        if (!attributeValue(from, name, &value) || ::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0)
            return false;
    }
    return true;
}

WriteProblem systemProblem(const std::string &what)
{
    return {what + ": " + std::strerror(errno), std::strerror(errno)};
}

} // namespace

Descriptor &Descriptor::operator=(Descriptor &&other) noexcept
{
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

Descriptor::~Descriptor()
{
    close();
}

int Descriptor::close()
{
    return fd_ < 0 ? 0 : ::close(std::exchange(fd_, -1));
}

FileRead readFileAt(int folder, const std::string &name, const std::string &shownPath, const ReadRules &rules)
{
    FileRead read;
    const auto refuse = [&](const std::string &what, const char *consequence) {
        read.problem = shownPath + " " + what + (rules.toReplace && consequence ? consequence : "");
        read.file = Descriptor();
        return std::move(read);
    };
    const auto unreadable = [&] {
        read.problem = (rules.toReplace ? "cannot read " + shownPath + ": " : std::string()) + std::strerror(errno);
        read.file = Descriptor();
        return std::move(read);
    };
    read.file = Descriptor(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!read.file.isOpen()) {
        read.missing = errno == ENOENT;
        return errno == ELOOP ? refuse("is a symbolic link", ": will not write through it") : unreadable();
    }
    if (::fstat(read.file.get(), &read.status) != 0)
        return unreadable();
    if (!S_ISREG(read.status.st_mode))
        return refuse("is not a regular file", ": will not replace it");
    if (rules.rootsOnly && read.status.st_uid != 0)
        return refuse("belongs to uid " + std::to_string(read.status.st_uid) + ", not to root", ": will not take it over");
    const std::string tooLarge = std::string("is too large for ") + rules.kind;
    if (read.status.st_size > rules.largest)
        return refuse(tooLarge, nullptr);
    // Read up to one byte past the limit: the file may have grown since fstat.
    char buffer[4096];
    for (ssize_t got; (got = ::read(read.file.get(), buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return unreadable();
        read.text.append(buffer, static_cast<size_t>(got));
        if (read.text.size() > static_cast<size_t>(rules.largest))
            return refuse(tooLarge, nullptr);
    }
    return read;
}

FileRead readFile(const std::string &path, const ReadRules &rules, const std::string &shown)
{
    return readFileAt(AT_FDCWD, path, shown, rules);
}

std::pair<std::string, std::string> folderAndName(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

Descriptor openFolder(const std::string &folder)
{
    return Descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

WriteProblem replaceFileAt(int folder, const std::string &folderPath, const std::string &name,
                           const std::string &text, const FileRead *old)
{
    const std::string path = pathIn(folderPath, name);
    const bool keep = old && old->file.isOpen();
    if (keep && old->text == text)
        return {};
    if (keep && old->status.st_nlink > 1)
        return {"will not replace " + path + ": it has " + std::to_string(old->status.st_nlink)
                    + " hard links, which a new file would split", ""};

    // A random part: in a folder others may write in, names they could guess could be taken.
    std::random_device random;
    std::string hidden;
    Descriptor out;
    for (int attempt = 0; !out.isOpen() && attempt < 100; ++attempt) {
        hidden = "." + name + "." + std::to_string(::getpid()) + "." + std::to_string(random() % 1000000);
        out = Descriptor(::openat(folder, hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out.isOpen() && errno != EEXIST)
            break;
    }
    if (!out.isOpen())
        return systemProblem("cannot write in " + folderPath);

    WriteProblem problem;
    std::string notKept;
    if (!writeAll(out.get(), text) || (!keep && ::fchmod(out.get(), 0644) != 0) || ::fsync(out.get()) != 0)
        problem = systemProblem("cannot write " + pathIn(folderPath, hidden));
    else if (keep && !keepProperties(old->file.get(), old->status, out.get(), &notKept))
        problem = systemProblem("will not replace " + path + ": cannot keep " + notKept);
    else if (out.close() != 0)
        problem = systemProblem("cannot write " + pathIn(folderPath, hidden));
    if (problem.line.empty() && ::renameat(folder, hidden.c_str(), folder, name.c_str()) != 0)
        problem = systemProblem("cannot rename " + hidden + " to " + path);
    if (!problem.line.empty()) {
        ::unlinkat(folder, hidden.c_str(), 0);
        return problem;
    }
    if (::fsync(folder) != 0)
        return systemProblem("cannot sync " + folderPath);
    return {};
}
