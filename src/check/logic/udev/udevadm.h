// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_UDEVADM_H
#define KESTRILAVON_UDEVADM_H

#include "udev/device_holders.h"

#include <sys/types.h>

#include <string>
#include <vector>

// udev, asked through libudev, and told through udevadm (by its absolute path, never through a
// shell) what only udevadm does: to read its rules again, and to re-add a device.

struct udev;

// The program's one libudev context; null where libudev cannot make one.
udev *udevContext();

// The device's folder in sysfs (/sys/devices/.../eventN), from its device number; empty when
// there is none.
std::string sysfsPathOf(dev_t device);
// The same for a device node's path.
std::string sysfsPathOfNode(const std::string &path);
// The device's node as udev names it (/dev/input/eventN), from its folder in sysfs; empty when
// there is none.
std::string deviceNodeOf(const std::string &sysfsPath);

// Runs udevadm with these arguments; its status (-1 when it cannot run), its standard output
// in *output when asked.
int udevadm(const std::vector<std::string> &arguments, std::string *output = nullptr);

// Has udev read its rules again, then sends the device a remove and an add of its own, as if
// it were unplugged and plugged in: libinput reads a udev matrix only when a device is added.
// The remove waits until every finger has been up for a moment, 5 s at most: a compositor may
// end at the remove of a touch screen whose touch is under way (mutter 43 does).
// Both run in a child of a session of its own, so that once the remove is sent the add always
// follows, whatever fails and even when this program is killed; SIGINT, SIGTERM, SIGHUP,
// SIGQUIT and SIGTSTP are held off here until the add has gone out (those ignored when the
// program started stay ignored, here and in the child). It returns once those who
// had the device open (X, the compositor) have opened it again, or after a bounded wait.
struct Replug {
    std::string problem;  // what failed (with what udevadm said), empty when nothing did
    bool addFailed = false;  // the device may be left removed
    int signal = 0;  // the first signal held off meanwhile, for the caller to act on now
    std::vector<Holder> holders;  // those that had the device open, and how they went through it
    int secondsWaited = 0;  // the longest wait for one to open it again
};
Replug reloadAndReplug(const std::string &sysfsPath);

// The value of one of udev's properties of the device (LIBINPUT_CALIBRATION_MATRIX, ID_PATH),
// or empty.
std::string udevPropertyOf(const std::string &sysfsPath, const std::string &name);

#endif
