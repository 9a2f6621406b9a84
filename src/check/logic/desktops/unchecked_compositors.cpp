// SPDX-License-Identifier: MIT
#include "desktops/unchecked_compositors.h"

#include "text/shell_word.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

// Process names and the compositor each is.
const std::pair<const char *, const char *> kUnchecked[] = {
    {"weston", "weston"}, {"gnome-shell", "GNOME Shell"}, {"mutter", "mutter"}, {"kwin_wayland", "KWin"}};

} // namespace

std::vector<std::string> uncheckedCompositors(const std::vector<std::string> &holderNames)
{
    std::vector<std::string> found;
    for (const auto &[process, compositor] : kUnchecked) {
        if (std::find(holderNames.begin(), holderNames.end(), process) != holderNames.end())
            found.push_back(compositor);
    }
    return found;
}

std::string notCheckedLine(const std::string &compositor, const std::string &devicePath)
{
    return "What " + compositor + " uses was not checked: touch the screen in kestrilavon-check "
        + shellWord(devicePath) + "\n";
}
