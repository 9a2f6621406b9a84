// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_GNOME_SETTINGS_H
#define KESTRILAVON_GNOME_SETTINGS_H

#include "desktops/gnome_mapping.h"
#include "input/devices.h"

#include <optional>
#include <string>
#include <vector>

// GNOME's touch screen mapping, as the session's user, through the session's own bus
// ($XDG_RUNTIME_DIR/bus; none is ever launched) and GSettings' dconf backend.

// Names the session's own bus for gio, where it is this user's: gio would otherwise look
// further, and may launch one of its own. Whether it is named.
bool sessionBusNamed();

// What was changed, to be put back.
struct GnomeMappingChange {
    std::string path;                 // the setting's path
    std::vector<std::string> before;  // its output before
};

// Where mutter runs in this session: maps the device onto its monitor (outputName, else the one
// monitor) where writing allows it and it is not mapped, saying the undo; says so where it
// cannot, and where an unmapped turned monitor changes plain --calibrate's result. The change
// made, if any; nullopt with *failed where it was meant and could not be made.
std::optional<GnomeMappingChange> settleGnomeMapping(const DeviceInfo &device, int twins,
                                                     const std::string &outputName, bool writing, bool *failed);

// Puts the output back as it was, and reads it back. Whether it is.
bool putBackGnomeMapping(const GnomeMappingChange &change);

#endif
