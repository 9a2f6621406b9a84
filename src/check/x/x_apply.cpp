// SPDX-License-Identifier: MIT
#include "x_input.h"

#include "input/listing.h"
#include "x_properties.h"

#include <X11/Xatom.h>
#include <X11/extensions/XInput2.h>
#include <signal.h>
#include <sys/stat.h>

#include <csignal>
#include <iterator>
#include <sstream>

namespace {

constexpr char kEvdevSwap[] = "Evdev Axes Swap";
constexpr char kEvdevInversion[] = "Evdev Axis Inversion";

// One property to set on one X device, with what it held before.
struct Setting {
    int device;
    const char *name;
    Atom type;
    int format;
    std::vector<std::uint32_t> items;
    Property before;
};

std::string xErrorText(Display *display, int code)
{
    char reason[128];
    XGetErrorText(display, code, reason, sizeof reason);
    return reason;
}

// Sets the property and waits for X's answer; the error's text, or an empty string.
std::string setAndSync(Display *display, int device, const char *name, Atom type, int format,
                       const std::vector<std::uint32_t> &items)
{
    lastXError = 0;
    setProperty(display, device, name, type, format, items);
    XSync(display, False);
    return lastXError ? xErrorText(display, lastXError) : std::string();
}

std::string quotedName(Display *display, int id)
{
    return std::to_string(id) + " \"" + printable(deviceName(display, id)) + "\"";
}

volatile std::sig_atomic_t stoppedDuringReread = 0;

// Everything that decides where a touch lands, for each X device of the node: the
// calibration, the transformation after it (identity, or the map onto the monitor), and
// evdev's swap and inversion, which it applies before the calibration.
// None, with *refusal saying why, where a device's driver cannot take this calibration.
std::optional<std::vector<Setting>> settingsFor(Display *display, const std::vector<int> &ids,
                                                const XCalibration &calibration, std::string *refusal)
{
    const Atom floatType = XInternAtom(display, "FLOAT", False);
    std::vector<Setting> settings;
    for (const int id : ids) {
        const bool libinput = readProperty(display, id, kLibinputMatrix).exists();
        const bool evdev = readProperty(display, id, kEvdevCalibration).exists();
        if (!libinput && evdev && !calibration.evdev) {
            *refusal = "X device " + quotedName(display, id)
                + " is driven by evdev, which swaps axes before it calibrates and cannot turn or "
                  "skew them: this calibration is for libinput only, so nothing was set.\n";
            return std::nullopt;
        }
        if (!libinput && !evdev) {
            *refusal = "X device " + quotedName(display, id) + " has neither \"" + kLibinputMatrix
                + "\" nor \"" + kEvdevCalibration
                + "\": its driver (the screen's own?) reads neither, so nothing was set. Use "
                  "--xorg for its Boder lines.\n";
            return std::nullopt;
        }
        if (libinput) {
            settings.push_back({id, kLibinputMatrix, floatType, 32, floatItems(calibration.libinput), {}});
        } else {
            const Borders &b = *calibration.evdev;
            settings.push_back({id, kEvdevCalibration, XA_INTEGER, 32,
                                {std::uint32_t(b.left), std::uint32_t(b.right), std::uint32_t(b.top),
                                 std::uint32_t(b.bottom)}, {}});
            for (const auto &[name, count] : {std::make_pair(kEvdevSwap, 1), std::make_pair(kEvdevInversion, 2)}) {
                const Property property = readProperty(display, id, name);
                if (property.exists())
                    settings.push_back({id, name, property.type, property.format,
                                        std::vector<std::uint32_t>(size_t(count), 0), {}});
            }
        }
        if (readProperty(display, id, kTransformation).exists())
            settings.push_back({id, kTransformation, floatType, 32,
                                floatItems(calibration.onto ? calibration.onto->transformation : Matrix::identity()), {}});
    }
    for (Setting &setting : settings)
        setting.before = readProperty(display, setting.device, setting.name);
    return settings;
}

// All or nothing: on a refusal, what was already set is put back. An empty string when all
// were set, else what was refused and what could not be put back.
std::string setAllOrNothing(Display *display, const std::vector<Setting> &settings)
{
    for (size_t done = 0; done < settings.size(); ++done) {
        const Setting &setting = settings[done];
        const std::string refused = setAndSync(display, setting.device, setting.name, setting.type,
                                               setting.format, setting.items);
        if (refused.empty())
            continue;
        std::ostringstream out;
        out << "X device " << quotedName(display, setting.device) << " refused \"" << setting.name
            << "\": " << refused << ".";
        std::string notPutBack;
        while (done-- > 0) {
            const Setting &back = settings[done];
            const Atom type = back.before.exists() ? back.before.type : back.type;
            const int format = back.before.exists() ? back.before.format : back.format;
            if (!setAndSync(display, back.device, back.name, type, format, back.before.items).empty())
                notPutBack += " \"" + std::string(back.name) + "\" of X device "
                    + std::to_string(back.device) + " (it was " + values(display, back.before) + ");";
        }
        out << (notPutBack.empty() ? " Everything set before it was put back: nothing changed."
                                   : " Could not put back:" + notPutBack.substr(0, notPutBack.size() - 1) + ".")
            << "\n";
        return out.str();
    }
    return {};
}

// The report of what was set on each X device, with what was there before and the command that
// puts it back.
void reportSet(Display *display, const std::vector<int> &ids, const std::vector<Setting> &settings,
               const XCalibration &calibration, ApplyReport *report)
{
    std::ostringstream out;
    for (const int id : ids) {
        const bool libinput = readProperty(display, id, kLibinputMatrix).exists();
        out << "X device " << quotedName(display, id) << " (" << (libinput ? "libinput" : "evdev")
            << " driver):\n";
        std::string undo;
        for (const Setting &setting : settings) {
            if (setting.device != id)
                continue;
            const Property &before = setting.before;
            std::string old = values(display, before);
            if (before.items.empty()) {
                // evdev's uncalibrated state is an empty value, which xinput cannot set: the
                // axes' own ranges read the same.
                old = std::to_string(calibration.evdevX.minimum) + " "
                    + std::to_string(calibration.evdevX.maximum) + " "
                    + std::to_string(calibration.evdevY.minimum) + " "
                    + std::to_string(calibration.evdevY.maximum);
            }
            out << "  set \"" << setting.name << "\" to "
                << values(display, readProperty(display, id, setting.name));
            if (setting.name == kTransformation)
                out << (calibration.onto ? " (onto the monitor " + printable(calibration.onto->monitor.name) + ")"
                                         : std::string(" (the whole screen)"));
            out << "\n  before: "
                << (before.items.empty() ? "(empty: uncalibrated)" : values(display, before)) << "\n";
            const std::string command = "xinput set-prop " + std::to_string(id) + " \"" + setting.name + "\" " + old;
            undo += "  to undo: " + command + "\n";
            report->xBefore.push_back({id, setting.name, before.type, before.format, before.items, command});
        }
        out << undo;
    }
    out << "Set on the running X only: a re-plug of the touch screen or a restart of X forgets "
           "it. To keep it, use --install (or --udev, --xorg).\n";
    report->ok = true;
    report->text = out.str();
}

} // namespace

