// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_DEVICES_H
#define KESTRILAVON_DEVICES_H

#include "driver_forms.h"

#include <optional>
#include <string>
#include <vector>

// What kestrilavon-check finds out about an event device, from the device itself when this
// user may open it, otherwise from what sysfs shows everyone.
struct DeviceInfo {
    std::string path;  // /dev/input/eventN
    std::string byId;  // its /dev/input/by-id name, if any
    std::string name;
    unsigned bus = 0, vendor = 0, product = 0;
    bool readable = false;
    bool direct = false;  // INPUT_PROP_DIRECT: a touch screen (many older ones lack it)
    bool absoluteXY = false;
    bool btnLeft = false;
    bool btnTouch = false;
    std::optional<AxisRange> x, y;  // unknown when the device cannot be opened
    std::optional<AxisRange> mtX, mtY;  // the multitouch axes, where it has them
    // Why it cannot be the touch screen (a pen tablet, a touchpad, a joystick, ...), as udev
    // judges it; empty when it can.
    std::string notATouchScreen;

    DeviceIdentity identity() const { return {name, bus, vendor, product}; }
    // The path that stays the device's across re-plugs: its by-id link where it has one.
    std::string stablePath() const { return byId.empty() ? path : "/dev/input/by-id/" + byId; }
};

// Every event device that reports absolute X and Y, by event number.
std::vector<DeviceInfo> listTouchDevices(const std::string &inputFolder = "/dev/input",
                                         const std::string &sysfsFolder = "/sys/class/input");

// The device at path, asked through its open descriptor; nullopt with errno set if it does
// not open, ENOTTY if it is not an input event device.
std::optional<DeviceInfo> describeDevice(const std::string &path,
                                         const std::string &byIdFolder = "/dev/input/by-id");

// The devices of the listing that can be the touch screen.
std::vector<DeviceInfo> touchScreenCandidates(const std::vector<DeviceInfo> &devices);

// Whether another program has grabbed the open device (EVIOCGRAB): its events then go there
// alone. No call reports a grab, so this takes one and lets it go at once.
bool heldByAnotherProgram(int device);

// The event devices present now that a udev rule for this identity matches (the name as
// udevMatchName writes it, and the ids), as "/dev/input/eventN \"name\"".
std::vector<std::string> matchedByRule(const DeviceIdentity &device,
                                       const std::string &sysfsFolder = "/sys/class/input");

// The other event devices present now whose name holds this device's name (and, where it is on
// USB, with the same USB id): an xorg.conf section that matches it by MatchProduct takes them too.
std::vector<std::string> othersMatchedByProduct(const DeviceInfo &device,
                                                const std::string &sysfsFolder = "/sys/class/input");

#endif
