// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_X_INPUT_H
#define KESTRILAVON_X_INPUT_H

#include "forms/driver_forms.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The running X server's side of a calibration: the X input devices that read one kernel
// device, and their calibration properties, through XInput 2.

struct _XDisplay;

// The X screen of the DISPLAY: its size, its RandR monitors, and which of them holds the
// pointer. nullopt when the display does not answer. A server without RandR 1.5 (older, or
// remote) has one monitor: the screen.
struct XScreenLayout {
    int width = 0, height = 0;
    std::vector<Monitor> monitors;
    int pointerMonitor = 0;  // an index into monitors
};
std::optional<XScreenLayout> xScreenLayout();

// The monitor named (as xrandr --listmonitors shows it), or by default the one that holds the
// pointer; nullopt for an unknown name.
std::optional<Monitor> chooseMonitor(const XScreenLayout &layout, const std::string &name);

// The monitor that X maps the kernel device onto, when it maps it onto one of several.
std::optional<Monitor> xMappedMonitor(dev_t rdev, const XScreenLayout &layout);

// For the listing: which X devices read the kernel device, and whether X maps each onto one
// monitor or across all. Empty when X has none.
std::string describeXMapping(dev_t rdev, const XScreenLayout &layout);

// What --apply sets: libinput's matrix, or evdev's four borders, whichever the driver reads;
// and on an X screen of several monitors the transformation onto the touch screen's own.
struct XCalibration {
    Matrix libinput;
    std::optional<Borders> evdev;  // none for a turned or skewed calibration: libinput only
    AxisRange evdevX, evdevY;  // evdev's uncalibrated state, for the undo command
    std::optional<OntoMonitor> onto;
};

// Sets the calibration on every X device that reads the kernel device at path, and returns
// the report for the user; on failure (no such X device, or a driver that reads neither
// property) nothing is set and ok is false.
// One X device property as it was before it was set: what puts it back.
struct XPropertyBefore {
    int device = 0;
    std::string name;
    unsigned long type = 0;  // an X atom
    int format = 0;
    std::vector<std::uint32_t> items;
    std::string undo;  // the xinput command that sets it back by hand
};
// sway's input as it was before it was set: its identifier, its matrix, and whether it was
// mapped onto an output since (sway does not say where it was mapped before).
struct SwayBefore {
    std::string identifier;
    std::string matrix;
    bool mapped = false;
};
struct ApplyReport {
    bool ok = false;
    std::string text;
    // Where ok: what was there before, on X or on sway.
    std::vector<XPropertyBefore> xBefore;
    std::optional<SwayBefore> swayBefore;
    // Where the session's user's part set it: what puts it back, for that part to read, and the
    // commands that do it by hand.
    std::string userPutBack, byHand;
};
ApplyReport applyToRunningX(const std::string &path, const XCalibration &calibration);

// Sets each property back as it was, then reads each again: an empty string when all read as
// they did before; otherwise what differs, and the xinput commands that finish it by hand.
std::string restoreXProperties(const std::vector<XPropertyBefore> &before);

// What the X devices reading the kernel device at path hold now: for each, its id, its name
// (made printable), whether X's libinput driver reads it and the libinput matrix it uses.
struct XDeviceMatrix {
    int id = 0;
    std::string name;
    bool libinput = false;
    std::optional<Matrix> matrix;  // where libinput reads it
};
std::vector<XDeviceMatrix> xDeviceMatrices(const std::string &path);

// Sets the transformation (a monitor's map) on every X device that reads the kernel device at
// path; an empty string, or why not.
std::string setTransformation(const std::string &path, const Matrix &transformation);

// Has X's drivers read the kernel device afresh (each of its X devices disabled and enabled
// again, as `xinput disable` and `enable` do): they then take its slots as the device holds
// them now. An empty string, or why not, with the command that enables a device left off.
std::string readDeviceAfresh(dev_t rdev);

// X's devices of one kernel device, watched from before the device is re-added (as if
// re-plugged) until X has removed every one of them and added the device again: X may give the
// new devices the old ids, so only its hierarchy events tell old and new apart.
class XReAddWatch {
public:
    explicit XReAddWatch(dev_t rdev);
    ~XReAddWatch();
    XReAddWatch(const XReAddWatch &) = delete;
    XReAddWatch &operator=(const XReAddWatch &) = delete;

    // Whether X had devices for the node when the watch began.
    bool watching() const { return display != nullptr; }
    // Waits, up to limit, until X has removed the old devices and has the node's again.
    bool waitForReAdd(std::chrono::milliseconds limit);

private:
    // In this order: the display's connection fills in the opcode and the old devices.
    int opcode = 0;
    std::vector<int> old;
    _XDisplay *display = nullptr;
    dev_t node = 0;
};

// What X applies to a touch of the kernel device at path: for each X device that libinput
// drives, its Coordinate Transformation Matrix after libinput's matrix. A desktop sets its own
// transformation once it has seen the device added, so this waits until no property of those
// devices has changed for `quiet`, for at most limit; empty where X has no such device.
struct XChain {
    int id = 0;
    std::string name;  // made printable
    Matrix transformation, libinput;
    bool affine = true;  // the transformation's last row is 0 0 1, as a calibration's is
    Matrix chain() const { return transformation.after(libinput); }
};
std::vector<XChain> xChainsOnceSettled(const std::string &path, std::chrono::milliseconds quiet,
                                       std::chrono::milliseconds limit);

// Where X itself puts the pointer for one kernel device, on a connection of its own: it hears the
// raw events of that device's X devices (and of no other: a real mouse does not count) and
// after each asks X where the pointer now is. Works under any toolkit event loop: read when
// fd() is readable.
class XPointerWatch {
public:
    explicit XPointerWatch(dev_t rdev);
    ~XPointerWatch();
    XPointerWatch(const XPointerWatch &) = delete;
    XPointerWatch &operator=(const XPointerWatch &) = delete;

    // The connection's socket; -1 when X has no device for the node.
    int fd() const;
    const std::vector<int> &devices() const { return ids; }

    // Takes what X has sent: whether the device moved the pointer, whether a touch or button
    // press began among it, and where X has put the pointer (root window coordinates).
    struct Moved {
        bool moved = false;
        bool began = false;
        int x = 0, y = 0;
    };
    Moved takeEvents();

private:
    // In this order: the display's connection fills in the opcode and the devices.
    int opcode = 0;
    std::vector<int> ids;
    _XDisplay *display = nullptr;
};

// The mapping of the device onto the chosen monitor, unless that monitor covers the whole X
// screen.
std::optional<OntoMonitor> ontoMonitor(const std::optional<XScreenLayout> &layout,
                                       const std::optional<Monitor> &monitor);

#endif
