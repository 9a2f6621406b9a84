// SPDX-License-Identifier: MIT
#include "gnome_mapping.h"

#include "text/shell_word.h"

#include <algorithm>
#include <cstdio>

std::string gnomeTouchscreenPath(unsigned vendor, unsigned product)
{
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", vendor & 0xffff, product & 0xffff);
    return std::string("/org/gnome/desktop/peripherals/touchscreens/") + ids + "/";
}

std::string gvariantStrings(const std::vector<std::string> &strings)
{
    std::string text = "[";
    for (const std::string &string : strings) {
        text += text.size() > 1 ? ", '" : "'";
        for (const char c : string) {
            if (c == '\'' || c == '\\')
                text += '\\';
            text += c;
        }
        text += "'";
    }
    return text + "]";
}

std::optional<std::vector<std::string>> parseGvariantStrings(const std::string &text)
{
    std::string rest = text;
    if (rest.rfind("@as ", 0) == 0)
        rest = rest.substr(4);
    if (rest.size() < 2 || rest.front() != '[' || rest.back() != ']')
        return std::nullopt;
    std::vector<std::string> strings;
    size_t at = 1;
    const size_t end = rest.size() - 1;
    const auto skipSpaces = [&] {
        while (at < end && rest[at] == ' ')
            ++at;
    };
    skipSpaces();
    while (at < end) {
        if (rest[at] != '\'')
            return std::nullopt;
        std::string string;
        for (++at;; ++at) {
            if (at >= end)
                return std::nullopt;
            if (rest[at] == '\\' && at + 1 < end) {
                string += rest[++at];
            } else if (rest[at] == '\'') {
                break;
            } else {
                string += rest[at];
            }
        }
        strings.push_back(string);
        ++at;
        skipSpaces();
        if (at < end) {
            if (rest[at] != ',')
                return std::nullopt;
            ++at;
            skipSpaces();
            if (at >= end)
                return std::nullopt;
        }
    }
    return strings;
}

std::string gsettingsUndo(const std::string &path, const std::vector<std::string> &before)
{
    const std::string setting = shellWord(std::string(kGnomeTouchscreenSchema) + ":" + path);
    if (before.empty() || std::all_of(before.begin(), before.end(), [](const std::string &s) { return s.empty(); }))
        return "gsettings reset " + setting + " output";
    // The value's own single quotes read more plainly inside double ones, where nothing in it is
    // special there.
    const std::string value = gvariantStrings(before);
    const bool plain = value.find_first_of("\"\\$`!") == std::string::npos;
    return "gsettings set " + setting + " output " + (plain ? "\"" + value + "\"" : shellWord(value));
}

GnomeStep chooseGnomeStep(const std::vector<GnomeMonitor> &monitors, const std::vector<std::string> &current,
                          const std::string &outputName, bool writing, GnomeMonitor *target)
{
    const auto named = [&](const GnomeMonitor &m) { return m.connector == outputName; };
    const auto held = [&](const GnomeMonitor &m) { return m.triple == current; };
    const auto mappedOnto = std::find_if(monitors.begin(), monitors.end(), held);
    if (!outputName.empty()) {
        const auto chosen = std::find_if(monitors.begin(), monitors.end(), named);
        if (chosen == monitors.end())
            return GnomeStep::Unknown;
        *target = *chosen;
        return held(*chosen) ? GnomeStep::Leave : GnomeStep::Map;
    }
    // Mapped onto a monitor there is: the user's (or GNOME's) choice, and the window goes there.
    if (mappedOnto != monitors.end()) {
        *target = *mappedOnto;
        return GnomeStep::Leave;
    }
    if (monitors.size() != 1)
        return GnomeStep::Unknown;
    *target = monitors.front();
    if (writing)
        return GnomeStep::Map;
    return target->turned ? GnomeStep::SayUnmapped : GnomeStep::Leave;
}

std::string gnomeUnmappedNote()
{
    return "kestrilavon-check: note: GNOME has not mapped this touch screen onto its monitor, which is turned:\n"
           "  until it is mapped, GNOME stretches the touches over the screen without turning them, and the\n"
           "  result below changes once it is mapped (by GNOME's settings or by you). To map it and keep a\n"
           "  calibration made that way, in one step:\n"
           "    sudo kestrilavon-check --calibrate --install\n";
}

std::string gnomeTwinsNote(int others)
{
    return "kestrilavon-check: note: " + std::to_string(others) + " other touch screen"
        + (others == 1 ? " shares" : "s share") + " this one's vendor and product id: GNOME keeps one mapping "
        "for all of them, and maps them onto the same monitor.\n";
}
