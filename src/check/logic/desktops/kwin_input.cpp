// SPDX-License-Identifier: MIT
#include "desktops/kwin_input.h"

#include "input/listing.h"
#include "text/shell_word.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr size_t kLongestUnseen = 200;
constexpr char kOutputHandoverStart[] = "kwin outputName ";

bool near(double value, double wanted)
{
    return std::fabs(value - wanted) < 1e-6;
}

} // namespace

std::string kwinDeviceObject(const std::string &node)
{
    const std::string prefix = "/dev/input/event";
    if (node.compare(0, prefix.size(), prefix) != 0 || node.size() == prefix.size() || node.size() > prefix.size() + 6)
        return {};
    for (size_t i = prefix.size(); i < node.size(); ++i) {
        if (node[i] < '0' || node[i] > '9')
            return {};
    }
    return "/org/kde/KWin/InputDevice/" + node.substr(node.rfind('/') + 1);
}

std::optional<Matrix> matrixFromKWin(const std::vector<double> &rows)
{
    if (rows.size() != 16)
        return std::nullopt;
    for (const double value : rows) {
        if (!std::isfinite(value))
            return std::nullopt;
    }
    const double fixed[][2] = {{3, 0}, {7, 0}, {8, 0}, {9, 0}, {10, 1}, {11, 0}, {12, 0}, {13, 0}, {14, 0}, {15, 1}};
    for (const auto &[at, wanted] : fixed) {
        if (!near(rows[static_cast<size_t>(at)], wanted))
            return std::nullopt;
    }
    return Matrix{{rows[0], rows[1], rows[2], rows[4], rows[5], rows[6]}};
}

std::string kwinAnswerText(const KWinAnswer &answer)
{
    if (answer.matrix)
        return "matrix " + answer.matrix->text() + "\n";
    return "unseen " + printable(answer.unseen.substr(0, kLongestUnseen)) + "\n";
}

std::optional<KWinAnswer> readKWinAnswer(const std::string &text)
{
    if (text.size() > kLongestUnseen + 16 || text.empty() || text.back() != '\n'
        || text.find('\n') != text.size() - 1)
        return std::nullopt;
    const std::string line = text.substr(0, text.size() - 1);
    KWinAnswer answer;
    if (line.compare(0, 7, "matrix ") == 0) {
        answer.matrix = Matrix::parse(line.substr(7));
        if (!answer.matrix)
            return std::nullopt;
        return answer;
    }
    if (line.compare(0, 7, "unseen ") != 0 || line.size() == 7)
        return std::nullopt;
    answer.unseen = line.substr(7);
    return answer;
}

std::string kwinReadBackLine(const std::optional<KWinAnswer> &answer, const Matrix &expected, bool *ok)
{
    if (!answer)
        return "KWin's answer did not come, or not in its form: what it uses was not checked.\n";
    if (!answer->matrix)
        return "What KWin uses was not checked: " + printable(answer->unseen) + ".\n";
    if (!answer->matrix->same(expected)) {
        *ok = false;
        return "KWin uses " + answer->matrix->text() + ", not udev's matrix: KWin's own calibration for "
               "the device (CalibrationMatrix in its group of ~/.config/kcminputrc) overrides udev's each "
               "time KWin adds it (remove that key, then log in again).\n";
    }
    return "KWin reads it now.\n";
}

bool kwinOutputNameFits(const std::string &name)
{
    return name.size() <= kLongestKWinOutput && printable(name) == name;
}

GnomeStep chooseKWinStep(const std::vector<std::string> &outputs, const std::string &current,
                         const std::string &outputName, bool writing, std::string *target)
{
    // An output is a monitor whose setting is its name alone; none is turned, so an unmapped
    // device is left alone where nothing may be written.
    std::vector<GnomeMonitor> monitors;
    for (const std::string &output : outputs)
        monitors.push_back({output, {output}, false});
    GnomeMonitor chosen;
    const GnomeStep step = chooseGnomeStep(monitors, {current}, outputName, writing, &chosen);
    *target = chosen.connector;
    return step;
}

std::string kwinOutputUndo(const std::string &object, const std::string &before)
{
    return "busctl --user set-property org.kde.KWin " + shellWord(object) + " org.kde.KWin.InputDevice outputName s "
        + shellWord(before);
}

std::string kwinOutputHandover(const std::string &before)
{
    return kOutputHandoverStart + gvariantStrings({before});
}

std::optional<std::string> readKWinOutputHandover(const std::string &text)
{
    const std::string start = kOutputHandoverStart;
    if (text.size() > start.size() + 2 * kLongestKWinOutput + 4 || text.compare(0, start.size(), start) != 0)
        return std::nullopt;
    const std::optional<std::vector<std::string>> before = parseGvariantStrings(text.substr(start.size()));
    // Only as written: one string, in the one form gvariantStrings gives it.
    if (!before || before->size() != 1 || !kwinOutputNameFits(before->front())
        || kwinOutputHandover(before->front()) != text)
        return std::nullopt;
    return before->front();
}
