// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_UDEV_RULES_H
#define KESTRILAVON_UDEV_RULES_H

#include "devices.h"
#include "driver_forms.h"

#include <functional>
#include <optional>
#include <string>

// The rules file that --install keeps: one rule a device, each giving libinput its matrix. A
// device's rule is found by what it matches (name, bus, vendor and product), never by a comment,
// so a rule copied in by hand from --udev is found too; every other line is kept as it is.

constexpr char kRulesFolder[] = "/etc/udev/rules.d";
constexpr char kRulesFile[] = "99-kestrilavon.rules";

// The block for one device: a comment naming it, and its rule. --udev prints it, --install
// writes it.
std::string udevRuleBlock(const DeviceIdentity &device, const LibinputMatrix &matrix);

// The rules text with the device's rule set to this matrix (replacing its rule where there is
// one, else added at the end); *replaced gets the matrix the old rule gave, as it was written.
std::string withRule(const std::string &rules, const DeviceIdentity &device,
                     const LibinputMatrix &matrix, std::optional<std::string> *replaced);

// The rules text without the device's rule (and its comment); *found says whether it had one.
std::string withoutRule(const std::string &rules, const DeviceIdentity &device, bool *found);

// Changes the rules file in folder through edit (given the old text, "" when there is none;
// returning the new text, "" to remove the file), under an exclusive lock on the folder. The old
// file is read without following a link and taken only when it is a regular file of root's;
// the new one is written under a hidden name that udev does not read, mode 0644, synced, then
// renamed over the old one, and the folder synced. Returns an empty string, or why not.
std::string editRulesFile(const std::string &folder,
                          const std::function<std::string(const std::string &)> &edit);

// A word for a POSIX shell, quoted where it needs to be.
std::string shellWord(const std::string &word);

// The command that keeps this calibration: --install with the matrix, for the stable path.
std::string keepCommand(const DeviceInfo &device, const LibinputMatrix &matrix);

#endif
