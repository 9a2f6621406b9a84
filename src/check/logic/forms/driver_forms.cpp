// SPDX-License-Identifier: MIT
#include "forms/driver_forms.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

namespace {

constexpr unsigned kBusUsb = 0x03;  // BUS_USB in <linux/input.h>

} // namespace

std::string decimal(double value)
{
    // to_chars is the one formatting call that never looks at the locale. Fixed notation:
    // not every reader of a form takes an exponent. The largest double takes 309 digits.
    char text[400];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    if (error != std::errc() || !std::isfinite(value))
        return "nan";  // never a number a reader takes, and no stray bytes
    std::string written(text, end);
    if (written.find('.') != std::string::npos) {
        written.erase(written.find_last_not_of('0') + 1);
        if (written.back() == '.')
            written.pop_back();
    }
    return written == "-0" ? "0" : written;
}

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

LibinputMatrix libinputMatrix(const Calibration &c, AxisRange x, AxisRange y)
{
    // raw = minimum + u * range, put into the map from raw values.
    const double rangeX = double(x.maximum) - x.minimum + 1, rangeY = double(y.maximum) - y.minimum + 1;
    const auto &m = c.m;
    return {m[0] * rangeX, m[1] * rangeY, m[0] * x.minimum + m[1] * y.minimum + m[2],
            m[3] * rangeX, m[4] * rangeY, m[3] * x.minimum + m[4] * y.minimum + m[5]};
}

Calibration calibrationFromLibinput(const LibinputMatrix &m, AxisRange x, AxisRange y)
{
    const double rangeX = double(x.maximum) - x.minimum + 1, rangeY = double(y.maximum) - y.minimum + 1;
    return {{m[0] / rangeX, m[1] / rangeY, m[2] - m[0] * x.minimum / rangeX - m[1] * y.minimum / rangeY,
             m[3] / rangeX, m[4] / rangeY, m[5] - m[3] * x.minimum / rangeX - m[4] * y.minimum / rangeY}};
}

std::optional<LibinputMatrix> parseMatrix(const std::string &text)
{
    LibinputMatrix matrix{};
    const char *at = text.data(), *end = text.data() + text.size();
    for (double &value : matrix) {
        while (at < end && (*at == ' ' || *at == '\t'))
            ++at;
        // from_chars reads no leading '+' and never looks at the locale.
        const auto read = std::from_chars(at, end, value);
        if (read.ec != std::errc() || !std::isfinite(value)
            || (read.ptr < end && *read.ptr != ' ' && *read.ptr != '\t'))
            return std::nullopt;
        at = read.ptr;
    }
    while (at < end && (*at == ' ' || *at == '\t'))
        ++at;
    if (at != end)
        return std::nullopt;
    return matrix;
}

std::string hexId(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xffffu);
    return text;
}

bool sameMatrix(const LibinputMatrix &a, const LibinputMatrix &b)
{
    for (size_t i = 0; i < 6; ++i) {
        if (std::fabs(a[i] - b[i]) > 1e-4 * std::max(1.0, std::fabs(b[i])))
            return false;
    }
    return true;
}

namespace {

// Whether the image of the device's unit square (a parallelogram) meets the screen's, [0,1]^2:
// two convex shapes meet unless one of their edges' normals separates them.
bool meetsScreen(const LibinputMatrix &m)
{
    const std::array<std::array<double, 2>, 4> image = {{
        {m[2], m[5]}, {m[0] + m[2], m[3] + m[5]}, {m[1] + m[2], m[4] + m[5]},
        {m[0] + m[1] + m[2], m[3] + m[4] + m[5]}}};
    const std::array<std::array<double, 2>, 4> screen = {{{0, 0}, {1, 0}, {0, 1}, {1, 1}}};
    const std::array<std::array<double, 2>, 4> normals = {{{1, 0}, {0, 1}, {-m[3], m[0]}, {-m[4], m[1]}}};
    for (const auto &normal : normals) {
        const auto span = [&](const auto &corners) {
            double low = HUGE_VAL, high = -HUGE_VAL;
            for (const auto &c : corners) {
                const double along = normal[0] * c[0] + normal[1] * c[1];
                low = std::min(low, along);
                high = std::max(high, along);
            }
            return std::pair(low, high);
        };
        const auto [imageLow, imageHigh] = span(image);
        const auto [screenLow, screenHigh] = span(screen);
        if (imageHigh < screenLow || screenHigh < imageLow)
            return false;
    }
    return true;
}

} // namespace

std::string matrixProblem(const LibinputMatrix &m)
{
    for (const double value : m) {
        if (!std::isfinite(value))
            return "the calibration matrix has an entry that is not a finite number";
    }
    // The singular values of the 2x2 part: how much it stretches and shrinks at most.
    const double squares = m[0] * m[0] + m[1] * m[1] + m[3] * m[3] + m[4] * m[4];
    const double determinant = m[0] * m[4] - m[1] * m[3];
    const double root = std::sqrt(std::max(0.0, squares * squares - 4 * determinant * determinant));
    const double largest = std::sqrt((squares + root) / 2);
    const double smallest = largest > 0 ? std::fabs(determinant) / largest : 0;
    if (!std::isfinite(largest) || largest > 100)
        return "the calibration would stretch the touch screen more than a hundred times";
    if (smallest < 0.01)
        return "the calibration would shrink the touch screen more than a hundred times "
               "(or squash it onto a line)";
    if (!meetsScreen(m))
        return "the calibration would put no part of the touch screen on the screen";
    return {};
}

std::string matrixText(const LibinputMatrix &m, bool withLastRow)
{
    std::string text;
    for (const double value : m)
        text += (text.empty() ? "" : " ") + decimal(value);
    return withLastRow ? text + " 0 0 1" : text;
}

Transformation monitorTransformation(const Monitor &m, int screenWidth, int screenHeight)
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
                        const LibinputMatrix &matrix, const std::optional<OntoMonitor> &onto)
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
        << "    Option \"CalibrationMatrix\" \"" << matrixText(matrix, true) << "\"\n";
    if (onto) {
        const Monitor &m = onto->monitor;
        out << "    # Maps the touch screen onto the monitor " << m.name << " (" << m.width << "x"
            << m.height << " at " << m.x << "," << m.y << "), for every X input driver.\n"
               "    Option \"TransformationMatrix\" \"" << matrixText(onto->transformation, true)
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
