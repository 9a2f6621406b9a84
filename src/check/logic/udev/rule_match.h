// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_RULE_MATCH_H
#define KESTRILAVON_RULE_MATCH_H

#include "udev/rule_edits.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

// What a rule of this program matches, and the comment it writes above it: shared by the block
// that is printed and the edit of the rules file, which finds the rule again by that match.

using MatchSet = std::set<std::string>;  // each KEY==value or KEY!=value, as written

std::vector<std::pair<std::string, std::string>> matchKeys(const RuleTarget &target);

// The rule's match as written, up to the keys it sets.
std::string matchText(const RuleTarget &target);

MatchSet matchSet(const RuleTarget &target);

std::string plainComment(const RuleTarget &target);

// The comment also names the WL_OUTPUT this program set on the rule: what is still that value
// there is this program's to take out again, anything else the person's.
extern const char kOutputNote[];

std::string commentFor(const RuleTarget &target, const std::string &output);

std::string commentFor(const RuleTarget &target);

#endif
