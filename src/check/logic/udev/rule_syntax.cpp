// SPDX-License-Identifier: MIT
#include "udev/rule_syntax.h"

#include <algorithm>
#include <cstring>

// udev (systemd's udev-rules.c) reads a rules file line by line: the blanks that begin a line
// go, a line starting with # is skipped (even among the lines of one rule), a line ending in a
// backslash goes on into the next, an empty line ends a rule, and a rule still going on at the
// end of the file is dropped. A rule is KEY{attr} OP "value" pairs, with blanks and commas
// between them and blanks around the operator; one pair udev cannot read drops the rule.

namespace {

constexpr char kWhitespace[] = " \t\n\r";
// udev reads lines of up to this many bytes, and rules joined from them of less.
constexpr size_t kUdevLineSize = 16384;

struct Line {
    size_t begin = 0, contentEnd = 0, end = 0;  // end: past its line ending
};

std::vector<Line> linesOf(const std::string &text)
{
    std::vector<Line> lines;
    for (size_t at = 0; at < text.size();) {
        const size_t newline = text.find('\n', at);
        Line line{at, newline == std::string::npos ? text.size() : newline,
                  newline == std::string::npos ? text.size() : newline + 1};
        if (line.contentEnd > at && text[line.contentEnd - 1] == '\r' && newline != std::string::npos)
            --line.contentEnd;
        lines.push_back(line);
        at = line.end;
    }
    return lines;
}

size_t firstContent(const std::string &text, const Line &line)
{
    size_t at = line.begin;
    while (at < line.contentEnd && std::strchr(kWhitespace, text[at]) && text[at] != '\0')
        ++at;
    return at;
}

bool isCommentLine(const std::string &text, const Line &line)
{
    const size_t first = firstContent(text, line);
    return first < line.contentEnd && text[first] == '#';
}

bool isBlankLine(const std::string &text, const Line &line)
{
    return firstContent(text, line) == line.contentEnd;
}

bool endsInBackslash(const std::string &text, const Line &line)
{
    return line.contentEnd > line.begin && text[line.contentEnd - 1] == '\\';
}

// The rule's text as udev joins it, with where each of its characters stands in the unit.
std::string joinedWithOffsets(const std::string &text, std::vector<size_t> *offsets)
{
    std::string joined;
    const std::vector<Line> lines = linesOf(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0 && isCommentLine(text, lines[i]))
            continue;
        size_t end = lines[i].contentEnd;
        if (endsInBackslash(text, lines[i]))
            --end;
        for (size_t at = firstContent(text, lines[i]); at < end; ++at) {
            joined += text[at];
            if (offsets)
                offsets->push_back(at);
        }
    }
    return joined;
}

// Reads the pairs of a joined rule as udev's parse_line does; false where udev finds a pair it
// cannot read. Offsets are in the joined text.
bool readJoinedPairs(const std::string &line, std::vector<Pair> *pairs)
{
    const auto skip = [&](size_t at, const char *chars) {
        while (at < line.size() && std::strchr(chars, line[at]) && line[at] != '\0')
            ++at;
        return at;
    };
    for (size_t at = 0;;) {
        at = skip(at, " \t\n\r,");
        if (at == line.size())
            return true;
        Pair pair;
        pair.begin = at;
        size_t keyEnd = at;
        for (;; ++keyEnd) {
            if (keyEnd == line.size())
                return false;
            if (std::strchr(" \t\n\r={", line[keyEnd]))
                break;
            if (std::strchr("+-!:", line[keyEnd]) && keyEnd + 1 < line.size() && line[keyEnd + 1] == '=')
                break;
        }
        size_t after = keyEnd;
        if (line[keyEnd] == '{') {
            const size_t close = line.find('}', keyEnd);
            if (close == std::string::npos)
                return false;
            after = close + 1;
        }
        pair.key = line.substr(pair.begin, after - pair.begin);
        at = skip(after, kWhitespace);
        for (const char *op : {"==", "!=", "+=", "-=", ":=", "="}) {
            if (line.compare(at, std::strlen(op), op) == 0) {
                pair.op = op;
                break;
            }
        }
        if (keyEnd == pair.begin || pair.op.empty())
            return false;
        at = skip(at + pair.op.size(), kWhitespace);
        pair.escaped = at < line.size() && line[at] == 'e';
        at += pair.escaped ? 1 : 0;
        if (at >= line.size() || line[at] != '"')
            return false;
        pair.valueBegin = ++at;
        // A plain value ends at the first quote not behind a backslash; in e"..." a backslash
        // escapes whatever follows it.
        for (; at < line.size() && line[at] != '"'; ++at) {
            if (line[at] == '\\' && at + 1 < line.size() && (pair.escaped || line[at + 1] == '"'))
                ++at;
            pair.value += line[at];
        }
        if (at >= line.size())
            return false;
        if (pair.escaped)
            pair.value = line.substr(pair.valueBegin, at - pair.valueBegin);
        pair.valueEnd = at++;
        pair.end = at;
        pairs->push_back(pair);
    }
}

} // namespace

