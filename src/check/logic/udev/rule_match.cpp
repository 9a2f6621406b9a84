// SPDX-License-Identifier: MIT
#include "udev/rule_match.h"

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

std::string matchText(const RuleTarget &target)
{
    std::string rule;
    for (const auto &[key, value] : matchKeys(target))
        rule += key + "==\"" + value + "\", ";
    return rule;
}

MatchSet matchSet(const RuleTarget &target)
{
    MatchSet set;
    for (const auto &[key, value] : matchKeys(target))
        set.insert(key + "==" + value);
    return set;
}

std::string plainComment(const RuleTarget &target)
{
    return "# kestrilavon-check: the calibration of \"" + target.device.name + "\""
        + (target.idPath.empty() ? "" : " on the port " + target.idPath);
}

const char kOutputNote[] = ", and WL_OUTPUT=\"";

std::string commentFor(const RuleTarget &target, const std::string &output)
{
    return plainComment(target) + (output.empty() ? "" : kOutputNote + output + "\"");
}

std::string commentFor(const RuleTarget &target)
{
    return commentFor(target, target.waylandOutput);
}
