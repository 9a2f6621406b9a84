// SPDX-License-Identifier: MIT
#include "handover/session_answer.h"

#include "input/listing.h"

#include <algorithm>

namespace {

constexpr char kDigits[] = "0123456789abcdef";

int digit(char c)
{
    const char *at = std::find(kDigits, kDigits + 16, c);
    return at == kDigits + 16 ? -1 : static_cast<int>(at - kDigits);
}

} // namespace

std::optional<std::string> SessionAnswer::value(const std::string &key) const
{
    for (const auto &[name, text] : fields) {
        if (name == key)
            return text;
    }
    return std::nullopt;
}

std::vector<std::string> SessionAnswer::values(const std::string &key) const
{
    std::vector<std::string> all;
    for (const auto &[name, text] : fields) {
        if (name == key)
            all.push_back(text);
    }
    return all;
}

std::string sessionAnswerText(const SessionAnswer &answer)
{
    std::string text;
    for (const auto &[key, value] : answer.fields) {
        text += key + ' ';
        for (const unsigned char byte : value) {
            text += kDigits[byte >> 4];
            text += kDigits[byte & 15];
        }
        text += '\n';
    }
    return text;
}

std::optional<SessionAnswer> readSessionAnswer(const std::string &text, const std::vector<std::string> &keys)
{
    if (text.size() > kSessionAnswerLimit || (!text.empty() && text.back() != '\n'))
        return std::nullopt;
    SessionAnswer answer;
    for (size_t from = 0, end; from < text.size(); from = end + 1) {
        end = text.find('\n', from);
        const std::string line = text.substr(from, end - from);
        const size_t blank = line.find(' ');
        if (blank == std::string::npos || std::find(keys.begin(), keys.end(), line.substr(0, blank)) == keys.end()
            || (line.size() - blank - 1) % 2 != 0)
            return std::nullopt;
        std::string value;
        for (size_t i = blank + 1; i < line.size(); i += 2) {
            const int high = digit(line[i]), low = digit(line[i + 1]);
            if (high < 0 || low < 0)
                return std::nullopt;
            value += static_cast<char>(high * 16 + low);
        }
        answer.add(line.substr(0, blank), value);
    }
    return answer;
}

std::string printableLines(const std::string &text)
{
    std::string shown;
    for (size_t from = 0, end; from < text.size(); from = end + 1) {
        end = std::min(text.find('\n', from), text.size());
        shown += printable(text.substr(from, end - from)) + '\n';
    }
    return shown;
}
