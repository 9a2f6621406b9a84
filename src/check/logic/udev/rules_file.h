// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_RULES_FILE_H
#define KESTRILAVON_RULES_FILE_H

#include <chrono>
#include <functional>
#include <string>

constexpr char kRulesFolder[] = "/etc/udev/rules.d";
constexpr char kRulesFile[] = "99-kestrilavon.rules";
// Held while the rules file is edited: root's alone, since flock takes any open descriptor
// and a file others may read would let anyone hold every --install up.
constexpr char kRulesLock[] = "/run/kestrilavon-check.lock";

// The lock that --install and --uninstall hold from the read of the rules file through the
// re-add and the read-back, so that two runs never read back each other's rule: the lock
// file is made mode 0600 where missing, and given up on after wait. Released when it goes.
class RulesLock {
public:
    explicit RulesLock(const std::string &lockPath, std::chrono::milliseconds wait = std::chrono::seconds(60));
    ~RulesLock();
    RulesLock(const RulesLock &) = delete;
    RulesLock &operator=(const RulesLock &) = delete;
    // Why it is not held, or an empty string.
    const std::string &problem() const { return m_problem; }

private:
    int m_file = -1;
    std::string m_problem;
};

// Changes the rules file (by default this program's) in folder through edit (given the old
// text, "" when there is none; returning the new text, "" to remove the file), with the lock held. The old file is read
// without following a link and taken only when it is a regular file of root's; the new one
// replaces it as replaceFileAt does (under a hidden name that udev does not read, keeping the
// old file's mode, group, ACLs and extended attributes), and only when the text changed.
// Returns an empty string, or why not.
std::string editRulesFile(const std::string &folder, const RulesLock &held,
                          const std::function<std::string(const std::string &)> &edit,
                          const char *file = kRulesFile);

#endif
