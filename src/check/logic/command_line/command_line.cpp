// SPDX-License-Identifier: MIT
#include "command_line/command_line.h"

#include "framebuffer/framebuffer.h"
#include "input/listing.h"

#include <getopt.h>

#include <algorithm>

// Said on a wrong command line and in --help alike.
#define KESTRILAVON_CHECK_USAGE \
    "usage: kestrilavon-check [--result FILE] [--output NAME] [--xorg | --udev | --apply | --install] [DEVICE]\n" \
    "       kestrilavon-check --matrix \"A B C D E F\" {--udev | --install} [--port] DEVICE\n" \
    "       kestrilavon-check [--result FILE | --matrix \"A B C D E F\"] [--install] --tslib\n" \
    "                         [--framebuffer /dev/fbN] [--pointercal FILE] DEVICE\n" \
    "       kestrilavon-check --uninstall [--port] DEVICE\n" \
    "       kestrilavon-check --calibrate [--apply | --install [--port | --tslib]] [--output NAME]\n" \
    "                         [--framebuffer /dev/fbN] [--pointercal FILE] [--wayland-display NAME]\n" \
    "                         [--show-report] [DEVICE]\n"

const char kCheckUsage[] = KESTRILAVON_CHECK_USAGE;
const char kCheckHelp[] =
    "  sudo kestrilavon-check --calibrate --install\n"
    "        calibrate the touch screen on nine targets and keep it, once a last touch proves it\n"
    "  kestrilavon-check\n"
    "        list the touch screens and how a calibration with kestrilavon will go on each\n"
    "  kestrilavon-check /dev/input/event5\n"
    "        show full screen where each touch on that device lands\n"
    "\n"
    KESTRILAVON_CHECK_USAGE
    "\n"
    "With no DEVICE, lists the touch screens and how a calibration with kestrilavon will go.\n"
    "With a DEVICE (/dev/input/eventN) alone, shows full screen where each touch lands under\n"
    "the result, and where X or the Wayland compositor puts it.\n"
    "\n"
    "  --result FILE  the result file of kestrilavon (default /tmp/kestrilavon.tmp)\n"
    "  --output NAME  the X monitor the touch screen lies on, as xrandr --listmonitors names\n"
    "                 it (default: the one that holds the pointer); on several monitors the\n"
    "                 forms also map the device onto it. Without X (Wayland), the output as the\n"
    "                 compositor names it (HDMI-A-1, Virtual-2): --install also sets the rule's\n"
    "                 WL_OUTPUT, which weston maps the touch screen onto\n"
    "  --xorg         print an xorg.conf.d section for DEVICE: the Boder lines for the\n"
    "                 screen's own driver, Calibration for evdev, CalibrationMatrix for libinput\n"
    "  --udev         print a udev rule that gives libinput the calibration of DEVICE: for X's\n"
    "                 libinput driver and for Wayland compositors\n"
    "  --apply        set the calibration of DEVICE on the running X at once (libinput or evdev\n"
    "                 driver), and print how to undo it; kept until a re-plug or X restarts\n"
    "  --install      (root) keep the calibration of DEVICE: its rule in\n"
    "                 /etc/udev/rules.d/99-kestrilavon.rules, then the device re-added so that\n"
    "                 libinput reads it now (X's libinput driver, Wayland compositors)\n"
    "  --uninstall    (root) take the matrix out of DEVICE's rule (the rule too, when nothing\n"
    "                 else is on it), and re-add the device\n"
    "  --port         with --install, --uninstall or --udev: the rule of DEVICE's port alone\n"
    "                 (udev's ID_PATH), for identical panels on one machine\n"
    "  --tslib        print tslib's pointercal line for DEVICE on the framebuffer; with\n"
    "                 --install (root), write it to /etc/pointercal (or $TSLIB_CALIBFILE)\n"
    "  --framebuffer /dev/fbN  the framebuffer the windows go on and tslib's W and H come from\n"
    "                 (default: QT_QPA_PLATFORM's linuxfb:fb=, else $TSLIB_FBDEVICE, else /dev/fb0)\n"
    "  --pointercal FILE  with --tslib: tslib's calibration file, in place of $TSLIB_CALIBFILE\n"
    "  --matrix M     the calibration as libinput's six numbers (as --calibrate prints them),\n"
    "                 for --install, --udev or --tslib, in place of the result file's borders\n"
    "  --calibrate    calibrate DEVICE on nine targets (the corners twice, then the centre),\n"
    "                 any touch screen (turned, multitouch, any range), and print the forms;\n"
    "                 with --apply, set it on the running X or sway at once, or with --install\n"
    "                 keep it (not both).\n"
    "                 On Wayland the compositor's own turn is measured too, from the touches\n"
    "                 it passes on: seven of the nine at least.\n"
    "                 Without DEVICE: the one touch screen here, or the one you touch.\n"
    "                 Under sudo or pkexec the window runs as the user who asked, in that\n"
    "                 user's session, and root keeps what it hands back; run by root alone,\n"
    "                 as the owner of the logind session, else as nobody handed the X\n"
    "                 cookie or the framebuffer's group (else as root, and said)\n"
    "  --wayland-display NAME  with --calibrate under sudo: the user's Wayland socket to use\n"
    "                 (wayland-0, ...), where the user has several\n"
    "  --show-report  with --calibrate under sudo or pkexec: at the end, the outcome and the\n"
    "                 report in a window too, until it is closed (the menu entry's: no terminal)\n"
    "  -h, --help     this text\n"
    "  --version      the version\n";
