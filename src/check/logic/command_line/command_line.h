// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class Form { None, Xorg, Udev, Apply, Install, Uninstall };

// What kestrilavon-check was asked, every option of its command line.
struct CheckOptions {
    enum class Action { Run, Help, Version };
    Action action = Action::Run;
    std::string resultPath = "/tmp/kestrilavon.tmp";
    std::string devicePath;
    std::string monitorName;
    std::string framebufferPath;
    std::string pointercalFile;
    std::string waylandName;
    std::optional<std::string> givenMatrix;
    // In the order given, each once.
    std::vector<Form> forms;
    bool calibrate = false;
    bool port = false;
    bool tslib = false;
    bool showReportWindow = false;

    bool asked(Form form) const;
    // The form to print or keep: the first given.
    Form form() const;
};

// The options, or the one line that says which argument is wrong (status 2).
struct CommandLine {
    std::optional<CheckOptions> options;
    std::string refusal;
    // A combination the usage lines show the right one of: they follow the refusal.
    bool usageFollows = false;
};

extern const char kCheckUsage[];
extern const char kCheckHelp[];

// arguments: argv without the program's name. underPkexec: root, run by pkexec, whose polkit
// action lets its requester keep a calibration and nothing else.
CommandLine parseCommandLine(const std::vector<std::string> &arguments, bool underPkexec);
