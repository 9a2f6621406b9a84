// SPDX-License-Identifier: MIT
#include "x_input.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xrandr.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

namespace {

const char kLibinputMatrix[] = "libinput Calibration Matrix";
const char kEvdevCalibration[] = "Evdev Axis Calibration";
const char kTransformation[] = "Coordinate Transformation Matrix";

using DisplayPointer = std::unique_ptr<Display, decltype(&XCloseDisplay)>;

// Xlib's own handler ends the program on an X error: a refused value is reported instead.
int lastXError = 0;
int rememberXError(Display *, XErrorEvent *event)
{
    lastXError = event->error_code;
    return 0;
}

DisplayPointer openDisplayWithXInput2()
{
    XSetErrorHandler(rememberXError);
    DisplayPointer display(XOpenDisplay(nullptr), &XCloseDisplay);
    int opcode, event, error, major = 2, minor = 2;  // 2.2: touches
    if (display && (!XQueryExtension(display.get(), "XInputExtension", &opcode, &event, &error)
                    || XIQueryVersion(display.get(), &major, &minor) != Success))
        display.reset();
    return display;
}

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
};

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

std::vector<int> devicesOnNode(Display *display, dev_t rdev)
{
    std::vector<int> ids;
    int count = 0;
    XIDeviceInfo *devices = XIQueryDevice(display, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        if (devices[i].use != XISlavePointer && devices[i].use != XIFloatingSlave)
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

void setProperty(Display *display, int device, const char *name, Atom type,
                 const std::vector<std::uint32_t> &items)
{
    XIChangeProperty(display, device, XInternAtom(display, name, False), type, 32,
                     XIPropModeReplace,
                     reinterpret_cast<unsigned char *>(const_cast<std::uint32_t *>(items.data())),
                     static_cast<int>(items.size()));
}

std::vector<std::uint32_t> floatItems(const std::array<double, 6> &matrix)
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

} // namespace

XPointerWatch::XPointerWatch(dev_t rdev)
{
    DisplayPointer owned = openDisplayWithXInput2();
    int event, error;
    if (!owned || !XQueryExtension(owned.get(), "XInputExtension", &opcode, &event, &error))
        return;
    ids = devicesOnNode(owned.get(), rdev);
    if (ids.empty())
        return;
    // Raw events go to the root window alone, whatever window the touch lands on and whoever
    // else listens: the device's events reach this connection without taking them from anyone.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    for (const int type : {XI_RawMotion, XI_RawButtonPress, XI_RawButtonRelease, XI_RawTouchBegin,
                           XI_RawTouchUpdate, XI_RawTouchEnd})
        XISetMask(bits, type);
    XIEventMask mask{XIAllDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(owned.get(), DefaultRootWindow(owned.get()), &mask, 1);
    XFlush(owned.get());
    display = owned.release();
}

XPointerWatch::~XPointerWatch()
{
    if (display)
        XCloseDisplay(display);
}

int XPointerWatch::fd() const
{
    return display ? ConnectionNumber(display) : -1;
}

XPointerWatch::Moved XPointerWatch::takeEvents()
{
    Moved moved;
    if (!display)
        return moved;
    int source = 0;
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        XGenericEventCookie *cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != opcode
            || !XGetEventData(display, cookie))
            continue;
        const auto *raw = static_cast<const XIRawEvent *>(cookie->data);
        for (const int id : ids) {
            if (raw->deviceid == id || raw->sourceid == id) {
                source = id;
                moved.began |= raw->evtype == XI_RawButtonPress || raw->evtype == XI_RawTouchBegin;
            }
        }
        XFreeEventData(display, cookie);
    }
    if (!source)
        return moved;
    // X has handled the event before it sent it: the pointer is where the device put it.
    Window root, child;
    double rootX, rootY, windowX, windowY;
    XIButtonState buttons{};
    XIModifierState modifiers;
    XIGroupState group;
    int count = 0;
    XIDeviceInfo *info = XIQueryDevice(display, source, &count);
    const int masterPointer = info && count ? info->attachment : 2;
    XIFreeDeviceInfo(info);
    const bool same = XIQueryPointer(display, masterPointer, DefaultRootWindow(display), &root, &child,
                                     &rootX, &rootY, &windowX, &windowY, &buttons, &modifiers, &group);
    std::free(buttons.mask);
    moved.moved = same;
    moved.x = static_cast<int>(std::lround(rootX));
    moved.y = static_cast<int>(std::lround(rootY));
    return moved;
}