namespace {

enum LongOnly : int {
    kResult = 256, kOutput, kMatrix, kFramebuffer, kPointercal, kWaylandDisplay, kShowReport, kCalibrate, kPort,
    kTslib, kXorg, kUdev, kApply, kInstall, kUninstall, kVersionOption
};

const option kLongOptions[] = {
    {"result", required_argument, nullptr, kResult},
    {"output", required_argument, nullptr, kOutput},
    {"matrix", required_argument, nullptr, kMatrix},
    {"framebuffer", required_argument, nullptr, kFramebuffer},
    {"pointercal", required_argument, nullptr, kPointercal},
    {"wayland-display", required_argument, nullptr, kWaylandDisplay},
    {"show-report", no_argument, nullptr, kShowReport},
    {"calibrate", no_argument, nullptr, kCalibrate},
    {"port", no_argument, nullptr, kPort},
    {"tslib", no_argument, nullptr, kTslib},
    {"xorg", no_argument, nullptr, kXorg},
    {"udev", no_argument, nullptr, kUdev},
    {"apply", no_argument, nullptr, kApply},
    {"install", no_argument, nullptr, kInstall},
    {"uninstall", no_argument, nullptr, kUninstall},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersionOption},
    {nullptr, 0, nullptr, 0}};

const std::pair<int, Form> kForms[] = {
    {kXorg, Form::Xorg}, {kUdev, Form::Udev}, {kApply, Form::Apply}, {kInstall, Form::Install},
    {kUninstall, Form::Uninstall}};

std::string formOption(Form form)
{
    switch (form) {
    case Form::Xorg: return "--xorg";
    case Form::Udev: return "--udev";
    case Form::Apply: return "--apply";
    case Form::Install: return "--install";
    case Form::Uninstall: return "--uninstall";
    case Form::None: break;
    }
    return "";
}

// The menu entry's command, the one list pkexec's requester may give: its three options once
// each, spelled out, and a DEVICE at most.
bool menuEntrysCommand(const std::vector<std::string> &arguments)
{
    std::vector<std::string> options;
    size_t devices = 0;
    for (const std::string &argument : arguments) {
        if (!argument.empty() && argument[0] != '-')
            ++devices;
        else
            options.push_back(argument);
    }
    std::sort(options.begin(), options.end());
    return devices <= 1 && options == std::vector<std::string>{"--calibrate", "--install", "--show-report"};
}

// An option's value, kept where the option may be given once: "" where it was (or the value is
// refused), else the refusal.
std::string takeOnce(const char *name, const std::string &value, std::string *kept)
{
    if (!kept->empty())
        return std::string(name) + " is given once";
    *kept = value;
    return "";
}

// One argument into options: "" where it fits, else the refusal.
std::string takeArgument(int option, const std::string &value, CheckOptions *options)
{
    const auto form = std::find_if(std::begin(kForms), std::end(kForms), [&](const auto &f) { return f.first == option; });
    if (form != std::end(kForms)) {
        if (!options->asked(form->second))
            options->forms.push_back(form->second);
        return "";
    }
    switch (option) {
    case kResult: options->resultPath = value; return "";
    case kOutput: options->monitorName = value; return "";
    case kMatrix:
        if (options->givenMatrix)
            return "--matrix is given once";
        options->givenMatrix = value;
        return "";
    case kFramebuffer: return takeOnce("--framebuffer", value, &options->framebufferPath);
    case kPointercal: return takeOnce("--pointercal", value, &options->pointercalFile);
    case kWaylandDisplay:
        return value.empty() ? "--wayland-display takes a socket's name, as wayland-0"
                             : takeOnce("--wayland-display", value, &options->waylandName);
    case kShowReport: options->showReportWindow = true; return "";
    case kCalibrate: options->calibrate = true; return "";
    case kPort: options->port = true; return "";
    case kTslib: options->tslib = true; return "";
    case 'h': options->action = CheckOptions::Action::Help; return "";
    case kVersionOption: options->action = CheckOptions::Action::Version; return "";
    default: break;
    }
    // A DEVICE.
    if (value.empty() || value[0] == '-')
        return "no option " + printable(value);
    if (!options->devicePath.empty())
        return "one DEVICE at a time: " + printable(options->devicePath) + " or " + printable(value);
    options->devicePath = value;
    return "";
}

