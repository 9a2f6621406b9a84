// SPDX-License-Identifier: MIT
#include "x_input.h"

#include "x_properties.h"

#include <X11/Xatom.h>
#include <X11/extensions/XInput2.h>
#include <sys/stat.h>

#include <sstream>

ApplyReport applyToRunningX(const std::string &path, const XCalibration &calibration)
{
    ApplyReport report;
    std::ostringstream out;
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
    for (const int id : ids) {
        const bool libinput = readProperty(display, id, kLibinputMatrix).exists();
        if (!libinput && readProperty(display, id, kEvdevCalibration).exists() && !calibration.evdev) {
            report.text = "X device " + std::to_string(id) + " \"" + deviceName(display, id)
                + "\" is driven by evdev, which swaps axes before it calibrates and cannot turn or "
                  "skew them: this calibration is for libinput only, so nothing was set.\n";
            return report;
        }
        if (!libinput && !readProperty(display, id, kEvdevCalibration).exists()) {
            report.text = "X device " + std::to_string(id) + " \"" + deviceName(display, id)
                + "\" has neither \"" + kLibinputMatrix + "\" nor \"" + kEvdevCalibration
                + "\": its driver (the screen's own?) reads neither, so nothing was set. Use "
                  "--xorg for its Boder lines.\n";
            return report;
        }
    }

    const Atom floatType = XInternAtom(display, "FLOAT", False);
    for (const int id : ids) {
        const bool libinput = readProperty(display, id, kLibinputMatrix).exists();
        struct Setting {
            const char *name;
            Atom type;
            std::vector<std::uint32_t> items;
        };
        std::vector<Setting> settings;
        if (libinput) {
            settings.push_back({kLibinputMatrix, floatType, floatItems(calibration.libinput)});
        } else {
            const Borders &b = *calibration.evdev;
            settings.push_back({kEvdevCalibration, XA_INTEGER,
                                {std::uint32_t(b.left), std::uint32_t(b.right), std::uint32_t(b.top),
                                 std::uint32_t(b.bottom)}});
        }
        if (calibration.onto)
            settings.push_back({kTransformation, floatType, floatItems(calibration.onto->transformation)});

        out << "X device " << id << " \"" << deviceName(display, id) << "\" ("
            << (libinput ? "libinput" : "evdev") << " driver):\n";
        std::string undo;
        for (const Setting &setting : settings) {
            const Property before = readProperty(display, id, setting.name);
            std::string old = values(display, before);
            if (before.items.empty()) {
                // evdev's uncalibrated state is an empty value, which xinput cannot set: the
                // axes' own ranges read the same.
                old = std::to_string(calibration.evdevX.minimum) + " "
                    + std::to_string(calibration.evdevX.maximum) + " "
                    + std::to_string(calibration.evdevY.minimum) + " "
                    + std::to_string(calibration.evdevY.maximum);
            }
            setProperty(display, id, setting.name, setting.type, setting.items);
            lastXError = 0;
            XSync(display, False);
            if (lastXError) {
                char reason[128];
                XGetErrorText(display, lastXError, reason, sizeof reason);
                out << "  refused \"" << setting.name << "\": " << reason << "\n";
                report.text = out.str();
                return report;
            }
            out << "  set \"" << setting.name << "\" to "
                << values(display, readProperty(display, id, setting.name));
            if (setting.name == kTransformation)
                out << " (onto the monitor " << calibration.onto->monitor.name << ")";
            out << "\n  before: "
                << (before.items.empty() ? "(empty: uncalibrated)" : values(display, before)) << "\n";
            undo += std::string("  to undo: xinput set-prop ") + std::to_string(id) + " \""
                + setting.name + "\" " + old + "\n";
        }
        const Property transformation = readProperty(display, id, kTransformation);
        if (!calibration.onto && !isIdentity(display, transformation))
            out << "  also set on it, applied after the calibration: \"" << kTransformation
                << "\" " << values(display, transformation) << "\n";
        for (const char *other : {"Evdev Axis Inversion", "Evdev Axes Swap"}) {
            const Property property = readProperty(display, id, other);
            if (property.exists() && !allZero(property))
                out << "  also set on it: \"" << other << "\" " << values(display, property) << "\n";
        }
        out << undo;
    }
    out << "Set on the running X only: a re-plug of the touch screen or a restart of X forgets "
           "it. To keep it, use --udev or --xorg.\n";
    report.ok = true;
    report.text = out.str();
    return report;
}
