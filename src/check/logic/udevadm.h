// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_UDEVADM_H
#define KESTRILAVON_UDEVADM_H

#include <sys/types.h>

#include <string>
#include <vector>

// udev, asked and told through udevadm: by its absolute path, never through a shell.

// The device's folder in sysfs (/sys/devices/.../eventN), from its device number; empty when
// there is none.
std::string sysfsPathOf(dev_t device);
// The same for a device node's path.
std::string sysfsPathOfNode(const std::string &path);

// Runs udevadm with these arguments; its status (-1 when it cannot run), its standard output
// in *output when asked.
int udevadm(const std::vector<std::string> &arguments, std::string *output = nullptr);

// Has udev read its rules again, then sends the device a remove and an add of its own, as if
// it were unplugged and plugged in: libinput reads a udev matrix only when a device is added.
// Once the remove is sent the add always follows, whatever fails, with SIGINT, SIGTERM and
// SIGHUP held off in between: a device left removed is dead to X and the compositor. Returns
// an empty string, or what failed.
std::string reloadAndReplug(const std::string &sysfsPath);

// The matrix that udev now gives the device (LIBINPUT_CALIBRATION_MATRIX), or empty.
std::string udevMatrixOf(const std::string &sysfsPath);

#endif