std::optional<XScreenLayout> xScreenLayout()
{
    const DisplayPointer display(XOpenDisplay(nullptr), &XCloseDisplay);
    if (!display)
        return std::nullopt;
    XScreenLayout layout;
    Display *d = display.get();
    const Window root = DefaultRootWindow(d);
    layout.width = DisplayWidth(d, DefaultScreen(d));
    layout.height = DisplayHeight(d, DefaultScreen(d));
    int event, error, count = 0;
    XRRMonitorInfo *monitors = XRRQueryExtension(d, &event, &error)
        ? XRRGetMonitors(d, root, True, &count) : nullptr;
    for (int i = 0; i < count; ++i) {
        char *name = XGetAtomName(d, monitors[i].name);
        layout.monitors.push_back({name ? name : "", monitors[i].x, monitors[i].y,
                                   monitors[i].width, monitors[i].height});
        XFree(name);
    }
    if (monitors)
        XRRFreeMonitors(monitors);
    if (layout.monitors.empty())
        layout.monitors.push_back({"screen", 0, 0, layout.width, layout.height});
    Window rootReturn, child;
    int x = 0, y = 0, windowX, windowY;
    unsigned buttons;
    XQueryPointer(d, root, &rootReturn, &child, &x, &y, &windowX, &windowY, &buttons);
    for (size_t i = 0; i < layout.monitors.size(); ++i) {
        const Monitor &m = layout.monitors[i];
        if (x >= m.x && x < m.x + m.width && y >= m.y && y < m.y + m.height) {
            layout.pointerMonitor = static_cast<int>(i);
            break;
        }
    }
    return layout;
}

std::optional<Monitor> chooseMonitor(const XScreenLayout &layout, const std::string &name)
{
    if (name.empty())
        return layout.monitors[static_cast<size_t>(layout.pointerMonitor)];
    for (const Monitor &monitor : layout.monitors) {
        if (monitor.name == name)
            return monitor;
    }
    return std::nullopt;
}

std::string describeXMapping(dev_t rdev, const XScreenLayout &layout)
{
    const DisplayPointer owned = openDisplayWithXInput2();
    Display *display = owned.get();
    std::string text;
    for (const int id : display ? devicesOnNode(display, rdev) : std::vector<int>()) {
        const Property matrix = readProperty(display, id, kTransformation);
        std::string where = "across all monitors";
        for (const Monitor &monitor : layout.monitors) {
            const auto expected = monitorTransformation(monitor, layout.width, layout.height);
            bool same = matrix.items.size() == 9;
            for (size_t i = 0; same && i < 6; ++i)
                same = std::fabs(matrix.asFloat(i) - expected[i]) < 1e-3;
            if (same && layout.monitors.size() > 1)
                where = "onto the monitor " + monitor.name;
        }
        if (where == "across all monitors" && !isIdentity(display, matrix))
            where = "through a transformation of its own: " + values(display, matrix);
        text += "  X device " + std::to_string(id) + " \"" + deviceName(display, id) + "\": X maps it "
            + where + "\n";
    }
    return text;
}

