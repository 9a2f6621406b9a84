// SPDX-License-Identifier: MIT
#include "udev/udev_rules.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <sstream>
#include <thread>

namespace {

constexpr char kMatrixKey[] = "ENV{LIBINPUT_CALIBRATION_MATRIX}";
constexpr off_t kLargestRulesFile = 1 << 20;

// ---- What a rule matches ----

using MatchSet = std::set<std::string>;  // each KEY==value or KEY!=value, as written

std::vector<std::pair<std::string, std::string>> matchKeys(const RuleTarget &target)
{
    const DeviceIdentity &d = target.device;
    std::vector<std::pair<std::string, std::string>> keys = {
        {"ACTION", "add|change"}, {"SUBSYSTEM", "input"}, {"KERNEL", "event*"},
        {"ATTRS{name}", udevMatchName(d.name)}, {"ATTRS{id/bustype}", hexId(d.bus)},
        {"ATTRS{id/vendor}", hexId(d.vendor)}, {"ATTRS{id/product}", hexId(d.product)}};
    if (!target.idPath.empty())
        keys.push_back({"ENV{ID_PATH}", target.idPath});
    return keys;
}

MatchSet matchSet(const RuleTarget &target)
{
    MatchSet set;
    for (const auto &[key, value] : matchKeys(target))
        set.insert(key + "==" + value);
    return set;
}

std::string commentFor(const RuleTarget &target)
{
    return "# kestrilavon-check: the calibration of \"" + target.device.name + "\""
        + (target.idPath.empty() ? "" : " on the port " + target.idPath);
}

// ---- The rules text, read as udev reads it ----

// One KEY{attr}OP"value" of a rule, with where it stands in its rule's text.
struct Pair {
    std::string key, op, value;
    size_t begin = 0, end = 0;            // the whole pair
    size_t valueBegin = 0, valueEnd = 0;  // inside the quotes
    bool isMatch() const { return op == "==" || op == "!="; }
    bool setsMatrix() const { return key == kMatrixKey && !isMatch() && op != "-="; }
};

// A comment line, a blank line, or one rule: a line and the lines a trailing backslash joins
// to it (udev skips comment lines among them). Each keeps its lines' own endings.
struct Unit {
    std::string text;
    bool rule = false;
    bool readable = false;  // its pairs were read
    std::vector<Pair> pairs;
    int id = 0;  // which unit it was in the text read, or one of those below for one added
};
constexpr int kAddedRule = -2;

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

// The match set of a rule that was read; empty for anything else.
MatchSet matchOf(const Unit &unit)
{
    MatchSet set;
    if (unit.rule && unit.readable) {
        for (const Pair &pair : unit.pairs) {
            if (pair.isMatch())
                set.insert(pair.key + pair.op + pair.value);
        }
    }
    return set;
}

bool narrowerThan(const MatchSet &set, const MatchSet &device)
{
    return set.size() > device.size() && std::includes(set.begin(), set.end(), device.begin(), device.end());
}

// The last rule whose match is exactly this set, or -1; the others' indices in *others.
long lastWithMatch(const std::vector<Unit> &all, const MatchSet &set, std::vector<long> *others)
{
    long found = -1;
    for (size_t i = 0; i < all.size(); ++i) {
        if (matchOf(all[i]) != set)
            continue;
        if (found >= 0 && others)
            others->push_back(found);
        found = static_cast<long>(i);
    }
    return found;
}

// Whether the unit is the comment this program writes above the target's rule.
bool isCommentFor(const Unit &unit, const RuleTarget &target)
{
    const std::string comment = commentFor(target);
    return !unit.rule && unit.text.rfind(comment, 0) == 0
        && unit.text.find_first_not_of("\r\n", comment.size()) == std::string::npos;
}

// The line ending the file uses ("\n" where it has none yet).
std::string endingOf(const std::string &text)
{
    const size_t end = text.find('\n');
    return end != std::string::npos && end > 0 && text[end - 1] == '\r' ? "\r\n" : "\n";
}

void endWithLineEnd(std::vector<Unit> &all, const std::string &ending)
{
    if (!all.empty() && !all.back().text.empty() && all.back().text.back() != '\n') {
        all.back().text += ending;
        if (all.back().rule)
            reread(all.back());
    }
}

// Where a block goes in front of the rule at index: before the comment lines right above it.
size_t aboveComments(const std::vector<Unit> &all, size_t index)
{
    while (index > 0 && !all[index - 1].rule && all[index - 1].text.find('#') != std::string::npos)
        --index;
    return index;
}

std::vector<Unit> blockUnits(const RuleTarget &target, const LibinputMatrix &matrix, const std::string &ending)
{
    std::string block = udevRuleBlock(target, matrix);
    if (ending != "\n") {
        for (size_t at = 0; (at = block.find('\n', at)) != std::string::npos; at += ending.size())
            block.replace(at, 1, ending);
    }
    std::vector<Unit> added = units(block);
    for (Unit &unit : added)
        unit.id = unit.rule ? kAddedRule : -1;
    return added;
}

// The device's rule stands before every narrower rule of the same device (port rules, the
// person's KERNELS== or serial rules), since udev's last assignment wins: moved there, with
// this program's comment above it, when it stands after one.
bool keepDeviceRuleFirst(std::vector<Unit> &all, const RuleTarget &target, const std::string &ending)
{
    const MatchSet device = matchSet({target.device, ""});
    const long rule = lastWithMatch(all, device, nullptr);
    long narrower = -1;
    for (size_t i = 0; narrower < 0 && i < all.size(); ++i) {
        if (narrowerThan(matchOf(all[i]), device))
            narrower = static_cast<long>(i);
    }
    if (rule < 0 || narrower < 0 || narrower > rule)
        return false;
    endWithLineEnd(all, ending);
    size_t from = static_cast<size_t>(rule);
    if (from > 0 && isCommentFor(all[from - 1], {target.device, ""}))
        --from;
    std::vector<Unit> moving(all.begin() + static_cast<long>(from), all.begin() + rule + 1);
    all.erase(all.begin() + static_cast<long>(from), all.begin() + rule + 1);
    const size_t to = aboveComments(all, static_cast<size_t>(narrower));
    all.insert(all.begin() + static_cast<long>(to), moving.begin(), moving.end());
    return true;
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

// Fills in where the edited rule and the others stand in the new text.
void locate(RulesEdit &edit, const std::vector<Unit> &all, int editedId, const std::vector<int> &otherIds,
            const RuleTarget &target)
{
    const std::vector<int> numbers = lineNumbers(all);
    const std::string name = udevMatchName(target.device.name);
    for (size_t i = 0; i < all.size(); ++i) {
        if (editedId != -1 && all[i].id == editedId)
            edit.line = numbers[i];
        if (all[i].id >= 0 && std::find(otherIds.begin(), otherIds.end(), all[i].id) != otherIds.end())
            edit.others.push_back(numbers[i]);
        if (all[i].rule && !all[i].readable && asUdevJoinsIt(all[i].text).find(name) != std::string::npos)
            edit.unread.push_back(numbers[i]);
    }
    edit.text = joined(all);
}

// Removes a pair and the separator before it (after it, for the first), from the rule's text.
void erasePair(Unit &unit, size_t index)
{
    const std::vector<Pair> &pairs = unit.pairs;
    size_t from = pairs[index].begin, to = pairs[index].end;
    if (index > 0)
        from = pairs[index - 1].end;
    else if (pairs.size() > 1)
        to = pairs[1].begin;
    unit.text.erase(from, to - from);
    reread(unit);
}

std::string withoutBlankEnd(const std::vector<Unit> &all)
{
    for (const Unit &unit : all) {
        if (unit.rule || unit.text.find('#') != std::string::npos)
            return joined(all);
    }
    return {};  // nothing but blank lines: no file at all
}

std::string systemError(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

std::string nameProblemForUdev(const std::string &name)
{
    return plainNameProblem(name);
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

std::string idPathProblem(const std::string &idPath)
{
    if (idPath.empty())
        return "udev gives it no ID_PATH (it does only on PCI, USB, platform and ACPI buses): it "
               "cannot be told from an identical panel by its port";
    if (idPath.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                 "-_.:+@") != std::string::npos)
        return "its ID_PATH holds characters that do not belong in a rule";
    return {};
}

std::string udevRuleBlock(const RuleTarget &target, const LibinputMatrix &matrix)
{
    std::string rule;
    for (const auto &[key, value] : matchKeys(target))
        rule += key + "==\"" + value + "\", ";
    return commentFor(target) + "\n" + rule + kMatrixKey + "=\"" + matrixText(matrix, false) + "\"\n";
}

std::string udevHowTo(const DeviceIdentity &device, const std::string &sysfsPath)
{
    const std::string where = sysfsPath.empty() ? "/sys/class/input/eventN" : sysfsPath;
    std::ostringstream out;
    out << "# Save the rule as /etc/udev/rules.d/99-kestrilavon.rules (sudo kestrilavon-check\n"
           "# --install does it all), then load it and re-add this device, as if re-plugged:\n"
           "#   udevadm control --reload\n"
           "#   udevadm trigger --settle --action=remove " << where << "\n"
           "#   udevadm trigger --settle --action=add " << where << "\n"
           "# libinput reads the matrix when the device is added: X's libinput driver and Wayland\n"
           "# compositors (GNOME, KDE, sway, weston) honour it; a compositor's own calibration\n"
           "# setting overrides it. A rule cannot map the touch screen onto one monitor of\n"
           "# several: under X, use --apply or --xorg with --output for that; under Wayland, the\n"
           "# compositor's own setting (sway's map_to_output, GNOME's and KDE's display settings).\n";
    if (udevMatchName(device.name) != device.name)
        out << "# udev reads * ? [ | as patterns: each is matched here by ?, any one character.\n";
    return out.str();
}

RulesEdit withMatrix(const std::string &rules, const RuleTarget &target, const LibinputMatrix &matrix)
{
    RulesEdit edit;
    edit.changed = true;
    std::vector<Unit> all = units(rules);
    const std::string ending = endingOf(rules);
    std::vector<long> others;
    const long found = lastWithMatch(all, matchSet(target), &others);
    int editedId = kAddedRule;
    edit.existed = found >= 0;
    if (found >= 0) {
        Unit &rule = all[static_cast<size_t>(found)];
        editedId = rule.id;
        const std::string value = matrixText(matrix, false);
        bool set = false;
        // From the last pair back: each replacement leaves the offsets before it as they were.
        for (size_t i = rule.pairs.size(); i-- > 0;) {
            const Pair &pair = rule.pairs[i];
            if (!pair.setsMatrix())
                continue;
            if (!edit.oldMatrix)
                edit.oldMatrix = pair.value;
            rule.text.replace(pair.valueBegin, pair.valueEnd - pair.valueBegin, value);
            set = true;
        }
        if (!set)
            rule.text.insert(rule.pairs.back().end, std::string(", ") + kMatrixKey + "=\"" + value + "\"");
        reread(rule);
    } else {
        endWithLineEnd(all, ending);
        const std::vector<Unit> block = blockUnits(target, matrix, ending);
        size_t at = all.size();
        const MatchSet device = matchSet({target.device, ""});
        if (target.idPath.empty()) {
            for (size_t i = 0; i < all.size(); ++i) {
                if (narrowerThan(matchOf(all[i]), device)) {
                    at = aboveComments(all, i);
                    break;
                }
            }
        } else if (const long rule = lastWithMatch(all, device, nullptr); rule >= 0) {
            at = static_cast<size_t>(rule) + 1;
        }
        all.insert(all.begin() + static_cast<long>(at), block.begin(), block.end());
    }
    edit.moved = keepDeviceRuleFirst(all, target, ending);
    // Units keep the index they had in the text read as their id.
    const std::vector<int> otherIds(others.begin(), others.end());
    locate(edit, all, editedId, otherIds, target);
    return edit;
}

RulesEdit withoutMatrix(const std::string &rules, const RuleTarget &target)
{
    RulesEdit edit;
    std::vector<Unit> all = units(rules);
    const MatchSet set = matchSet(target);
    std::vector<long> others;
    const long found = lastWithMatch(all, set, &others);
    const std::vector<int> otherIds(others.begin(), others.end());
    if (found < 0) {
        locate(edit, all, -1, otherIds, target);
        edit.text = rules;
        return edit;
    }
    Unit &rule = all[static_cast<size_t>(found)];
    const int editedId = rule.id;
    edit.existed = true;
    for (size_t i = rule.pairs.size(); i-- > 0;) {
        if (!rule.pairs[i].setsMatrix())
            continue;
        if (!edit.oldMatrix)
            edit.oldMatrix = rule.pairs[i].value;
        erasePair(rule, i);
        edit.changed = true;
    }
    // Nothing of the person's left on it: only the match this program writes, and no comment
    // among its lines.
    bool commented = false;
    for (size_t at = rule.text.find('\n'); at != std::string::npos; at = rule.text.find('\n', at + 1)) {
        const size_t first = rule.text.find_first_not_of(" \t", at + 1);
        commented |= first != std::string::npos && rule.text[first] == '#';
    }
    if (edit.changed && rule.readable && !commented && rule.pairs.size() == set.size() && matchOf(rule) == set) {
        size_t from = static_cast<size_t>(found);
        if (from > 0 && isCommentFor(all[from - 1], target))
            --from;
        all.erase(all.begin() + static_cast<long>(from), all.begin() + found + 1);
        edit.lineRemoved = true;
    }
    locate(edit, all, editedId, otherIds, target);
    if (edit.lineRemoved) {
        const std::vector<int> numbers = lineNumbers(units(rules));
        edit.line = numbers[static_cast<size_t>(found)];
    }
    edit.text = withoutBlankEnd(all);
    return edit;
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

int lineSettingMatrix(const std::string &rules, const std::string &value)
{
    const auto words = [](const std::string &text) {
        std::istringstream in(text);
        std::vector<std::string> all;
        for (std::string word; in >> word;)
            all.push_back(word);
        return all;
    };
    const std::vector<Unit> all = units(rules);
    const std::vector<int> numbers = lineNumbers(all);
    int line = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        for (const Pair &pair : all[i].readable ? all[i].pairs : std::vector<Pair>()) {
            if (pair.setsMatrix() && words(pair.value) == words(value))
                line = numbers[i];
        }
    }
    return line;
}

std::string editRulesFile(const std::string &folder, const std::string &lockPath,
                          const std::function<std::string(const std::string &)> &edit,
                          std::chrono::milliseconds wait)
{
    // The rules file itself is replaced, so a lock on it would be lost; a lock on the folder
    // could be taken by anyone who may open it.
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0)
        return systemError("cannot open the lock file " + lockPath);
    struct stat lockStatus;
    if (::fstat(lock, &lockStatus) != 0 || !S_ISREG(lockStatus.st_mode) || lockStatus.st_uid != ::geteuid()
        || ((lockStatus.st_mode & 0077) != 0 && ::fchmod(lock, 0600) != 0)) {
        ::close(lock);
        return lockPath + " is not a lock file of this user's alone: will not use it";
    }
    const auto giveUp = std::chrono::steady_clock::now() + wait;
    while (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= giveUp) {
            const std::string problem = errno == EWOULDBLOCK
                ? "another --install is running (it holds " + lockPath + "): nothing was changed"
                : systemError("cannot lock " + lockPath);
            ::close(lock);
            return problem;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        const std::string problem = systemError("cannot open " + folder);
        ::close(lock);
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
    ::close(lock);
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

std::string keepCommand(const DeviceInfo &device, const LibinputMatrix &matrix, bool port)
{
    return std::string("sudo kestrilavon-check --install ") + (port ? "--port " : "") + "--matrix \""
        + matrixText(matrix, false) + "\" " + shellWord(device.stablePath());
}
