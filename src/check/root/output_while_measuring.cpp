// SPDX-License-Identifier: MIT
#include "output_while_measuring.h"

#include "install.h"
#include "input/listing.h"
#include "text/shell_word.h"
#include "udev/device_holders.h"
#include "udev/rule_edits.h"
#include "udev/rules_file.h"
#include "udev/udevadm.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The runtime rule that maps the device onto an output while it is measured: gone at the next
// boot, and read after this program's own rules file, whose WL_OUTPUT it overrides meanwhile.
// One for each event node, so that two panels measured at once keep their own.
constexpr char kRuntimeRulesFolder[] = "/run/udev/rules.d";

std::string outputWhileMeasuringFile(const DeviceInfo &device)
{
    const std::string sysfs = sysfsPathOfNode(device.path);
    const std::string node = sysfs.substr(sysfs.rfind('/') + 1);
    const bool eventNode = node.size() > 5 && node.compare(0, 5, "event") == 0
        && node.find_first_not_of("0123456789", 5) == std::string::npos;
    return eventNode ? "99-zz-kestrilavon-measuring-" + node + ".rules" : std::string();
}

// Writes the device's runtime rule ("" takes it out); an empty string, or why not.
std::string writeOutputWhileMeasuring(const std::string &file, const std::string &text)
{
    if (::mkdir(kRuntimeRulesFolder, 0755) != 0 && errno != EEXIST)
        return std::string("cannot make ") + kRuntimeRulesFolder + ": " + std::strerror(errno);
    const RulesLock held(kRulesLock);
    return editRulesFile(kRuntimeRulesFolder, held, [&](const std::string &) { return text; }, file.c_str());
}

// Whether weston has the device open: it alone of the compositors maps a touch screen onto an
// output by udev's WL_OUTPUT.
bool westonHolds(const DeviceInfo &device)
{
    const std::string node = deviceNodeOf(sysfsPathOfNode(device.path));
    if (node.empty())
        return false;
    const std::vector<pid_t> holders = processesHolding(node);
    // A name anyone can give a process, and a path its own mount namespace could give a file of
    // its own: only a weston that sees the node where root does.
    return std::any_of(holders.begin(), holders.end(),
                       [](pid_t pid) { return processName(pid) == "weston" && sharesOurMountNamespace(pid); });
}

} // namespace

bool setOutputWhileMeasuring(const DeviceInfo &device, bool port, const std::string &output, std::string *before,
                             int *signal)
{
    const std::string file = outputWhileMeasuringFile(device);
    if (file.empty() || !waylandOutputProblem(output).empty() || !westonHolds(device))
        return false;
    *before = udevPropertyOf(sysfsPathOfNode(device.path), "WL_OUTPUT");
    // As the install will: on the port's rule where an identical panel shares the device's.
    std::optional<RuleTarget> target =
        ruleTarget(device, port || eventDevicesWithIds(device.identity()).size() > 1);
    if (!target)
        return false;
    target->waylandOutput = output;
    const std::string where = std::string(kRuntimeRulesFolder) + "/" + file;
    if (const std::string problem = writeOutputWhileMeasuring(file, outputOnlyRule(*target)); !problem.empty()) {
        std::fprintf(stderr, "kestrilavon-check: could not map %s onto %s for the measurement: %s\n",
                     printable(device.path).c_str(), output.c_str(), printable(problem).c_str());
        return false;
    }
    const std::string sysfs = sysfsPathOfNode(device.path);
    const Replug replug = reloadAndReplug(sysfs);
    *signal = replug.signal;
    const std::string given = udevPropertyOf(sysfs, "WL_OUTPUT");
    if (!replug.problem.empty())
        std::fprintf(stderr, "kestrilavon-check: wrote %s to map %s onto %s while it is measured, but the re-add "
                             "failed: %s\n", where.c_str(), printable(device.path).c_str(), output.c_str(),
                     printable(replug.problem).c_str());
    else if (given == output)
        std::fprintf(stderr, "kestrilavon-check: re-added %s with WL_OUTPUT=%s from %s, so that weston answers "
                             "on that output while it is measured\n", printable(device.path).c_str(),
                     printable(given).c_str(), where.c_str());
    else
        std::fprintf(stderr, "kestrilavon-check: re-added %s, but udev gives it %s despite %s: measured as the "
                             "session maps it now\n", printable(device.path).c_str(),
                     given.empty() ? "no WL_OUTPUT" : ("WL_OUTPUT=" + printable(given)).c_str(), where.c_str());
    return true;
}

bool endOutputWhileMeasuring(const DeviceInfo &device, const std::string &before, int *signal)
{
    const std::string file = outputWhileMeasuringFile(device);
    const std::string problem = writeOutputWhileMeasuring(file, "");
    if (!problem.empty()) {
        std::fprintf(stderr, "kestrilavon-check: could not take out %s/%s, which maps the touch screen onto an "
                             "output until the next boot: %s. Remove it by hand, then re-add the device.\n",
                     kRuntimeRulesFolder, file.c_str(), printable(problem).c_str());
        return false;
    }
    const std::string sysfs = sysfsPathOfNode(device.path);
    const Replug replug = reloadAndReplug(sysfs);
    *signal = replug.signal;
    if (!replug.problem.empty()) {
        std::fprintf(stderr, "kestrilavon-check: the measurement's WL_OUTPUT rule is out, but the re-add of %s "
                             "failed: %s\n", printable(device.path).c_str(), printable(replug.problem).c_str());
        return false;
    }
    const std::string now = udevPropertyOf(sysfs, "WL_OUTPUT");
    if (now == before)
        return true;
    std::fprintf(stderr, "kestrilavon-check: the measurement's WL_OUTPUT rule is out, but udev gives %s %s, not %s "
                         "as before (udevadm test %s shows what udev reads)\n", printable(device.path).c_str(),
                 now.empty() ? "no WL_OUTPUT" : ("WL_OUTPUT=" + printable(now)).c_str(),
                 before.empty() ? "none" : printable(before).c_str(), shellWord(sysfs).c_str());
    return false;
}
