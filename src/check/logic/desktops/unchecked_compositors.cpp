// SPDX-License-Identifier: MIT
#include "desktops/unchecked_compositors.h"

#include "text/shell_word.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <utility>

namespace {

// Process names (as /proc/PID/comm holds them) and the compositor each is.
const std::pair<const char *, const char *> kUnchecked[] = {
    {"weston", "weston"}, {"gnome-shell", "GNOME Shell"}, {"mutter", "mutter"}, {"kwin_wayland", "KWin"}};

std::vector<std::string> numberedEntries(const std::string &folder)
{
    std::vector<std::string> names;
    DIR *dir = ::opendir(folder.c_str());
    while (const dirent *entry = dir ? ::readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos)
            names.push_back(name);
    }
    if (dir)
        ::closedir(dir);
    return names;
}

// Whether a descriptor of the process is the node: read as procfs's links, which never open
// what they name (a file another user holds hung cannot hold this up).
bool holds(const std::string &process, const std::string &devicePath)
{
    for (const std::string &fd : numberedEntries(process + "/fd")) {
        char target[PATH_MAX];
        const ssize_t size = ::readlink((process + "/fd/" + fd).c_str(), target, sizeof target);
        if (size > 0 && std::string(target, static_cast<size_t>(size)) == devicePath)
            return true;
    }
    return false;
}

} // namespace

std::vector<std::string> uncheckedCompositorsHolding(const std::string &devicePath, const std::string &processes)
{
    std::vector<std::string> found;
    for (const std::string &pid : numberedEntries(processes)) {
        std::string comm;
        std::getline(std::ifstream(processes + "/" + pid + "/comm"), comm);
        const auto known = std::find_if(std::begin(kUnchecked), std::end(kUnchecked),
                                        [&](const auto &entry) { return comm == entry.first; });
        if (known != std::end(kUnchecked) && std::find(found.begin(), found.end(), known->second) == found.end()
            && holds(processes + "/" + pid, devicePath))
            found.push_back(known->second);
    }
    return found;
}

std::string notCheckedLine(const std::string &compositor, const std::string &devicePath)
{
    return "What " + compositor + " uses was not checked: touch the screen in kestrilavon-check "
        + shellWord(devicePath) + "\n";
}
