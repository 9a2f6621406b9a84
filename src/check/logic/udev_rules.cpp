// SPDX-License-Identifier: MIT
#include "udev_rules.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

namespace {

constexpr char kMatrixKey[] = "ENV{LIBINPUT_CALIBRATION_MATRIX}";
constexpr off_t kLargestRulesFile = 1 << 20;

std::string commentFor(const DeviceIdentity &device)
{
    return "# kestrilavon-check: the calibration of \"" + device.name + "\"";
}

// The key-value pairs of one rule line (KEY=="value", KEY="value", ...), by key; the value of a
// key that is there twice is its last.
std::map<std::string, std::string> ruleFields(const std::string &line)
{
    std::map<std::string, std::string> fields;
    size_t at = 0;
    while (at < line.size()) {
        const size_t quote = line.find('"', at);
        if (quote == std::string::npos)
            break;
        const size_t end = line.find('"', quote + 1);
        if (end == std::string::npos)
            break;
        std::string key = line.substr(at, quote - at);
        key.erase(0, key.find_first_not_of(" ,\t"));
        key.erase(key.find_last_not_of("=!+-:") + 1);
        fields[key] = line.substr(quote + 1, end - quote - 1);
        at = end + 1;
    }
    return fields;
}

bool isRuleOf(const std::string &line, const DeviceIdentity &device)
{
    if (line.find(kMatrixKey) == std::string::npos)
        return false;
    const std::map<std::string, std::string> fields = ruleFields(line);
    const auto field = [&](const char *key) {
        const auto found = fields.find(key);
        return found == fields.end() ? std::string() : found->second;
    };
    return field("ATTRS{name}") == udevMatchName(device.name)
        && field("ATTRS{id/bustype}") == hexId(device.bus)
        && field("ATTRS{id/vendor}") == hexId(device.vendor)
        && field("ATTRS{id/product}") == hexId(device.product);
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

std::string joined(const std::vector<std::string> &all)
{
    std::string text;
    for (const std::string &line : all)
        text += line + "\n";
    return text;
}

// Removes the device's rule lines (and the comment this program wrote above each); returns
// the index where the first one was, or -1.
long removeRules(std::vector<std::string> &all, const DeviceIdentity &device,
                 std::optional<std::string> *matrix)
{
    long first = -1;
    for (size_t i = 0; i < all.size();) {
        if (!isRuleOf(all[i], device)) {
            ++i;
            continue;
        }
        if (matrix)
            *matrix = ruleFields(all[i])[kMatrixKey];
        size_t from = i;
        if (i > 0 && all[i - 1] == commentFor(device))
            --from;
        all.erase(all.begin() + static_cast<long>(from), all.begin() + static_cast<long>(i) + 1);
        if (first < 0)
            first = static_cast<long>(from);
        i = from;
    }
    return first;
}

std::string systemError(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

std::string udevRuleBlock(const DeviceIdentity &device, const LibinputMatrix &matrix)
{
    std::string block = commentFor(device) + "\n";
    block += "ACTION==\"add|change\", SUBSYSTEM==\"input\", KERNEL==\"event*\", ATTRS{name}==\""
        + udevMatchName(device.name) + "\", ATTRS{id/bustype}==\"" + hexId(device.bus)
        + "\", ATTRS{id/vendor}==\"" + hexId(device.vendor) + "\", ATTRS{id/product}==\""
        + hexId(device.product) + "\", " + kMatrixKey + "=\"" + matrixText(matrix, false) + "\"\n";
    return block;
}

std::string withRule(const std::string &rules, const DeviceIdentity &device,
                     const LibinputMatrix &matrix, std::optional<std::string> *replaced)
{
    std::vector<std::string> all = lines(rules);
    replaced->reset();
    const long at = removeRules(all, device, replaced);
    const std::vector<std::string> block = lines(udevRuleBlock(device, matrix));
    all.insert(at < 0 ? all.end() : all.begin() + at, block.begin(), block.end());
    return joined(all);
}

std::string withoutRule(const std::string &rules, const DeviceIdentity &device, bool *found)
{
    std::vector<std::string> all = lines(rules);
    *found = removeRules(all, device, nullptr) >= 0;
    // Nothing but blank lines left: no file at all.
    for (const std::string &line : all) {
        if (line.find_first_not_of(" \t") != std::string::npos)
            return joined(all);
    }
    return {};
}

std::string editRulesFile(const std::string &folder,
                          const std::function<std::string(const std::string &)> &edit)
{
    const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return systemError("cannot open " + folder);
    // The folder, not the file, is locked: the file is replaced, so a lock on it would be lost.
    if (::flock(directory, LOCK_EX) != 0) {
        const std::string problem = systemError("cannot lock " + folder);
        ::close(directory);
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
    return problem;
}

std::string shellWord(const std::string &word)
{
    if (!word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                "0123456789_./:=@+-,%") == std::string::npos)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string keepCommand(const DeviceInfo &device, const LibinputMatrix &matrix)
{
    return "sudo kestrilavon-check --install --matrix \"" + matrixText(matrix, false) + "\" "
        + shellWord(device.stablePath());
}

