// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_UNCHECKED_COMPOSITORS_H
#define KESTRILAVON_UNCHECKED_COMPOSITORS_H

#include <string>
#include <vector>

// The compositors whose use of a device the read-back after a re-add cannot ask: weston and GNOME
// (gnome-shell, mutter) tell no program outside them the calibration matrix they use; KDE
// (kwin_wayland) tells it on the session's bus, which only the user's part may ask, so it is
// here where no such part runs. sway's IPC and X's properties are read back elsewhere.

// Those among the processes that held the device (their names, as they set them), as the
// read-back names them, each once.
std::vector<std::string> uncheckedCompositors(const std::vector<std::string> &holderNames);

// The read-back's line for one: what was not checked, and the command whose live view a touch
// tests it in.
std::string notCheckedLine(const std::string &compositor, const std::string &devicePath);

#endif
