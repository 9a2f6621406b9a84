// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_DEVICES_H
#define KESTRILAVON_DEVICES_H

#include "forms/driver_forms.h"

#include <optional>
#include <string>
#include <vector>

// What kestrilavon-check finds out about an event device: from udev (libudev), and from the
// device itself (libevdev) when this user may open it, otherwise from the attributes sysfs
// shows everyone.
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
    // udev's judgement (its ID_INPUT_* properties) was there: udevd runs and has seen it.
    bool judgedByUdev = false;
    bool touchscreenByUdev = false;  // ID_INPUT_TOUCHSCREEN
    // Why it cannot be the touch screen (a pen tablet, a touchpad, a joystick, ...), as udev
    // judges it; empty when it can.
    std::string notATouchScreen;

    DeviceIdentity identity() const { return {name, bus, vendor, product}; }
    // The path that stays the device's across re-plugs: its by-id link where it has one.
    std::string stablePath() const { return byId.empty() ? path : "/dev/input/by-id/" + byId; }
};

// Why a device with udev's properties (ID_INPUT_*) cannot be the touch screen, or an empty
// string: a touch screen, or an absolute mouse (the single-touch BTN_LEFT screens that
// kestrilavon reads, which udev calls mice) with absolute X and Y and no relative axis.
std::string whyNotATouchScreenByUdev(const std::vector<std::string> &idInput, bool absoluteXY,
                                     bool relativeAxes);

// Whether libinput hands the device's touches to a compositor as a pointer's, so that a Wayland
// window hears them as mouse events: an absolute mouse (BTN_LEFT, which udev calls a mouse),
// never a touch screen, whose touches come as touches while a mouse beside it moves the pointer.
bool reachesCompositorAsPointer(const DeviceInfo &device);

// The device's name in /dev/input/by-id among udev's links to it: the "-event-" one where it
// has several (one for its legacy mouse node too).
std::string byIdName(const std::vector<std::string> &links);

// Every event device that reports absolute X and Y, by event number.
std::vector<DeviceInfo> listTouchDevices();

// Opens an event device to read, without blocking. Where root opens it for a user who named it
// (through sudo or pkexec), only a character device of the input major reached through
// /dev/input/ is opened: anything else is not even opened to look, since an open alone may act
// (a watchdog arms or stops, a FIFO waits). -1 with errno set otherwise, ENOTTY for a path that
// is not such a node.
int openEventDevice(const std::string &path);

// The check itself, against folder instead of /dev/input/ and whoever asks: for tests.
int openInputNodeIn(const std::string &path, const std::string &folder);

// The device at path, asked through its open descriptor; nullopt with errno set if it does
// not open, ENOTTY if it is not an input event device.
std::optional<DeviceInfo> describeDevice(const std::string &path);

// The devices of the listing that can be the touch screen.
std::vector<DeviceInfo> touchScreenCandidates(const std::vector<DeviceInfo> &devices);

// Whether another program has grabbed the open device (EVIOCGRAB): its events then go there
// alone. No call reports a grab, so this takes one and lets it go at once.
bool heldByAnotherProgram(int device);

// Where the device's multitouch slots stand: the slot its records last named (ABS_MT_SLOT), which
// every reader takes the records since as touches of, then each slot's tracking id (-1: no touch
// there). A reader that missed records (another held the device) holds an older state, and takes
// a new touch in a slot it still thinks held for a second touch there. nullopt for a device
// without slots, or no device.
std::optional<std::vector<int>> slotState(int device);

// The event devices present now that a udev rule for this identity matches (the name as
// udevMatchName writes it, and the ids), as "/dev/input/eventN \"name\"".
std::vector<std::string> matchedByRule(const DeviceIdentity &device);

// The event devices present now with the same bus and ids, whatever their name, as their node
// and name: the devices a rule with these ids may reach.
std::vector<std::pair<std::string, std::string>> eventDevicesWithIds(const DeviceIdentity &device);

// The other event devices present now whose name holds this device's name (and, where it is on
// USB, with the same USB id): an xorg.conf section that matches it by MatchProduct takes them too.
std::vector<std::string> othersMatchedByProduct(const DeviceInfo &device);

#endif