ApplyReport applyToRunningX(const std::string &path, const XCalibration &calibration)
{
    ApplyReport report;
    std::ostringstream out;
    struct stat status;
    const DisplayPointer owned = openDisplayWithXInput2();
    Display *display = owned.get();
    if (!display) {
        report.text = "cannot reach the X display " + displayName() + " with XInput 2\n";
        return report;
    }
    if (::stat(path.c_str(), &status) != 0)
        status.st_rdev = 0;
    const std::vector<int> ids = devicesOnNode(display, status.st_rdev);
    if (ids.empty()) {
        report.text = "no X input device on display " + displayName() + " reads " + path
            + ": X does not drive it, so nothing was set. Under Xwayland, X programs see only "
              "virtual devices: use --udev, which libinput and Wayland compositors read.\n";
        return report;
    }
    for (const int id : ids) {
        const bool libinput = readProperty(display, id, kLibinputMatrix).exists();
        if (!libinput && readProperty(display, id, kEvdevCalibration).exists() && !calibration.evdev) {
            report.text = "X device " + std::to_string(id) + " \"" + deviceName(display, id)
                + "\" is driven by evdev, which swaps axes before it calibrates and cannot turn or "
                  "skew them: this calibration is for libinput only, so nothing was set.\n";
            return report;
        }
        if (!libinput && !readProperty(display, id, kEvdevCalibration).exists()) {
            report.text = "X device " + std::to_string(id) + " \"" + deviceName(display, id)
                + "\" has neither \"" + kLibinputMatrix + "\" nor \"" + kEvdevCalibration
                + "\": its driver (the screen's own?) reads neither, so nothing was set. Use "
                  "--xorg for its Boder lines.\n";
            return report;
        }
    }

    const Atom floatType = XInternAtom(display, "FLOAT", False);
    for (const int id : ids) {
        const bool libinput = readProperty(display, id, kLibinputMatrix).exists();
        struct Setting {
            const char *name;
            Atom type;
            std::vector<std::uint32_t> items;
        };
        std::vector<Setting> settings;
        if (libinput) {
            settings.push_back({kLibinputMatrix, floatType, floatItems(calibration.libinput)});
        } else {
            const Borders &b = *calibration.evdev;
            settings.push_back({kEvdevCalibration, XA_INTEGER,
                                {std::uint32_t(b.left), std::uint32_t(b.right), std::uint32_t(b.top),
                                 std::uint32_t(b.bottom)}});
        }
        if (calibration.onto)
            settings.push_back({kTransformation, floatType, floatItems(calibration.onto->transformation)});

        out << "X device " << id << " \"" << deviceName(display, id) << "\" ("
            << (libinput ? "libinput" : "evdev") << " driver):\n";
        std::string undo;
        for (const Setting &setting : settings) {
            const Property before = readProperty(display, id, setting.name);
            std::string old = values(display, before);
            if (before.items.empty()) {
                // evdev's uncalibrated state is an empty value, which xinput cannot set: the
                // axes' own ranges read the same.
                old = std::to_string(calibration.evdevX.minimum) + " "
                    + std::to_string(calibration.evdevX.maximum) + " "
                    + std::to_string(calibration.evdevY.minimum) + " "
                    + std::to_string(calibration.evdevY.maximum);
            }
            setProperty(display, id, setting.name, setting.type, setting.items);
            lastXError = 0;
            XSync(display, False);
            if (lastXError) {
                char reason[128];
                XGetErrorText(display, lastXError, reason, sizeof reason);
                out << "  refused \"" << setting.name << "\": " << reason << "\n";
                report.text = out.str();
                return report;
            }
            out << "  set \"" << setting.name << "\" to "
                << values(display, readProperty(display, id, setting.name));
            if (setting.name == kTransformation)
                out << " (onto the monitor " << calibration.onto->monitor.name << ")";
            out << "\n  before: "
                << (before.items.empty() ? "(empty: uncalibrated)" : values(display, before)) << "\n";
            undo += std::string("  to undo: xinput set-prop ") + std::to_string(id) + " \""
                + setting.name + "\" " + old + "\n";
        }
        const Property transformation = readProperty(display, id, kTransformation);
        if (!calibration.onto && !isIdentity(display, transformation))
            out << "  also set on it, applied after the calibration: \"" << kTransformation
                << "\" " << values(display, transformation) << "\n";
        for (const char *other : {"Evdev Axis Inversion", "Evdev Axes Swap"}) {
            const Property property = readProperty(display, id, other);
            if (property.exists() && !allZero(property))
                out << "  also set on it: \"" << other << "\" " << values(display, property) << "\n";
        }
        out << undo;
    }
    out << "Set on the running X only: a re-plug of the touch screen or a restart of X forgets "
           "it. To keep it, use --udev or --xorg.\n";
    report.ok = true;
    report.text = out.str();
    return report;
}
