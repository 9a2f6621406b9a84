// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_UDEV_SANDBOX_H
#define KESTRILAVON_UDEV_SANDBOX_H

#include "udev/rules_judge.h"

#include <string>
#include <vector>

// Asks udevadm test what each device gets, once with the rules file as it is and once with the
// new text, where nothing of it reaches the live system: Debian 12's udevadm test writes the
// device's database and links, writes the ATTR and SYSCTL keys and runs the PROGRAM and
// IMPORT{program} keys that match. So it runs in a mount namespace of its own, over private
// copies of /dev, /run/udev and the rules folders (the file itself is never written there),
// and within that in a sandbox: every mount read-only, a read-only sysfs of its own, no
// network, as nobody with no capability. Where the sandbox cannot be made, udev is not asked.
// Needs root. Returns an empty string, or why udev could not be asked.
std::string askUdev(const std::string &rulesPath, const std::string *oldText, const std::string &newText,
                    std::vector<JudgedDevice> *devices);

#endif
