// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_SESSION_ANSWER_H
#define KESTRILAVON_SESSION_ANSWER_H

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What a child of root's, run as the session's user, answers once it has set something on the
// running session (X, sway) or asked it: lines "KEY HEX", the value's bytes in hexadecimal,
// nothing else. Root reads no more than kSessionAnswerLimit, takes only the keys it asked for,
// and makes any text in it printable before it says it.
struct SessionAnswer {
    std::vector<std::pair<std::string, std::string>> fields;

    void add(const std::string &key, const std::string &value) { fields.emplace_back(key, value); }
    // The first value of key, or nullopt.
    std::optional<std::string> value(const std::string &key) const;
    std::vector<std::string> values(const std::string &key) const;
};

constexpr size_t kSessionAnswerLimit = 64 * 1024;

std::string sessionAnswerText(const SessionAnswer &answer);

// The answer in text, when each line is a key among `keys`, one blank, and an even count of
// lowercase hexadecimal digits, and the whole is within the limit; otherwise nullopt.
std::optional<SessionAnswer> readSessionAnswer(const std::string &text, const std::vector<std::string> &keys);

// Text from the user's part as it may be said: each line made printable, newlines kept, a
// last line ended.
std::string printableLines(const std::string &text);

#endif
