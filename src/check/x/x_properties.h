// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_X_PROPERTIES_H
#define KESTRILAVON_X_PROPERTIES_H

// XInput 2 device properties, for the check's X side (x_input.cpp and x_apply.cpp): plain
// Xlib, kept out of the toolkit's files.

#include "geometry/matrix.h"

#include <X11/Xlib.h>
#include <sys/types.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

constexpr char kLibinputMatrix[] = "libinput Calibration Matrix";
constexpr char kEvdevCalibration[] = "Evdev Axis Calibration";
constexpr char kTransformation[] = "Coordinate Transformation Matrix";
constexpr char kDeviceEnabled[] = "Device Enabled";

using DisplayPointer = std::unique_ptr<Display, decltype(&XCloseDisplay)>;

// The DISPLAY's X server, or null. X errors on it are kept in lastXError instead of ending the
// program, as Xlib's own handler would.
DisplayPointer openDisplay();
// The same, with XInput 2.2 (for touches).
DisplayPointer openDisplayWithXInput2();
extern int lastXError;

// One X device property: its type and its items, each widened to 32 bits.
struct Property {
    Atom type = None;
    int format = 0;
    std::vector<std::uint32_t> items;

    bool exists() const { return type != None; }
    float asFloat(size_t i) const
    {
        float value;
        std::memcpy(&value, &items[i], sizeof value);
        return value;
    }
    // The first six items as floats; there are at least six.
    Matrix asMatrix() const;
};

Property readProperty(Display *display, int device, const char *name);
// Replaces the property's items, each written in format bits (8, 16 or 32).
void setProperty(Display *display, int device, const char *name, Atom type, int format,
                 const std::vector<std::uint32_t> &items);
// A property's value as text, and its values as xinput set-prop takes them back.
std::string text(const Property &property);
std::string values(Display *display, const Property &property);
bool isIdentity(Display *display, const Property &matrix);
bool allZero(const Property &property);
// A 2x3 matrix as the nine 32-bit floats of an X matrix property.
std::vector<std::uint32_t> floatItems(const Matrix &matrix);

std::string deviceName(Display *display, int id);
// The X ids of the slave pointers (and floating devices) whose "Device Node" is the kernel device
// rdev; with keyboardsToo, its slave keyboards too. X's libinput driver may make several X
// devices of one kernel device: a panel with keys on its bezel is a pointer and a keyboard.
std::vector<int> devicesOnNode(Display *display, dev_t rdev, bool keyboardsToo = false);
std::string displayName();

#endif
