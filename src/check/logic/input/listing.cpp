// SPDX-License-Identifier: MIT
#include "input/listing.h"

#include "touch_reader.h"

#include <cstdio>
#include <sstream>

namespace {

bool inTouchRange(long long value)
{
    return value >= kMinTouchValue && value <= kMaxTouchValue;
}

} // namespace

std::string printable(const std::string &text)
{
    std::string shown = text;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (static_cast<unsigned char>(shown[i]) < 0x20 || shown[i] == 0x7f) {
            shown[i] = '?';
        } else if (isC1Control(shown, i)) {
            shown.replace(i, 2, "?");
        }
    }
    return shown;
}

std::string calibrationOutlook(const DeviceInfo &device)
{
    if (!device.readable)
        return "not readable: run as root or join the input group";
    if (!device.x || !device.y)
        return "never: the device does not say its X and Y ranges";
    const char *markers[] = {"first", "second"};
    const char *axes[] = {"X", "Y"};
    const AxisRange ranges[] = {*device.x, *device.y};
    for (int marker = 0; marker < 2; ++marker) {
        for (int axis = 0; axis < 2; ++axis) {
            const long long span = static_cast<long long>(ranges[axis].maximum) - ranges[axis].minimum;
            const long long raw = ranges[axis].minimum + span * (marker == 0 ? 1 : 3) / 4;
            if (!inTouchRange(raw)) {
                return std::string("never: at the ") + markers[marker] + " marker the raw "
                    + axes[axis] + " would be about " + std::to_string(raw)
                    + ", outside 1..1999, so that read always gives up";
            }
        }
    }
    if (!device.btnLeft) {
        return "taps needed: no BTN_LEFT, so a read ends only after 51 records (tap the "
               "marker a few times, or hold the finger on it and move it a little)";
    }
    return "ready: one touch per marker";
}

std::string describeForListing(const DeviceInfo &device)
{
    std::ostringstream out;
    char ids[64];
    std::snprintf(ids, sizeof ids, "bus 0x%04x vendor 0x%04x product 0x%04x", device.bus,
                  device.vendor, device.product);
    auto range = [](const std::optional<AxisRange> &axis) {
        return axis ? std::to_string(axis->minimum) + ".." + std::to_string(axis->maximum)
                    : std::string("unknown");
    };
    out << device.path;
    if (!device.byId.empty())
        out << "  (/dev/input/by-id/" << printable(device.byId) << ")";
    out << "\n  name: \"" << printable(device.name) << "\"  " << ids
        << "\n  INPUT_PROP_DIRECT (marks a touch screen): "
        << (device.direct ? "yes" : "no (many older USB touch screens do not set it)")
        << "\n  X range: " << range(device.x) << "  Y range: " << range(device.y)
        << "\n  BTN_LEFT: " << (device.btnLeft ? "yes" : "no")
        << "  BTN_TOUCH: " << (device.btnTouch ? "yes" : "no")
        << "\n  a touch screen: "
        << (device.notATouchScreen.empty() ? std::string("can be") : "no, " + device.notATouchScreen)
        << (device.judgedByUdev ? "" : " (judged here from its codes: udev's judgement is missing; udevd may not run)")
        << "\n  readable by this user: " << (device.readable ? "yes" : "no")
        << "\n  kestrilavon: " << calibrationOutlook(device) << "\n";
    const std::string outlook = calibrationOutlook(device);
    if (outlook.rfind("never", 0) == 0 || outlook.rfind("taps needed", 0) == 0)
        out << "  better: kestrilavon-check --calibrate " << device.path
            << " (nine targets, one touch each, any touch screen)\n";
    return out.str();
}
