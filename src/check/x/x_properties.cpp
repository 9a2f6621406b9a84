// SPDX-License-Identifier: MIT
#include "x_properties.h"

#include "text/decimal.h"

#include <X11/Xatom.h>
#include <X11/extensions/XInput2.h>
#include <sys/stat.h>

#include <cstdlib>

// Xlib's own handler ends the program on an X error: a refused value is reported instead.
int lastXError = 0;

namespace {

int rememberXError(Display *, XErrorEvent *event)
{
    lastXError = event->error_code;
    return 0;
}

} // namespace

DisplayPointer openDisplay()
{
    XSetErrorHandler(rememberXError);
    return DisplayPointer(XOpenDisplay(nullptr), &XCloseDisplay);
}

DisplayPointer openDisplayWithXInput2()
{
    DisplayPointer display = openDisplay();
    int opcode, event, error, major = 2, minor = 2;  // 2.2: touches
    if (display && (!XQueryExtension(display.get(), "XInputExtension", &opcode, &event, &error)
                    || XIQueryVersion(display.get(), &major, &minor) != Success))
        display.reset();
    return display;
}


Property readProperty(Display *display, int device, const char *name)
{
    Property property;
    const Atom atom = XInternAtom(display, name, True);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    if (atom == None
        || XIGetProperty(display, device, atom, 0, 1024, False, AnyPropertyType, &type, &format,
                         &count, &after, &data) != Success)
        return property;
    property.type = type;
    property.format = format;
    for (unsigned long i = 0; data && i < count; ++i) {
        if (format == 8)
            property.items.push_back(data[i]);
        else if (format == 16)
            property.items.push_back(reinterpret_cast<std::uint16_t *>(data)[i]);
        else
            property.items.push_back(reinterpret_cast<std::uint32_t *>(data)[i]);
    }
    XFree(data);
    return property;
}

std::string text(const Property &property)
{
    return std::string(property.items.begin(), property.items.end());
}

// The values as xinput set-prop takes them back.
std::string values(Display *display, const Property &property)
{
    const Atom floatType = XInternAtom(display, "FLOAT", False);
    std::string out;
    for (size_t i = 0; i < property.items.size(); ++i) {
        out += i ? " " : "";
        if (property.type == floatType)
            out += decimal(property.asFloat(i));
        else
            out += std::to_string(static_cast<std::int32_t>(property.items[i]));
    }
    return out;
}

bool isIdentity(Display *display, const Property &matrix)
{
    return !matrix.exists() || values(display, matrix) == "1 0 0 0 1 0 0 0 1";
}

bool allZero(const Property &property)
{
    for (const std::uint32_t item : property.items) {
        if (item)
            return false;
    }
    return true;
}

std::string deviceName(Display *display, int id)
{
    int count = 0;
    XIDeviceInfo *info = XIQueryDevice(display, id, &count);
    std::string name = info && count ? info->name : "";
    XIFreeDeviceInfo(info);
    return name;
}

std::vector<int> devicesOnNode(Display *display, dev_t rdev, bool keyboardsToo)
{
    std::vector<int> ids;
    int count = 0;
    XIDeviceInfo *devices = XIQueryDevice(display, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        if (devices[i].use != XISlavePointer && devices[i].use != XIFloatingSlave
            && !(keyboardsToo && devices[i].use == XISlaveKeyboard))
            continue;
        const std::string node = text(readProperty(display, devices[i].deviceid, "Device Node"));
        struct stat status;
        if (!node.empty() && ::stat(node.c_str(), &status) == 0 && S_ISCHR(status.st_mode)
            && status.st_rdev == rdev)
            ids.push_back(devices[i].deviceid);
    }
    XIFreeDeviceInfo(devices);
    return ids;
}

void setProperty(Display *display, int device, const char *name, Atom type, int format,
                 const std::vector<std::uint32_t> &items)
{
    // XInput 2 takes the items packed in their own width (unlike core properties' longs).
    std::vector<unsigned char> bytes;
    std::vector<std::uint16_t> shorts;
    for (const std::uint32_t item : items) {
        bytes.push_back(static_cast<unsigned char>(item));
        shorts.push_back(static_cast<std::uint16_t>(item));
    }
    unsigned char *data = format == 8 ? bytes.data()
        : format == 16 ? reinterpret_cast<unsigned char *>(shorts.data())
                       : reinterpret_cast<unsigned char *>(const_cast<std::uint32_t *>(items.data()));
    XIChangeProperty(display, device, XInternAtom(display, name, False), type, format,
                     XIPropModeReplace, data, static_cast<int>(items.size()));
}

Matrix Property::asMatrix() const
{
    return {asFloat(0), asFloat(1), asFloat(2), asFloat(3), asFloat(4), asFloat(5)};
}

std::vector<std::uint32_t> floatItems(const Matrix &matrix)
{
    std::vector<std::uint32_t> items;
    for (const double value : {matrix[0], matrix[1], matrix[2], matrix[3], matrix[4], matrix[5],
                               0.0, 0.0, 1.0}) {
        const float single = static_cast<float>(value);
        std::uint32_t item;
        std::memcpy(&item, &single, sizeof item);
        items.push_back(item);
    }
    return items;
}

std::string displayName()
{
    const char *name = std::getenv("DISPLAY");
    return name && *name ? name : "(DISPLAY is not set)";
}
