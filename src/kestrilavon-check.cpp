// SPDX-License-Identifier: MIT
// kestrilavon-check: finds the touch screen, says how a calibration with kestrilavon will go,
// and shows a calibration at work before X is restarted. Writes nothing. See its manual page.

#include "CheckWidget.h"
#include "device_check.h"
#include "x_display.h"

#include <QApplication>
#include <QScreen>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] = "usage: kestrilavon-check [--result FILE] [--xorg] [DEVICE]\n";
const char kDefaultResult[] = "/tmp/kestrilavon.tmp";

int fail(const std::string &line)
{
    std::fprintf(stderr, "kestrilavon-check: %s\n", line.c_str());
    return 1;
}

// Everything printed goes out now, so that a full disk or a closed pipe is found while the
// status can still say so: a cut configuration file must not look like a good one.
int finishOutput(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return fail(std::string("could not write the output: ") + std::strerror(errno));
    return status;
}

std::string cannotOpen(const std::string &path)
{
    return errno == ENOTTY ? path + " is not an input event device"
                           : "cannot open " + path + ": " + std::strerror(errno);
}

int listDevices()
{
    const std::vector<DeviceInfo> devices = listTouchDevices();
    if (devices.empty()) {
        return fail("no event device reports absolute X and Y: no touch screen is plugged in, "
                    "its driver is not loaded, or /dev/input is not there (a container?)");
    }
    for (size_t i = 0; i < devices.size(); ++i)
        std::printf("%s%s", i ? "\n" : "", describeForListing(devices[i]).c_str());
    return finishOutput(0);
}

std::string resultProblem(const std::string &path, const ResultFile &result)
{
    return "no usable result file " + path + ": " + result.problem;
}

int printXorgSnippet(const std::string &devicePath, const std::string &resultPath)
{
    const std::optional<DeviceInfo> device = describeDevice(devicePath);
    if (!device)
        return fail(cannotOpen(devicePath));
    const std::string problem = nameProblemForConfig(device->name);
    if (!problem.empty())
        return fail("will not write a configuration for " + devicePath + ": " + problem);
    const ResultFile result = readResultFile(resultPath);
    if (!result.borders)
        return fail(resultProblem(resultPath, result));
    if (!result.trusted())
        return fail("will not use " + resultPath + " in a configuration: it belongs to "
                    + result.ownerName() + ", not to root or to you");
    std::fputs(xorgSnippet(device->name, *result.borders).c_str(), stdout);
    return finishOutput(0);
}

void quietToolkitMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "kestrilavon-check: %s\n", qUtf8Printable(message));
        std::abort();
    }
}

int showLive(int argc, char **argv, const std::string &devicePath, const std::string &resultPath)
{
    const int device = ::open(devicePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0)
        return fail("cannot open " + devicePath + ": " + std::strerror(errno));
    setenv("QT_QPA_PLATFORM", "xcb", 0);
    std::string displayProblem = xDisplayProblem(argc, argv);
    if (!displayProblem.empty()) {
        ::close(device);
        return fail(displayProblem);
    }
    qInstallMessageHandler(quietToolkitMessages);
    keepToolkitFromStartingAnything();
    QApplication app(argc, argv);
    int status;
    {
        CheckWidget widget(device, QString::fromLocal8Bit(devicePath.c_str()),
                           readResultFile(resultPath), QString::fromLocal8Bit(resultPath.c_str()));
        widget.setGeometry(widget.screen()->geometry());
        widget.showFullScreen();
        widget.activateWindow();
        status = app.exec();
    }
    ::close(device);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    std::string resultPath = kDefaultResult, devicePath;
    bool xorg = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--result" && i + 1 < argc)
            resultPath = argv[++i];
        else if (argument == "--xorg")
            xorg = true;
        else if (argument == "-h" || argument == "--help") {
            std::fputs(kUsage, stdout);
            return finishOutput(0);
        } else if (devicePath.empty() && !argument.empty() && argument[0] != '-')
            devicePath = argument;
        else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (devicePath.empty()) {
        if (xorg)
            return fail("--xorg needs the DEVICE to match");
        return listDevices();
    }
    if (xorg)
        return printXorgSnippet(devicePath, resultPath);
    // The toolkit sees only the program's name: the options above are not its own.
    int toolkitArgc = 1;
    return showLive(toolkitArgc, argv, devicePath, resultPath);
}
