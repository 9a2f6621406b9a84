// SPDX-License-Identifier: MIT
// The udev rule as it is printed: the block, the rule that sets only the output, how to load
// it, and the command that keeps it.
#include "udev/rule_edits.h"
#include "udev/rule_match.h"
#include "text/shell_word.h"

#include <sstream>

std::string nameProblemForUdev(const std::string &name)
{
    return plainNameProblem(name);
}

std::string waylandOutputProblem(const std::string &name)
{
    if (name.empty())
        return "an output needs a name";
    if (name.size() > 63)
        return "longer than any output's name";
    if (name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.") != std::string::npos
        || name[0] == '-' || name[0] == '.')
        return "a Wayland output's name (HDMI-A-1, Virtual-2) is letters, digits, '-', '_' and '.'";
    return {};
}

std::string idPathProblem(const std::string &idPath)
{
    if (idPath.empty())
        return "udev gives it no ID_PATH (it does only on PCI, USB, platform and ACPI buses): it "
               "cannot be told from an identical panel by its port";
    if (idPath.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                 "-_.:+@") != std::string::npos)
        return "its ID_PATH holds characters that do not belong in a rule";
    return {};
}

std::string udevRuleBlock(const RuleTarget &target, const Matrix &matrix)
{
    return commentFor(target) + "\n" + matchText(target) + kMatrixKey + "=\"" + matrix.text() + "\""
        + (target.waylandOutput.empty() ? "" : std::string(", ") + kWaylandOutputKey + "=\"" + target.waylandOutput + "\"")
        + "\n";
}

std::string outputOnlyRule(const RuleTarget &target)
{
    return plainComment(target) + ": its output while it is measured\n" + matchText(target) + kWaylandOutputKey
        + "=\"" + target.waylandOutput + "\"\n";
}

std::string udevHowTo(const DeviceIdentity &device, const std::string &sysfsPath)
{
    const std::string where = sysfsPath.empty() ? "/sys/class/input/eventN" : sysfsPath;
    std::ostringstream out;
    out << "# Save the rule as /etc/udev/rules.d/99-kestrilavon.rules (sudo kestrilavon-check\n"
           "# --install does it all), then load it and re-add this device, as if re-plugged:\n"
           "#   udevadm control --reload\n"
           "#   udevadm trigger --settle --action=remove " << where << "\n"
           "#   udevadm trigger --settle --action=add " << where << "\n"
           "# libinput reads the matrix when the device is added: X's libinput driver and Wayland\n"
           "# compositors (GNOME, KDE, sway, weston) honour it; a compositor's own calibration\n"
           "# setting overrides it. A rule cannot map the touch screen onto one monitor of\n"
           "# several: under X, use --apply or --xorg with --output for that; under Wayland, the\n"
           "# compositor's own setting (sway's map_to_output, GNOME's and KDE's display settings).\n";
    if (udevMatchName(device.name) != device.name)
        out << "# udev reads * ? [ | as patterns: each is matched here by ?, any one character.\n";
    return out.str();
}

std::string keepCommand(const DeviceInfo &device, const Matrix &matrix, bool port)
{
    return std::string("sudo kestrilavon-check --install ") + (port ? "--port " : "") + "--matrix \""
        + matrix.text() + "\" " + shellWord(device.stablePath());
}
