// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_INSTALL_H
#define KESTRILAVON_INSTALL_H

#include "devices.h"
#include "x_input.h"

#include <optional>
#include <string>

// kestrilavon-check --install and --uninstall: the device's rule in the udev rules file, then a
// synthetic re-plug so that libinput (X's driver, every Wayland compositor) reads it now, then
// what the session really uses, read back. Need root.

// The line that says how to run this very command as root.
std::string asRootCommand(int argc, char **argv);

// Writes the rule, re-adds the device, prints the report (and maps the device onto the monitor
// again on X, where asked). Returns the status.
int installCalibration(const DeviceInfo &device, const LibinputMatrix &matrix,
                       const std::optional<OntoMonitor> &onto);

int uninstallCalibration(const DeviceInfo &device);

#endif
