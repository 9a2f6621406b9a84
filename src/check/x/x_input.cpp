// SPDX-License-Identifier: MIT
#include "x_input.h"

#include "input/listing.h"
#include "x_properties.h"

#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xrandr.h>

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// A connection of its own that hears these XInput 2 events of every device on the root window,
// where X has devices for the kernel device (their ids in *ids, the extension's opcode in
// *opcode); null where it has none.
Display *watchDevicesOf(dev_t rdev, std::initializer_list<int> types, int *opcode, std::vector<int> *ids)
{
    DisplayPointer owned = openDisplayWithXInput2();
    int event, error;
    if (!owned || !XQueryExtension(owned.get(), "XInputExtension", opcode, &event, &error))
        return nullptr;
    *ids = devicesOnNode(owned.get(), rdev);
    if (ids->empty())
        return nullptr;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    for (const int type : types)
        XISetMask(bits, type);
    XIEventMask mask{XIAllDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(owned.get(), DefaultRootWindow(owned.get()), &mask, 1);
    XSync(owned.get(), False);
    return owned.release();
}

// Hands each XInput 2 event that has come so far to take, its data fetched and freed around it.
template <typename Take> void takeXInputEvents(Display *display, int opcode, Take take)
{
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        XGenericEventCookie *cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != opcode || !XGetEventData(display, cookie))
            continue;
        take(*cookie);
        XFreeEventData(display, cookie);
    }
}

} // namespace

