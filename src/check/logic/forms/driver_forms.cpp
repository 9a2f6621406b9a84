// SPDX-License-Identifier: MIT
#include "forms/driver_forms.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

namespace {

constexpr unsigned kBusUsb = 0x03;  // BUS_USB in <linux/input.h>

} // namespace

bool isC1Control(const std::string &text, size_t at)
{
    return at + 1 < text.size() && static_cast<unsigned char>(text[at]) == 0xc2
        && static_cast<unsigned char>(text[at + 1]) >= 0x80 && static_cast<unsigned char>(text[at + 1]) <= 0x9f;
}

std::string plainNameProblem(const std::string &name)
{
    if (name.empty())
        return "the device has no name to match it by";
    for (const char c : name) {
        if (c == '"' || c == '\\')
            return "its name holds a double quote or a backslash";
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return "its name holds a control character";
    }
    for (size_t at = 0; at < name.size(); ++at) {
        if (isC1Control(name, at))
            return "its name holds a control character";
    }
    return {};
}

std::optional<Calibration> calibrationFromBorders(const Borders &b)
{
    if (b.left == b.right || b.top == b.bottom)
        return std::nullopt;
    const double width = double(b.right) - b.left, height = double(b.bottom) - b.top;
    return Calibration{{1 / width, 0, -b.left / width, 0, 1 / height, -b.top / height}};
}

Matrix libinputMatrix(const Calibration &c, AxisRange x, AxisRange y)
{
    // raw = minimum + u * range, put into the map from raw values.
    const double rangeX = double(x.maximum) - x.minimum + 1, rangeY = double(y.maximum) - y.minimum + 1;
    return c.m.after({rangeX, 0, double(x.minimum), 0, rangeY, double(y.minimum)});
}

Calibration calibrationFromLibinput(const Matrix &m, AxisRange x, AxisRange y)
{
    const double rangeX = double(x.maximum) - x.minimum + 1, rangeY = double(y.maximum) - y.minimum + 1;
    return {{m[0] / rangeX, m[1] / rangeY, m[2] - m[0] * x.minimum / rangeX - m[1] * y.minimum / rangeY,
             m[3] / rangeX, m[4] / rangeY, m[5] - m[3] * x.minimum / rangeX - m[4] * y.minimum / rangeY}};
}

std::string hexId(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xffffu);
    return text;
}

Matrix monitorTransformation(const Monitor &m, int screenWidth, int screenHeight)
{
    return {double(m.width) / screenWidth, 0, double(m.x) / screenWidth,
            0, double(m.height) / screenHeight, double(m.y) / screenHeight};
}

std::string nameProblemForXorg(const std::string &name)
{
    if (name.find('|') != std::string::npos)
        return "its name holds a \"|\", which Xorg reads as \"or\"";
    return plainNameProblem(name);
}

std::string xorgSnippet(const DeviceIdentity &device, const std::optional<Borders> &borders,
                        const Matrix &matrix, const std::optional<OntoMonitor> &onto)
{
    std::ostringstream out;
    out << "# Save as /etc/X11/xorg.conf.d/99-kestrilavon.conf, then restart X.\n"
           "# Written by kestrilavon-check.\n"
           "Section \"InputClass\"\n"
           "    Identifier \"kestrilavon calibration\"\n"
           "    # MatchProduct matches every device whose name contains this text.\n"
           "    MatchProduct \"" << device.name << "\"\n";
    if (device.bus == kBusUsb)
        out << "    MatchUSBID \"" << hexId(device.vendor) << ":" << hexId(device.product) << "\"\n";
    out << "    MatchDevicePath \"/dev/input/event*\"\n";
    if (borders) {
        const Borders &b = *borders;
        out << "    # Read by the touch screen's own X input driver. A driver ignores options it\n"
               "    # does not know.\n"
               "    Option \"BoderLeft\" \"" << b.left << "\"\n"
               "    Option \"BoderRight\" \"" << b.right << "\"\n"
               "    Option \"BoderTop\" \"" << b.top << "\"\n"
               "    Option \"BoderBottom\" \"" << b.bottom << "\"\n"
               "    # The same four values, read by X's evdev input driver: left right top bottom.\n"
               "    Option \"Calibration\" \"" << b.left << " " << b.right << " " << b.top << " "
            << b.bottom << "\"\n";
    } else {
        out << "    # The calibration turns or skews the axes: only X's libinput driver can take it.\n";
    }
    out << (borders ? "    # The same calibration, read by X's libinput input driver.\n"
                    : "    # Read by X's libinput input driver.\n")
        << "    Option \"CalibrationMatrix\" \"" << matrix.textWithLastRow() << "\"\n";
    if (onto) {
        const Monitor &m = onto->monitor;
        out << "    # Maps the touch screen onto the monitor " << m.name << " (" << m.width << "x"
            << m.height << " at " << m.x << "," << m.y << "), for every X input driver.\n"
               "    Option \"TransformationMatrix\" \"" << onto->transformation.textWithLastRow()
            << "\"\n";
    }
    out << "EndSection\n";
    return out.str();
}

std::optional<ScreenPoint> mapToScreen(const Borders &borders, int rawX, int rawY, int w, int h)
{
    if (borders.left == borders.right || borders.top == borders.bottom)
        return std::nullopt;
    auto map = [](long long raw, long long from, long long to, long long size) {
        const long long at = (raw - from) * size / (to - from);
        return static_cast<int>(std::clamp(at, -1000000LL, 1000000LL));
    };
    return ScreenPoint{map(rawX, borders.left, borders.right, w),
                       map(rawY, borders.top, borders.bottom, h)};
}

std::optional<std::string> pointercalLine(const Calibration &c, int w, int h)
{
    constexpr double kScale = 65536;
    const double scaled[6] = {c.m[0] * w, c.m[1] * w, c.m[2] * w, c.m[3] * h, c.m[4] * h, c.m[5] * h};
    std::string line;
    for (const double value : scaled) {
        const double rounded = std::round(value * kScale);
        if (!std::isfinite(rounded) || std::fabs(rounded) > 2147483647.0)
            return std::nullopt;
        line += std::to_string(static_cast<long long>(rounded)) + " ";
    }
    return line + "65536 " + std::to_string(w) + " " + std::to_string(h) + " 0";
}

std::optional<std::string> checkedPointercal(const std::string &text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        const size_t digits = word[0] == '-' ? 1 : 0;
        if (words.size() == 10 || word.size() > 11 || word.size() == digits
            || word.find_first_not_of("0123456789", digits) != std::string::npos)
            return std::nullopt;
        words.push_back(word);
    }
    if (words.size() != 10)
        return std::nullopt;
    std::string line;
    for (const std::string &word : words)
        line += (line.empty() ? "" : " ") + word;
    return line;
}