void reread(Unit &unit)
{
    unit.pairs.clear();
    std::vector<size_t> offsets;
    const std::string line = joinedWithOffsets(unit.text, &offsets);
    std::vector<Pair> pairs;
    unit.readable = readJoinedPairs(line, &pairs);
    if (!unit.readable)
        return;
    for (Pair &pair : pairs) {
        // Quotes stand where they were written, so the value's ends are found through them.
        pair.begin = offsets[pair.begin];
        pair.valueBegin = offsets[pair.valueBegin - 1] + 1;
        pair.valueEnd = offsets[pair.valueEnd];
        pair.end = pair.valueEnd + 1;
        unit.pairs.push_back(pair);
    }
}

std::vector<Unit> units(const std::string &text)
{
    std::vector<Unit> all;
    bool goingOn = false;
    for (const Line &line : linesOf(text)) {
        const std::string raw = text.substr(line.begin, line.end - line.begin);
        if (goingOn && !isBlankLine(text, line)) {
            all.back().text += raw;
            if (!isCommentLine(text, line))
                goingOn = endsInBackslash(text, line);
            continue;
        }
        Unit unit;
        unit.id = static_cast<int>(all.size());
        unit.text = raw;
        unit.rule = !isCommentLine(text, line) && !isBlankLine(text, line);
        goingOn = unit.rule && endsInBackslash(text, line);
        all.push_back(unit);
    }
    if (goingOn)
        all.back().dangling = true;
    for (Unit &unit : all) {
        if (unit.rule)
            reread(unit);
    }
    return all;
}

bool goesOn(const Unit &unit)
{
    const std::string &text = unit.text;
    std::vector<Line> lines = linesOf(text);
    while (!lines.empty() && isCommentLine(text, lines.back()))
        lines.pop_back();
    return unit.rule && !lines.empty() && endsInBackslash(text, lines.back());
}

ReadOtherwise whereUdevMayReadOtherwise(const std::string &text)
{
    const std::vector<Line> lines = linesOf(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string content = text.substr(lines[i].begin, lines[i].contentEnd - lines[i].begin);
        const int number = static_cast<int>(i) + 1;
        if (content.find('\r') != std::string::npos)
            return {number, "a carriage return that udev takes for a line end"};
        if (content.find('\0') != std::string::npos)
            return {number, "a NUL byte, where udev ends the line"};
        if (content.size() + 1 >= kUdevLineSize)
            return {number, "a line longer than udev reads"};
    }
    const std::vector<Unit> all = units(text);
    const std::vector<int> numbers = lineNumbers(all);
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].rule && asUdevJoinsIt(all[i].text).size() + 1 >= kUdevLineSize)
            return {numbers[i], "a rule longer than udev reads"};
        for (const Pair &pair : all[i].pairs) {
            if (pair.escaped && pair.value.find('\\') != std::string::npos)
                return {numbers[i], "a value with escapes (e\"...\") not read here"};
        }
    }
    return {};
}

std::string joined(const std::vector<Unit> &all)
{
    std::string text;
    for (const Unit &unit : all)
        text += unit.text;
    return text;
}

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

std::string asUdevJoinsIt(const std::string &text)
{
    return joinedWithOffsets(text, nullptr);
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

