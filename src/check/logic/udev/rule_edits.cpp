// SPDX-License-Identifier: MIT
// The edit of the rules file that --install and --uninstall make.
#include "udev/rule_edits.h"
#include "udev/rule_match.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace {

// ---- What a rule matches ----

// The match set of a rule that was read; empty for anything else.
MatchSet matchOf(const Unit &unit)
{
    MatchSet set;
    if (unit.rule && unit.readable && !unit.dangling) {
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

// Whether the unit is the comment this program writes above the target's rule: nullopt when
// not, else the WL_OUTPUT it names ("" for none).
std::optional<std::string> commentedOutput(const Unit &unit, const RuleTarget &target)
{
    const std::string comment = plainComment(target);
    if (unit.rule || unit.text.rfind(comment, 0) != 0)
        return std::nullopt;
    std::string rest = unit.text.substr(comment.size());
    rest.erase(std::min(rest.size(), rest.find_first_of("\r\n")));
    if (unit.text.find_first_not_of("\r\n", comment.size() + rest.size()) != std::string::npos)
        return std::nullopt;
    if (rest.empty())
        return std::string();
    const std::string note = kOutputNote;
    if (rest.rfind(note, 0) != 0 || rest.back() != '"')
        return std::nullopt;
    std::string output = rest.substr(note.size(), rest.size() - note.size() - 1);
    return waylandOutputProblem(output).empty() ? std::optional<std::string>(output) : std::nullopt;
}

bool isCommentFor(const Unit &unit, const RuleTarget &target)
{
    return commentedOutput(unit, target).has_value();
}

bool setsOutput(const Pair &pair)
{
    return pair.key == kWaylandOutputKey && !pair.isMatch() && pair.op != "-=";
}

// The WL_OUTPUT values the rule sets; empty when it sets none.
std::vector<std::string> outputsOf(const Unit &rule)
{
    std::vector<std::string> values;
    for (const Pair &pair : rule.pairs) {
        if (setsOutput(pair))
            values.push_back(pair.value);
    }
    return values;
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

// Puts units in at index; after a rule whose last line ends in a backslash (udev drops it, at
// the end of the file), an empty line first, so that they cannot become part of it.
void insertUnits(std::vector<Unit> &all, size_t at, const std::vector<Unit> &added, const std::string &ending)
{
    std::vector<Unit> put = added;
    if (at > 0 && goesOn(all[at - 1])) {
        Unit empty;
        empty.text = ending;
        empty.id = -1;
        put.insert(put.begin(), empty);
    }
    all.insert(all.begin() + static_cast<long>(at), put.begin(), put.end());
}

// Where a block goes in front of the rule at index: before the comment lines right above it.
size_t aboveComments(const std::vector<Unit> &all, size_t index)
{
    while (index > 0 && !all[index - 1].rule && all[index - 1].text.find('#') != std::string::npos)
        --index;
    return index;
}

std::vector<Unit> blockUnits(const RuleTarget &target, const Matrix &matrix, const std::string &ending)
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

// Moves the rule at index, with this program's comment above it, in front of the rule at
// before (and the comment lines right above that one).
void moveRuleBefore(std::vector<Unit> &all, size_t rule, size_t before, const RuleTarget &target,
                    const std::string &ending)
{
    endWithLineEnd(all, ending);
    size_t from = rule;
    if (from > 0 && isCommentFor(all[from - 1], target))
        --from;
    std::vector<Unit> moving(all.begin() + static_cast<long>(from), all.begin() + static_cast<long>(rule) + 1);
    all.erase(all.begin() + static_cast<long>(from), all.begin() + static_cast<long>(rule) + 1);
    insertUnits(all, aboveComments(all, before), moving, ending);
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
    moveRuleBefore(all, static_cast<size_t>(rule), static_cast<size_t>(narrower), {target.device, ""}, ending);
    return true;
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

// Removes a pair and its separator from the rule's text, and nothing of the lines around it: a
// comment line among the rule's lines stays, and so does the backslash that carries the rule on.
void erasePair(Unit &unit, size_t index)
{
    std::string &text = unit.text;
    const Pair &pair = unit.pairs[index];
    const auto separator = [&](size_t at) { return text[at] == ' ' || text[at] == '\t' || text[at] == ','; };
    const size_t lineBegin = text.rfind('\n', pair.begin) + 1;  // 0 on the first line
    const size_t first = text.find_first_not_of(" \t", lineBegin);
    size_t from = pair.begin, to = pair.end;
    if (first < pair.begin) {
        while (from > first && separator(from - 1))
            --from;
        text.erase(from, to - from);
        return reread(unit);
    }
    while (to < text.size() && separator(to))
        ++to;
    const size_t lineEnd = std::min(text.size(), text.find('\n', to));
    std::string rest = text.substr(to, lineEnd - to);
    if (!rest.empty() && rest.back() == '\r')
        rest.pop_back();
    if (lineBegin == 0 || (!rest.empty() && rest != "\\")) {
        text.erase(pair.begin, to - pair.begin);
        return reread(unit);
    }
    // The pair had its line to itself: the line goes. Where that line ended the rule, the line
    // that carried the rule on to it ends it now, or the rule would go on into the next one.
    text.erase(lineBegin, std::min(text.size(), lineEnd + 1) - lineBegin);
    for (size_t end = lineBegin - 1; rest.empty();) {
        const size_t begin = end == 0 ? 0 : text.rfind('\n', end - 1) + 1;
        const size_t content = text.find_first_not_of(" \t", begin);
        if (content < end && text[content] != '#') {
            size_t backslash = end > begin && text[end - 1] == '\r' ? end - 1 : end;
            if (backslash > begin && text[backslash - 1] == '\\') {
                size_t cut = --backslash;
                while (cut > content && separator(cut - 1))
                    --cut;
                text.erase(cut, backslash + 1 - cut);
            }
            break;
        }
        if (begin == 0)
            break;
        end = begin - 1;
    }
    reread(unit);
}

// Sets the target's WL_OUTPUT on the rule at index, and the comment above it that names it as
// this program's; a value of the person's (one the comment does not name) is left as it is.
void setOutput(std::vector<Unit> &all, size_t index, const RuleTarget &target, const std::string &ending,
               RulesEdit *edit)
{
    const std::optional<std::string> commented = index > 0 ? commentedOutput(all[index - 1], target) : std::nullopt;
    Unit &rule = all[index];
    const std::vector<std::string> values = outputsOf(rule);
    const bool ours = commented && !commented->empty()
        && std::all_of(values.begin(), values.end(), [&](const std::string &v) { return v == *commented; });
    if (!values.empty() && !ours) {
        if (values.back() != target.waylandOutput)
            edit->personsOutput = values.back();
        return;
    }
    if (ours)
        edit->oldOutput = *commented;
    for (size_t i = rule.pairs.size(); i-- > 0;) {
        if (setsOutput(rule.pairs[i]))
            rule.text.replace(rule.pairs[i].valueBegin, rule.pairs[i].valueEnd - rule.pairs[i].valueBegin,
                              target.waylandOutput);
    }
    if (values.empty())
        rule.text.insert(rule.pairs.back().end,
                         std::string(", ") + kWaylandOutputKey + "=\"" + target.waylandOutput + "\"");
    reread(rule);
    Unit comment;
    comment.text = commentFor(target) + ending;
    comment.id = -1;
    if (commented)
        all[index - 1].text = comment.text;
    else
        insertUnits(all, index, {comment}, ending);
}

std::string withoutBlankEnd(const std::vector<Unit> &all)
{
    for (const Unit &unit : all) {
        if (unit.rule || unit.text.find('#') != std::string::npos)
            return joined(all);
    }
    return {};  // nothing but blank lines: no file at all
}

} // namespace

RulesEdit withMatrix(const std::string &rules, const RuleTarget &target, const Matrix &matrix, int before)
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
        const std::string value = matrix.text();
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
        if (!target.waylandOutput.empty())
            setOutput(all, static_cast<size_t>(found), target, ending, &edit);
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
        insertUnits(all, at, block, ending);
    }
    edit.moved = keepDeviceRuleFirst(all, target, ending);
    // A rule udev showed to decide for another panel: the device's rule goes in front of it.
    const std::vector<int> oldNumbers = lineNumbers(units(rules));
    const auto oldAt = std::find(oldNumbers.begin(), oldNumbers.end(), before);
    if (before > 0 && target.idPath.empty() && oldAt != oldNumbers.end()) {
        const int beforeId = static_cast<int>(oldAt - oldNumbers.begin());
        size_t rule = all.size(), other = all.size();
        for (size_t i = 0; i < all.size(); ++i) {
            rule = all[i].id == editedId ? i : rule;
            other = all[i].id == beforeId ? i : other;
        }
        if (rule < all.size() && other < rule) {
            moveRuleBefore(all, rule, other, target, ending);
            edit.moved = true;
        }
    }
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
    // WL_OUTPUT goes too where it is still what this program's comment names.
    const std::optional<std::string> claimed =
        found > 0 ? commentedOutput(all[static_cast<size_t>(found) - 1], target) : std::nullopt;
    const std::vector<std::string> values = outputsOf(rule);
    const bool outputOurs = claimed && !claimed->empty() && !values.empty()
        && std::all_of(values.begin(), values.end(), [&](const std::string &v) { return v == *claimed; });
    if (outputOurs)
        edit.oldOutput = *claimed;
    else if (!values.empty())
        edit.personsOutput = values.back();
    for (size_t i = rule.pairs.size(); i-- > 0;) {
        const bool matrix = rule.pairs[i].setsMatrix();
        if (!matrix && !(outputOurs && setsOutput(rule.pairs[i])))
            continue;
        if (matrix && !edit.oldMatrix)
            edit.oldMatrix = rule.pairs[i].value;
        erasePair(rule, i);
        edit.changed = true;
    }
    // The comment names no WL_OUTPUT of this program's any more.
    if (edit.changed && claimed && !claimed->empty())
        all[static_cast<size_t>(found) - 1].text = plainComment(target) + endingOf(rules);
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
int ruleLine(const std::string &rules, const RuleTarget &target)
{
    const std::vector<Unit> all = units(rules);
    const long found = lastWithMatch(all, matchSet(target), nullptr);
    return found < 0 ? 0 : lineNumbers(all)[static_cast<size_t>(found)];
}
