// SPDX-License-Identifier: MIT
#include "pointercal.h"

#include "framebuffer/framebuffer.h"
#include "input/listing.h"
#include "safe_file.h"
#include "said.h"
#include "text/shell_word.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

std::string pointercalText(const std::string &line)
{
    return "# tslib's calibration (ts_calibrate's form): save it as " + pointercalPath()
        + " (or the file TSLIB_CALIBFILE names;\n# sudo kestrilavon-check --install --tslib does it); "
          "ts.conf needs module_raw input and module linear.\n" + line + "\n";
}

int installPointercal(const std::string &line, PointercalChange *change)
{
    const std::string path = pointercalPath();
    const auto [folderPath, name] = folderAndName(path);
    const Descriptor folder = openFolder(folderPath);
    if (!folder.isOpen())
        return fail("cannot write " + path + ": " + std::strerror(errno));
    const FileRead read = readFileAt(folder.get(), name, path, {4095, "a tslib calibration file", true, true});
    if (!read.missing && !read.problem.empty())
        return fail(read.problem);
    const bool existed = !read.missing;
    const std::string &oldText = read.text;
    if (existed && oldText == line + "\n") {
        std::fputs(("Installed in " + path + ":\n" + line + "\nIt held that line already: the file is left "
                    "as it was.\n").c_str(), stdout);
        return finishOutput(0);
    }
    const WriteProblem problem = replaceFileAt(folder.get(), folderPath, name, line + "\n", &read);
    if (!problem.line.empty())
        return fail(problem.line);
    if (change)
        *change = {oldText, line + "\n", existed, true};
    const std::optional<std::string> old = existed ? checkedPointercal(oldText) : std::nullopt;
    std::string report = "Installed in " + path + ":\n" + line + "\n";
    report += old ? "It replaces " + *old + "\n"
        : existed ? std::string("It replaces a file that was not ten integers: there is no undo line for it.\n")
                  : std::string("There was no such file before.\n");
    report += "tslib reads it when a program opens the touch screen: start the touch program again. "
              "ts.conf needs module_raw input and module linear.\n";
    if (old)
        report += "To undo: echo '" + *old + "' | sudo tee " + shellWord(path) + "\n";
    else if (!existed)
        report += "To undo: sudo rm " + shellWord(path) + "\n";
    std::fputs(report.c_str(), stdout);
    return finishOutput(0);
}

bool restorePointercal(const PointercalChange &change)
{
    const std::string path = pointercalPath();
    const auto [folderPath, name] = folderAndName(path);
    const ReadRules rules{4095, "a tslib calibration file", true, true};
    std::string report, problem;
    const Descriptor folder = openFolder(folderPath);
    FileRead now;
    if (folder.isOpen())
        now = readFileAt(folder.get(), name, path, rules);
    if (!folder.isOpen())
        problem = "cannot open " + folderPath + ": " + std::strerror(errno);
    else if (!now.problem.empty() && !now.missing)
        problem = now.problem;
    else if (now.missing || now.text != change.after)
        problem = path + " was changed by someone else meanwhile, and is left as it is";
    else if (change.existed)
        problem = replaceFileAt(folder.get(), folderPath, name, change.before, &now).line;
    else if (::unlinkat(folder.get(), name.c_str(), 0) != 0)
        problem = "cannot remove " + path + ": " + std::strerror(errno);
    if (problem.empty()) {
        report += change.existed ? "Put " + path + " back as it was.\n"
                                 : "Removed " + path + ", which was not there before.\n";
        const FileRead back = readFileAt(folder.get(), name, path, rules);
        if (change.existed ? back.problem.empty() && back.text == change.before : back.missing) {
            std::fputs((report + "The old calibration is back.\n").c_str(), stdout);
            return true;
        }
        problem = path + " does not read back as it was";
    }
    const std::optional<std::string> old = change.existed ? checkedPointercal(change.before) : std::nullopt;
    report += "The old calibration is NOT back: " + printable(problem) + ". "
        + (old ? "Finish it by hand: echo '" + *old + "' | sudo tee " + shellWord(path)
           : !change.existed ? "Finish it by hand: sudo rm " + shellWord(path)
                             : std::string("The old file was not ten integers: put it back by hand"))
        + "\n";
    std::fputs(report.c_str(), stdout);
    return false;
}

AxisRange tslibX(const DeviceInfo &device)
{
    return device.mtX ? *device.mtX : *device.x;
}

AxisRange tslibY(const DeviceInfo &device)
{
    return device.mtY ? *device.mtY : *device.y;
}