XPointerWatch::XPointerWatch(dev_t rdev)
    // Raw events go to the root window alone, whatever window the touch lands on and whoever
    // else listens: the device's events reach this connection without taking them from anyone.
    : display(watchDevicesOf(rdev, {XI_RawMotion, XI_RawButtonPress, XI_RawButtonRelease, XI_RawTouchBegin,
                                    XI_RawTouchUpdate, XI_RawTouchEnd},
                             &opcode, &ids))
{
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
    takeXInputEvents(display, opcode, [&](const XGenericEventCookie &cookie) {
        const auto *raw = static_cast<const XIRawEvent *>(cookie.data);
        for (const int id : ids) {
            if (raw->deviceid == id || raw->sourceid == id) {
                source = id;
                moved.began |= raw->evtype == XI_RawButtonPress || raw->evtype == XI_RawTouchBegin;
            }
        }
    });
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

XReAddWatch::XReAddWatch(dev_t rdev)
    : display(watchDevicesOf(rdev, {XI_HierarchyChanged}, &opcode, &old)), node(rdev)
{
}

XReAddWatch::~XReAddWatch()
{
    if (display)
        XCloseDisplay(display);
}

bool XReAddWatch::waitForReAdd(std::chrono::milliseconds limit)
{
    if (!display)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<int> left = old;
    while (true) {
        takeXInputEvents(display, opcode, [&](const XGenericEventCookie &cookie) {
            if (cookie.evtype != XI_HierarchyChanged)
                return;
            const auto *changed = static_cast<const XIHierarchyEvent *>(cookie.data);
            for (int i = 0; i < changed->num_info; ++i) {
                if (changed->info[i].flags & XISlaveRemoved)
                    left.erase(std::remove(left.begin(), left.end(), changed->info[i].deviceid), left.end());
            }
        });
        if (left.empty() && !devicesOnNode(display, node).empty())
            return true;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (wait <= 0)
            return false;
        pollfd ready{ConnectionNumber(display), POLLIN, 0};
        ::poll(&ready, 1, static_cast<int>(std::min<long long>(wait, 100)));
    }
}

std::optional<XScreenLayout> xScreenLayout()
{
    const DisplayPointer display = openDisplay();
    if (!display)
        return std::nullopt;
    XScreenLayout layout;
    Display *d = display.get();
    const Window root = DefaultRootWindow(d);
    layout.width = DisplayWidth(d, DefaultScreen(d));
    layout.height = DisplayHeight(d, DefaultScreen(d));
    // Monitors came with RandR 1.5: an older server would answer the request with an error.
    int event, error, major = 0, minor = 0, count = 0;
    const bool hasMonitors = XRRQueryExtension(d, &event, &error)
        && XRRQueryVersion(d, &major, &minor) && (major > 1 || (major == 1 && minor >= 5));
    lastXError = 0;
    XRRMonitorInfo *monitors = hasMonitors ? XRRGetMonitors(d, root, True, &count) : nullptr;
    XSync(d, False);
    if (lastXError)
        count = 0;
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

namespace {

// The monitor of several whose map onto it is the X device's transformation, if any.
std::optional<Monitor> monitorOfTransformation(const Property &matrix, const XScreenLayout &layout)
{
    for (const Monitor &monitor : layout.monitors) {
        const auto expected = monitorTransformation(monitor, layout.width, layout.height);
        // The transformation's values are fractions of the screen: within 1e-3 is the same.
        if (matrix.items.size() == 9 && layout.monitors.size() > 1 && matrix.asMatrix().same(expected, 1e-3))
            return monitor;
    }
    return std::nullopt;
}

} // namespace

std::optional<Monitor> xMappedMonitor(dev_t rdev, const XScreenLayout &layout)
{
    const DisplayPointer owned = openDisplayWithXInput2();
    for (const int id : owned ? devicesOnNode(owned.get(), rdev) : std::vector<int>()) {
        if (const auto monitor = monitorOfTransformation(readProperty(owned.get(), id, kTransformation), layout))
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
        const std::optional<Monitor> onto = monitorOfTransformation(matrix, layout);
        std::string where = onto ? "onto the monitor " + printable(onto->name) : "across all monitors";
        if (!onto && !isIdentity(display, matrix))
            where = "through a transformation of its own: " + values(display, matrix);
        text += "  X device " + std::to_string(id) + " \"" + printable(deviceName(display, id)) + "\": X maps it "
            + where + "\n";
    }
    return text;
}

std::vector<XChain> xChainsOnceSettled(const std::string &path, std::chrono::milliseconds quiet,
                                       std::chrono::milliseconds limit)
{
    std::vector<XChain> chains;
    struct stat node;
    if (::stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
        return chains;
    int opcode = 0;
    std::vector<int> ids;
    const DisplayPointer owned(watchDevicesOf(node.st_rdev, {XI_PropertyEvent}, &opcode, &ids), XCloseDisplay);
    Display *display = owned.get();
    if (!display)
        return chains;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto quietFrom = std::chrono::steady_clock::now();
    while (true) {
        takeXInputEvents(display, opcode, [&](const XGenericEventCookie &cookie) {
            const auto *changed = static_cast<const XIPropertyEvent *>(cookie.data);
            if (std::find(ids.begin(), ids.end(), changed->deviceid) != ids.end())
                quietFrom = std::chrono::steady_clock::now();
        });
        const auto now = std::chrono::steady_clock::now();
        if (now - quietFrom >= quiet || now >= deadline)
            break;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::min(quietFrom + quiet, deadline) - now).count();
        pollfd ready{ConnectionNumber(display), POLLIN, 0};
        ::poll(&ready, 1, static_cast<int>(std::max<long long>(wait, 1)));
    }
    for (const int id : devicesOnNode(display, node.st_rdev)) {
        const Property libinput = readProperty(display, id, kLibinputMatrix);
        if (libinput.items.size() < 6)
            continue;
        XChain chain{id, printable(deviceName(display, id)), Matrix::identity(), libinput.asMatrix(), true};
        const Property transformation = readProperty(display, id, kTransformation);
        if (transformation.items.size() >= 9) {
            chain.transformation = transformation.asMatrix();
            chain.affine = transformation.asFloat(6) == 0 && transformation.asFloat(7) == 0
                && transformation.asFloat(8) == 1;
        }
        chains.push_back(chain);
    }
    return chains;
}

std::optional<OntoMonitor> ontoMonitor(const std::optional<XScreenLayout> &layout,
                                       const std::optional<Monitor> &monitor)
{
    // A monitor that covers the whole X screen needs no mapping.
    if (!layout || !monitor
        || (monitor->x == 0 && monitor->y == 0 && monitor->width == layout->width
            && monitor->height == layout->height))
        return std::nullopt;
    return OntoMonitor{*monitor, monitorTransformation(*monitor, layout->width, layout->height)};
}