ApplyReport applyToRunningX(const std::string &path, const XCalibration &calibration)
{
    ApplyReport report;
    struct stat status;
    const DisplayPointer owned = openDisplayWithXInput2();
    Display *display = owned.get();
    if (!display) {
        report.text = "cannot reach the X display " + displayName() + " with XInput 2\n";
        return report;
    }
    if (::stat(path.c_str(), &status) != 0)
        status.st_rdev = 0;
    const std::vector<int> ids = devicesOnNode(display, status.st_rdev);
    if (ids.empty()) {
        report.text = "no X input device on display " + displayName() + " reads " + path
            + ": X does not drive it, so nothing was set. Under Xwayland, X programs see only "
              "virtual devices: use --udev, which libinput and Wayland compositors read.\n";
        return report;
    }
    const std::optional<std::vector<Setting>> settings = settingsFor(display, ids, calibration, &report.text);
    if (!settings)
        return report;
    report.text = setAllOrNothing(display, *settings);
    if (report.text.empty())
        reportSet(display, ids, *settings, calibration, &report);
    return report;
}

std::vector<XDeviceMatrix> xDeviceMatrices(const std::string &path)
{
    std::vector<XDeviceMatrix> found;
    const DisplayPointer owned = openDisplayWithXInput2();
    struct stat status;
    if (!owned || ::stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode))
        return found;
    for (const int id : devicesOnNode(owned.get(), status.st_rdev)) {
        XDeviceMatrix device{id, printable(deviceName(owned.get(), id)), false, {}};
        const Property matrix = readProperty(owned.get(), id, kLibinputMatrix);
        device.libinput = matrix.exists();
        if (matrix.items.size() >= 6)
            device.matrix = matrix.asMatrix();
        found.push_back(device);
    }
    return found;
}

