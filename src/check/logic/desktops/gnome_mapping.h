// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_GNOME_MAPPING_H
#define KESTRILAVON_GNOME_MAPPING_H

#include <optional>
#include <string>
#include <vector>

// GNOME's mapping of a touch screen onto a monitor: the user's setting
// org.gnome.desktop.peripherals.touchscreen output, one per vendor and product id. mutter turns
// a touch with a turned monitor only while the touch screen is mapped onto it, so the mapping
// is settled before the targets are measured.

constexpr char kGnomeTouchscreenSchema[] = "org.gnome.desktop.peripherals.touchscreen";

// A monitor as mutter's DisplayConfig describes it.
struct GnomeMonitor {
    std::string connector;  // also the Wayland output's name
    std::vector<std::string> triple;  // vendor, product, serial: what the setting holds
    bool turned = false;    // its logical monitor is turned or mirrored
};

// The setting's path for a device: /org/gnome/desktop/peripherals/touchscreens/VID:PID/.
std::string gnomeTouchscreenPath(unsigned vendor, unsigned product);

// A list of strings as GVariant's text gives it, and back: ['RHT', 'QEMU Monitor', '0x0'].
std::string gvariantStrings(const std::vector<std::string> &strings);
std::optional<std::vector<std::string>> parseGvariantStrings(const std::string &text);

// The gsettings command that sets the output back to before (reset where it was empty).
std::string gsettingsUndo(const std::string &path, const std::vector<std::string> &before);

enum class GnomeStep {
    Leave,        // mapped as asked, or nothing to do
    Map,          // set the setting to target's triple
    SayUnmapped,  // unmapped on a turned monitor, and nothing may be written: say so
    Unknown,      // several monitors and none named: the window's monitor is not known
};

// What to do, given mutter's monitors, the setting now, the output named (or ""), and whether
// the options allow writing it (--install, --apply or --output). *target is the monitor meant.
GnomeStep chooseGnomeStep(const std::vector<GnomeMonitor> &monitors, const std::vector<std::string> &current,
                          const std::string &outputName, bool writing, GnomeMonitor *target);

// The lines said for an unmapped touch screen on a turned monitor under plain --calibrate.
std::string gnomeUnmappedNote();

// The line said where other touch screens share the device's vendor and product.
std::string gnomeTwinsNote(int others);

#endif
