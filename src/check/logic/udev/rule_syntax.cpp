// SPDX-License-Identifier: MIT
#include "udev/rule_syntax.h"

#include <algorithm>
#include <cstring>


bool lineEndAt(const std::string &text, size_t at, size_t *length)
{
    if (at < text.size() && text[at] == '\n')
        return *length = 1, true;
    if (at + 1 < text.size() && text[at] == '\r' && text[at + 1] == '\n')
        return *length = 2, true;
    return false;
}

// Reads a rule's pairs; false when it holds anything else (a value running over a line end, a
// key with no operator), which this program then leaves as it is.
bool readPairs(const std::string &text, std::vector<Pair> *pairs)
{
    pairs->clear();
    size_t at = 0, ending = 0;
    const auto blankOrComma = [&](char c) { return c == ' ' || c == '\t' || c == ','; };
    while (true) {
        // Separators, and line ends behind a backslash, with the comment lines after them.
        while (at < text.size()) {
            if (blankOrComma(text[at])) {
                ++at;
            } else if (text[at] == '\\' && lineEndAt(text, at + 1, &ending)) {
                at += 1 + ending;
                size_t first = text.find_first_not_of(" \t", at);
                while (first != std::string::npos && text[first] == '#') {
                    const size_t next = text.find('\n', first);
                    at = next == std::string::npos ? text.size() : next + 1;
                    first = text.find_first_not_of(" \t", at);
                }
            } else {
                break;
            }
        }
        if (at == text.size() || lineEndAt(text, at, &ending))
            return at == text.size() || at + ending == text.size();
        Pair pair;
        pair.begin = at;
        int braces = 0;
        while (at < text.size() && (braces > 0 || !std::strchr("=!+-:", text[at]))) {
            const char c = text[at];
            if (c == '"' || c == '\n' || c == '\r' || ((c == ' ' || c == '\t' || c == ',') && braces == 0))
                return false;
            braces += c == '{' ? 1 : c == '}' ? -1 : 0;
            ++at;
        }
        pair.key = text.substr(pair.begin, at - pair.begin);
        for (const char *op : {"==", "!=", "+=", "-=", ":=", "="}) {
            if (text.compare(at, std::strlen(op), op) == 0) {
                pair.op = op;
                break;
            }
        }
        if (pair.key.empty() || pair.op.empty())
            return false;
        at += pair.op.size();
        if (at < text.size() && text[at] == 'e')  // udev's e"..." takes C escapes
            ++at;
        if (at >= text.size() || text[at] != '"')
            return false;
        pair.valueBegin = ++at;
        while (at < text.size() && text[at] != '"') {
            if (text[at] == '\n' || text[at] == '\r')
                return false;
            at += text[at] == '\\' && at + 1 < text.size() && text[at + 1] != '\n' ? 2 : 1;
        }
        if (at >= text.size())
            return false;
        pair.valueEnd = at++;
        pair.end = at;
        pair.value = text.substr(pair.valueBegin, pair.valueEnd - pair.valueBegin);
        pairs->push_back(pair);
    }
}

void reread(Unit &unit)
{
    unit.readable = readPairs(unit.text, &unit.pairs);
}

std::vector<Unit> units(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(at, next - at));
        at = next;
    }
    const auto content = [](const std::string &line) {
        std::string bare = line;
        while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r'))
            bare.pop_back();
        return bare;
    };
    const auto isComment = [&](const std::string &line) {
        const size_t first = line.find_first_not_of(" \t");
        return first != std::string::npos && line[first] == '#';
    };
    const auto isBlank = [&](const std::string &line) {
        return content(line).find_first_not_of(" \t") == std::string::npos;
    };
    std::vector<Unit> all;
    for (size_t i = 0; i < lines.size();) {
        Unit unit;
        unit.id = static_cast<int>(all.size());
        unit.text = lines[i];
        unit.rule = !isComment(lines[i]) && !isBlank(lines[i]);
        // A rule goes on past a line ending in a backslash, over comment lines.
        for (size_t last = i; unit.rule && i + 1 < lines.size() && !content(lines[last]).empty()
                              && content(lines[last]).back() == '\\';) {
            unit.text += lines[++i];
            if (!isComment(lines[i]))
                last = i;
        }
        ++i;
        if (unit.rule)
            reread(unit);
        all.push_back(unit);
    }
    return all;
}

std::string joined(const std::vector<Unit> &all)
{
    std::string text;
    for (const Unit &unit : all)
        text += unit.text;
    return text;
}

// Line numbers (from 1) of the units, in the text they make.
std::vector<int> lineNumbers(const std::vector<Unit> &all)
{
    std::vector<int> numbers;
    int line = 1;
    for (const Unit &unit : all) {
        numbers.push_back(line);
        line += static_cast<int>(std::count(unit.text.begin(), unit.text.end(), '\n'));
    }
    return numbers;
}

// A rule's lines as udev joins them: each backslash and line end dropped, with the blanks
// that begin the next line.
std::string asUdevJoinsIt(const std::string &text)
{
    std::string joined;
    size_t ending = 0;
    for (size_t at = 0; at < text.size();) {
        if (text[at] == '\\' && lineEndAt(text, at + 1, &ending)) {
            at = std::min(text.size(), text.find_first_not_of(" \t", at + 1 + ending));
        } else {
            joined += text[at++];
        }
    }
    return joined;
}

std::string udevMatchName(const std::string &name)
{
    std::string match = name;
    for (char &c : match) {
        if (c == '*' || c == '?' || c == '[' || c == '|')
            c = '?';
    }
    return match;
}

std::string ruleAt(const std::string &rules, int line)
{
    const std::vector<Unit> all = units(rules);
    const std::vector<int> numbers = lineNumbers(all);
    for (size_t i = 0; i < all.size(); ++i) {
        if (numbers[i] != line)
            continue;
        std::string text;
        for (const char c : all[i].text) {
            if (c != '\r')
                text += c;
        }
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text;
    }
    return {};
}