// The options that do not go together, each said by the option that is wrong: "" where they do.
std::string combinationProblem(const CheckOptions &o)
{
    if (o.calibrate) {
        for (const Form form : o.forms) {
            if (form != Form::Apply && form != Form::Install)
                return "--calibrate takes --apply or --install, not " + formOption(form);
        }
        if (o.givenMatrix)
            return "--matrix is not for --calibrate, which measures the matrix";
    } else {
        if (o.forms.size() > 1)
            return "one form at a time: " + formOption(o.forms[0]) + " or " + formOption(o.forms[1]);
        // Without a matrix the form is made from the result file, of a device named; the one
        // command measures and keeps in one go, and finds the device itself.
        const bool measurable = !o.givenMatrix && (o.form() == Form::Install || o.form() == Form::Apply);
        if (o.devicePath.empty() && !o.forms.empty())
            return formOption(o.forms[0]) + " needs a DEVICE"
                + (measurable ? " (or use --calibrate " + formOption(o.forms[0]) + ")" : "");
        if (o.devicePath.empty() && !o.monitorName.empty())
            return "--output needs a DEVICE or --calibrate";
        if (o.devicePath.empty() && o.givenMatrix)
            return "--matrix needs a DEVICE";
        if (o.givenMatrix && o.form() != Form::Install && o.form() != Form::Udev && !o.tslib)
            return "--matrix is for --install, --udev or --tslib";
    }
    if (o.port && !o.asked(Form::Install) && !o.asked(Form::Uninstall) && (o.calibrate || !o.asked(Form::Udev)))
        return o.calibrate ? "--port with --calibrate needs --install" : "--port needs --install, --uninstall or --udev";
    // --tslib alone prints the line, with --install writes it; never with a udev rule's options.
    if (o.tslib && o.port)
        return "--port is for a udev rule, not for --tslib";
    if (o.tslib && !o.calibrate && o.devicePath.empty())
        return "--tslib needs a DEVICE or --calibrate";
    for (const Form form : o.forms) {
        if (o.tslib && form != Form::Install && !(o.calibrate && form == Form::Apply))
            return "--tslib takes --install, not " + formOption(form);
    }
    if (!o.pointercalFile.empty() && !o.tslib)
        return "--pointercal needs --tslib";
    if (!o.waylandName.empty() && !o.calibrate)
        return "--wayland-display needs --calibrate";
    if (o.showReportWindow && !o.calibrate)
        return "--show-report needs --calibrate";
    return "";
}

// Options that go together but whose values are wrong.
std::string valueProblem(const CheckOptions &o)
{
    // The re-add that --install makes drops what --apply set on the running X.
    if (o.calibrate && o.asked(Form::Apply) && o.asked(Form::Install))
        return "--calibrate takes --apply (try it now) or --install (keep it), not both";
    if (!o.framebufferPath.empty() && !framebufferPathProblem(o.framebufferPath).empty())
        return "--framebuffer: " + framebufferPathProblem(o.framebufferPath);
    if (printable(o.pointercalFile) != o.pointercalFile)
        return "--pointercal: a file name without control characters, please";
    return "";
}

// The argument getopt refused, as given.
std::string refusedArgument(char *const *argv, int index)
{
    const std::string given = index > 0 ? argv[index - 1] : "";
    if (given.rfind("--", 0) == 0 || optopt == 0)
        return printable(given);
    return printable(std::string("-") + static_cast<char>(optopt));
}

CommandLine refused(const std::string &line, bool usageFollows)
{
    return CommandLine{std::nullopt, line, usageFollows};
}

} // namespace

bool CheckOptions::asked(Form wanted) const
{
    return std::find(forms.begin(), forms.end(), wanted) != forms.end();
}

Form CheckOptions::form() const
{
    return forms.empty() ? Form::None : forms[0];
}

CommandLine parseCommandLine(const std::vector<std::string> &arguments, bool underPkexec)
{
    if (underPkexec && !menuEntrysCommand(arguments))
        return refused("under pkexec only the menu entry's command is taken (--calibrate --install --show-report "
                       "[DEVICE]): run anything else with sudo", false);
    std::vector<std::string> words = arguments;
    words.insert(words.begin(), "kestrilavon-check");
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());
    CheckOptions options;
    // Each run of getopt starts afresh, its messages left to this program; "-": each DEVICE in
    // its place, whatever POSIXLY_CORRECT says.
    optind = 0;
    opterr = 0;
    int option;
    while (options.action == CheckOptions::Action::Run
           && (option = getopt_long(argc, argv.data(), "-:h", kLongOptions, nullptr)) != -1) {
        if (option == '?')
            return refused("no option " + refusedArgument(argv.data(), optind), true);
        if (option == ':')
            return refused(refusedArgument(argv.data(), optind) + " needs a value", true);
        const std::string problem = takeArgument(option, optarg ? optarg : "", &options);
        if (!problem.empty())
            return refused(problem, true);
    }
    // What follows "--" is a DEVICE or nothing.
    for (int i = optind; options.action == CheckOptions::Action::Run && i < argc; ++i) {
        const std::string problem = takeArgument(1, argv[i], &options);
        if (!problem.empty())
            return refused(problem, true);
    }
    if (options.action != CheckOptions::Action::Run)
        return CommandLine{options, "", false};
    if (const std::string problem = combinationProblem(options); !problem.empty())
        return refused(problem, true);
    if (const std::string problem = valueProblem(options); !problem.empty())
        return refused(problem, false);
    return CommandLine{options, "", false};
}
