// SPDX-License-Identifier: MIT
#include "result_file.h"

#include "safe_file.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

const char *const kBorderNames[] = {"BoderLeft", "BoderRight", "BoderTop", "BoderBottom"};

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Reads one line of the form   Option "NAME" "VALUE"   with at least one blank between the
// three words and any around them. Returns the value, or nullopt for any other line.
std::optional<long long> optionValue(std::string_view line, std::string_view name)
{
    size_t at = 0;
    auto skipBlanks = [&] {
        const size_t from = at;
        while (at < line.size() && isBlank(line[at]))
            ++at;
        return at > from;
    };
    auto take = [&](std::string_view word) {
        if (line.substr(at, word.size()) != word)
            return false;
        at += word.size();
        return true;
    };
    skipBlanks();
    if (!take("Option") || !skipBlanks() || !take("\"") || !take(name) || !take("\"")
        || !skipBlanks() || !take("\""))
        return std::nullopt;
    const bool negative = take("-");
    long long value = 0;
    size_t digits = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9' && digits < 11; ++at, ++digits)
        value = value * 10 + (line[at] - '0');
    if (digits == 0 || digits > 10 || !take("\""))
        return std::nullopt;
    skipBlanks();
    if (at != line.size())
        return std::nullopt;
    return negative ? -value : value;
}

// The borders in text; else nullopt, with *missing (if given) naming the first line not found.
std::optional<Borders> parseBorders(std::string_view text, const char **missing)
{
    std::optional<long long> values[4];
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        for (int i = 0; i < 4; ++i) {
            if (!values[i])
                values[i] = optionValue(line, kBorderNames[i]);
        }
    }
    for (int i = 0; i < 4; ++i) {
        if (!values[i] || *values[i] < INT_MIN || *values[i] > INT_MAX) {
            if (missing)
                *missing = kBorderNames[i];
            return std::nullopt;
        }
    }
    return Borders{static_cast<int>(*values[0]), static_cast<int>(*values[1]),
                   static_cast<int>(*values[2]), static_cast<int>(*values[3])};
}

} // namespace

std::string resultFileText(const Borders &borders)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "Ok! Fill the following data to the X Config file to calibrate your Quillomar "
                  "Screen,then restart X.\n"
                  "    Option  \"BoderLeft\" \"%d\"\n"
                  "    Option  \"BoderRight\" \"%d\"\n"
                  "    Option  \"BoderTop\" \"%d\"\n"
                  "    Option  \"BoderBottom\" \"%d\"\n",
                  borders.left, borders.right, borders.top, borders.bottom);
    return text;
}

std::string saveResultFile(const std::string &path, const std::string &text)
{
    // A fresh file every time: nothing is taken over from one planted at the name.
    const auto [folderPath, name] = folderAndName(path);
    const Descriptor folder = openFolder(folderPath);
    if (!folder.isOpen())
        return std::strerror(errno);
    return replaceFileAt(folder.get(), folderPath, name, text, nullptr).reason;
}

std::optional<Borders> parseResultText(const std::string &text)
{
    return parseBorders(text, nullptr);
}

std::optional<uid_t> sudoUser()
{
    const char *uid = std::getenv("SUDO_UID");
    if (::getuid() != 0 || !uid || !*uid || std::strlen(uid) > 9
        || std::strspn(uid, "0123456789") != std::strlen(uid))
        return std::nullopt;
    return static_cast<uid_t>(std::strtoul(uid, nullptr, 10));
}

bool ResultFile::trusted() const
{
    return owner == 0 || owner == ::geteuid() || sudoUser() == owner;
}

std::string ResultFile::ownerName() const
{
    const passwd *user = ::getpwuid(owner);
    return (user ? "user " + std::string(user->pw_name) + " " : std::string("a user "))
        + "(uid " + std::to_string(owner) + ")";
}

ResultFile readResultFile(const std::string &path)
{
    ResultFile result;
    const FileRead read = readFile(path, {4096, "a result file", false, false}, "it");
    result.problem = read.problem;
    result.owner = read.status.st_uid;
    if (!result.problem.empty())
        return result;

    const char *missing = nullptr;
    result.borders = parseBorders(read.text, &missing);
    if (!result.borders)
        result.problem = std::string("it has no usable ") + missing + " line";
    return result;
}