std::string setTransformation(const std::string &path, const Matrix &transformation)
{
    const DisplayPointer owned = openDisplayWithXInput2();
    struct stat status;
    if (!owned || ::stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode))
        return "cannot reach the X display " + displayName();
    const Atom floatType = XInternAtom(owned.get(), "FLOAT", False);
    for (const int id : devicesOnNode(owned.get(), status.st_rdev)) {
        const std::string refused = setAndSync(owned.get(), id, kTransformation, floatType, 32,
                                               floatItems(transformation));
        if (!refused.empty())
            return "X device " + quotedName(owned.get(), id) + " refused \"" + kTransformation
                + "\": " + refused;
    }
    return {};
}

std::string readDeviceAfresh(dev_t rdev)
{
    const DisplayPointer owned = openDisplayWithXInput2();
    if (!owned)
        return "cannot reach the X display " + displayName() + " with XInput 2";
    Display *display = owned.get();
    // All off before any is on again: X's libinput driver reads the device afresh only once every
    // X device it made of it is off. A Ctrl-C in between would leave the touch screen off, where
    // nothing can be touched to turn it on: such signals are noted (on whichever thread they
    // come) and raised again once it is on.
    constexpr int kStops[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    struct sigaction before[std::size(kStops)] = {};
    struct sigaction noting = {};
    noting.sa_handler = [](int signal) {
        if (!stoppedDuringReread)
            stoppedDuringReread = signal;
    };
    sigemptyset(&noting.sa_mask);
    for (size_t i = 0; i < std::size(kStops); ++i) {
        ::sigaction(kStops[i], nullptr, &before[i]);
        if (before[i].sa_handler != SIG_IGN)
            ::sigaction(kStops[i], &noting, nullptr);
    }
    const std::vector<int> ids = devicesOnNode(display, rdev, true);
    std::vector<std::string> off;
    for (const int id : ids)
        off.push_back(setAndSync(display, id, kDeviceEnabled, XA_INTEGER, 8, {0}));
    std::string problems;
    for (size_t i = 0; i < ids.size(); ++i) {
        // Enabled again whatever the first answer: a touch screen left off cannot be touched to
        // turn it on.
        const std::string on = setAndSync(display, ids[i], kDeviceEnabled, XA_INTEGER, 8, {1});
        const bool enabled = readProperty(display, ids[i], kDeviceEnabled).items == std::vector<std::uint32_t>{1};
        if (enabled && off[i].empty() && on.empty())
            continue;
        problems += (problems.empty() ? "" : "; ") + quotedName(display, ids[i]) + ": "
            + (off[i].empty() ? "" : "disabling: " + off[i] + " ") + (on.empty() ? "" : "enabling: " + on + " ")
            + (enabled ? "enabled" : "NOT enabled: xinput enable " + std::to_string(ids[i]));
    }
    for (size_t i = 0; i < std::size(kStops); ++i)
        ::sigaction(kStops[i], &before[i], nullptr);
    if (const int signal = stoppedDuringReread) {
        stoppedDuringReread = 0;
        std::raise(signal);
    }
    return problems;
}

std::string restoreXProperties(const std::vector<XPropertyBefore> &before)
{
    const DisplayPointer owned = openDisplayWithXInput2();
    if (!owned)
        return "cannot reach the X display " + displayName() + " with XInput 2";
    Display *display = owned.get();
    std::string notBack, byHand;
    for (const XPropertyBefore &old : before) {
        const std::string refused = setAndSync(display, old.device, old.name.c_str(), old.type, old.format, old.items);
        const Property now = readProperty(display, old.device, old.name.c_str());
        if (refused.empty() && now.type == old.type && now.format == old.format && now.items == old.items)
            continue;
        notBack += (notBack.empty() ? "" : "; ") + quotedName(display, old.device) + " \"" + old.name + "\" "
            + (refused.empty() ? "reads " + (now.items.empty() ? std::string("(empty)") : values(display, now))
                               : "refused it: " + refused);
        byHand += (byHand.empty() ? "" : "; ") + old.undo;
    }
    return notBack.empty() ? std::string() : notBack + ". Finish it by hand: " + byHand;
}
