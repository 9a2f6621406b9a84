// SPDX-License-Identifier: MIT
#include "udev/rules_judge.h"

#include "input/listing.h"
#include "udev/rule_syntax.h"

#include <sstream>

namespace {

// Never in a matrix, and left alone by udev's substitution of $ and % in values.
constexpr char kMark[] = " @kestrilavon-mark-";

std::string placeText(const RulePlace &place)
{
    return printable(place.file) + " line " + std::to_string(place.line);
}

} // namespace

std::string markedRules(const std::string &text, const std::string &path, std::vector<RulePlace> *places)
{
    std::vector<Unit> all = units(text);
    const std::vector<int> numbers = lineNumbers(all);
    for (size_t i = 0; i < all.size(); ++i) {
        // From the last pair back: each insertion leaves the offsets before it as they were.
        for (size_t p = all[i].pairs.size(); p-- > 0;) {
            if (!all[i].pairs[p].setsMatrix())
                continue;
            all[i].text.insert(all[i].pairs[p].valueEnd, kMark + std::to_string(places->size()));
            places->push_back({path, numbers[i]});
        }
    }
    return joined(all);
}

UdevAnswer answerFromProperties(const std::string &properties, const std::vector<RulePlace> &places)
{
    UdevAnswer answer;
    std::istringstream lines(properties);
    const std::string key = "LIBINPUT_CALIBRATION_MATRIX=";
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, key.size(), key) != 0)
            continue;
        std::string value = line.substr(key.size());
        answer = {};
        // ENV{...}+= joins values with a space: each mark goes, the last one decides.
        for (size_t at; (at = value.find(kMark)) != std::string::npos;) {
            const size_t end = value.find_first_not_of("0123456789", at + sizeof kMark - 1);
            const size_t index = std::stoul("0" + value.substr(at + sizeof kMark - 1, end - (at + sizeof kMark - 1)));
            answer.decidedBy = index < places.size() ? places[index] : RulePlace();
            value.erase(at, (end == std::string::npos ? value.size() : end) - at);
        }
        answer.matrix = value;
    }
    return answer;
}

bool sameWords(const std::string &a, const std::string &b)
{
    std::istringstream left(a), right(b);
    std::string x, y;
    while (true) {
        const bool moreLeft = static_cast<bool>(left >> x), moreRight = static_cast<bool>(right >> y);
        if (moreLeft != moreRight || (moreLeft && x != y))
            return false;
        if (!moreLeft)
            return true;
    }
}

Verdict judge(const std::vector<JudgedDevice> &devices, const std::string &targetSysfsPath, const std::string &matrix,
              const RulePlace &editedBefore, const RulePlace &editedAfter)
{
    Verdict verdict;
    for (const JudgedDevice &device : devices) {
        const std::string who = device.node + " \"" + printable(device.name) + "\"";
        const bool fromEdited = device.after.decidedBy == editedAfter && sameWords(device.after.matrix, matrix);
        if (device.sysfsPath == targetSysfsPath) {
            if (fromEdited)
                continue;
            verdict.conflict = device.after.decidedBy.line == 0
                ? "udev would give " + who + " no matrix at all with the new rule"
                : "udev would give " + who + " the matrix \"" + printable(device.after.matrix) + "\" from "
                    + placeText(device.after.decidedBy) + ", which it reads after the new rule";
            return verdict;
        }
        const bool ownRule = device.before.decidedBy.line != 0 && !(device.before.decidedBy == editedBefore);
        if (!ownRule && fromEdited) {
            verdict.sharing.push_back(who);
            continue;
        }
        if (sameWords(device.after.matrix, device.before.matrix))
            continue;
        if (ownRule && device.before.decidedBy.file == editedAfter.file)
            verdict.placeBefore = device.before.decidedBy;
        verdict.conflict = ownRule
            ? who + " takes its matrix \"" + printable(device.before.matrix) + "\" from "
                + placeText(device.before.decidedBy) + ", which the new rule would override (udev reads it after)"
            : "udev would give " + who + " the matrix \"" + printable(device.after.matrix) + "\" from "
                + placeText(device.after.decidedBy) + " instead of \"" + printable(device.before.matrix) + "\"";
        return verdict;
    }
    return verdict;
}
