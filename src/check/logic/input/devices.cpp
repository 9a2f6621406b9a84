// SPDX-License-Identifier: MIT
#include "input/devices.h"

#include "input/listing.h"
#include "touch_reader.h"
#include "udev/rule_syntax.h"
#include "udev/udevadm.h"

#include <libevdev/libevdev.h>
#include <libudev.h>
#include <linux/input.h>
#include <linux/major.h>

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>

namespace {

constexpr size_t kBitsPerLong = sizeof(unsigned long) * CHAR_BIT;

using UdevDevice = std::unique_ptr<udev_device, decltype(&udev_device_unref)>;

// sysfs writes a bitmap as hexadecimal longs, the most significant first.
std::vector<unsigned long> bitsOf(const char *text)
{
    std::istringstream in(text ? text : "");
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    std::vector<unsigned long> bits;
    for (auto it = words.rbegin(); it != words.rend(); ++it)
        bits.push_back(std::strtoul(it->c_str(), nullptr, 16));
    return bits;
}

bool testBit(const std::vector<unsigned long> &bits, unsigned bit)
{
    return bit / kBitsPerLong < bits.size() && (bits[bit / kBitsPerLong] >> (bit % kBitsPerLong)) & 1UL;
}

unsigned hexNumber(const char *text)
{
    return text ? static_cast<unsigned>(std::strtoul(text, nullptr, 16)) : 0;
}

// What a device can report: its event codes and its properties, from libevdev or sysfs.
struct Capabilities {
    std::function<bool(unsigned type, unsigned code)> has;
    std::function<bool(unsigned property)> property;
};

// What an absolute device is when udev has not judged it, from its keys, properties and
// relative axes, as udev's input_id tells them apart. Many older USB touch screens lack
// INPUT_PROP_DIRECT, so that alone rules nothing out.
std::string whyNotATouchScreen(const Capabilities &c)
{
    if (c.has(EV_KEY, BTN_TOOL_PEN) || c.has(EV_KEY, BTN_STYLUS))
        return "a pen tablet (BTN_TOOL_PEN or BTN_STYLUS)";
    if (c.property(INPUT_PROP_POINTER))
        return "a touchpad (INPUT_PROP_POINTER)";
    if (c.has(EV_KEY, BTN_TOOL_FINGER) && !c.property(INPUT_PROP_DIRECT))
        return "a touchpad (BTN_TOOL_FINGER without INPUT_PROP_DIRECT)";
    if (c.property(INPUT_PROP_ACCELEROMETER))
        return "an accelerometer (INPUT_PROP_ACCELEROMETER)";
    bool anyKey = false, joystickKeys = false;
    for (unsigned key = 0; key <= KEY_MAX; ++key)
        anyKey = anyKey || c.has(EV_KEY, key);
    for (unsigned key = BTN_JOYSTICK; key <= BTN_THUMBR; ++key)
        joystickKeys = joystickKeys || c.has(EV_KEY, key);
    if (joystickKeys && !c.has(EV_KEY, BTN_TOUCH))
        return "a joystick or gamepad (BTN_JOYSTICK to BTN_THUMBR, no BTN_TOUCH)";
    if (c.has(EV_REL, REL_WHEEL))
        return "an absolute mouse with a wheel (a virtual machine's or a server board's)";
    // HP's LIS3LV02DL and ThinkPads' hdaps: three axes and not a key.
    if (!anyKey && c.has(EV_ABS, ABS_Z))
        return "an accelerometer (three absolute axes and no key)";
    return {};
}

bool anyRelativeAxis(const Capabilities &c)
{
    for (unsigned code = 0; code <= REL_MAX; ++code) {
        if (c.has(EV_REL, code))
            return true;
    }
    return false;
}

std::vector<std::string> idInputProperties(udev_device *device)
{
    std::vector<std::string> found;
    udev_list_entry *entry;
    udev_list_entry_foreach(entry, udev_device_get_properties_list_entry(device)) {
        const std::string name = udev_list_entry_get_name(entry);
        const char *value = udev_list_entry_get_value(entry);
        if (name.rfind("ID_INPUT", 0) == 0 && value && std::strcmp(value, "1") == 0)
            found.push_back(name);
    }
    return found;
}

// udev's view of the event device: its by-id link, and its judgement where udevd gave one.
void fillFromUdev(DeviceInfo &info, udev_device *device, const Capabilities &c)
{
    std::vector<std::string> links;
    udev_list_entry *entry;
    udev_list_entry_foreach(entry, udev_device_get_devlinks_list_entry(device))
        links.push_back(udev_list_entry_get_name(entry));
    info.byId = byIdName(links);
    const std::vector<std::string> idInput = idInputProperties(device);
    info.judgedByUdev = !idInput.empty();
    info.touchscreenByUdev = std::find(idInput.begin(), idInput.end(), "ID_INPUT_TOUCHSCREEN") != idInput.end();
    info.notATouchScreen = info.judgedByUdev
        ? whyNotATouchScreenByUdev(idInput, info.absoluteXY, anyRelativeAxis(c))
        : whyNotATouchScreen(c);
}

// The event device of this device number, from udev.
UdevDevice udevDeviceOf(dev_t number)
{
    return UdevDevice(udevContext() ? udev_device_new_from_devnum(udevContext(), 'c', number) : nullptr,
                      udev_device_unref);
}

// What sysfs shows everyone of an event device this user may not open.
DeviceInfo fromSysfs(udev_device *event)
{
    DeviceInfo info;
    const char *node = udev_device_get_devnode(event);
    info.path = node ? node : "/dev/input/" + std::string(udev_device_get_sysname(event));
    udev_device *input = udev_device_get_parent_with_subsystem_devtype(event, "input", nullptr);
    const auto attribute = [&](const char *name) { return input ? udev_device_get_sysattr_value(input, name) : nullptr; };
    const char *name = attribute("name");
    info.name = name ? name : "";
    info.bus = hexNumber(attribute("id/bustype"));
    info.vendor = hexNumber(attribute("id/vendor"));
    info.product = hexNumber(attribute("id/product"));
    const auto absolute = bitsOf(attribute("capabilities/abs")), keys = bitsOf(attribute("capabilities/key")),
               relative = bitsOf(attribute("capabilities/rel")), properties = bitsOf(attribute("properties"));
    const Capabilities c{[&](unsigned type, unsigned code) {
                             return testBit(type == EV_ABS ? absolute : type == EV_KEY ? keys : relative, code);
                         },
                         [&](unsigned property) { return testBit(properties, property); }};
    info.absoluteXY = c.has(EV_ABS, ABS_X) && c.has(EV_ABS, ABS_Y);
    info.btnLeft = c.has(EV_KEY, BTN_LEFT);
    info.btnTouch = c.has(EV_KEY, BTN_TOUCH);
    info.direct = c.property(INPUT_PROP_DIRECT);
    fillFromUdev(info, event, c);
    return info;
}

// Each event device udev knows, in the order of their numbers, with a function that reads it.
void forEachEventDevice(const std::function<void(udev_device *)> &take)
{
    udev_enumerate *enumerate = udevContext() ? udev_enumerate_new(udevContext()) : nullptr;
    if (!enumerate)
        return;
    udev_enumerate_add_match_subsystem(enumerate, "input");
    udev_enumerate_add_match_sysname(enumerate, "event[0-9]*");
    udev_enumerate_scan_devices(enumerate);
    std::vector<std::pair<long, std::string>> paths;
    udev_list_entry *entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
        const std::string path = udev_list_entry_get_name(entry);
        paths.push_back({std::strtol(path.substr(path.rfind("/event") + 6).c_str(), nullptr, 10), path});
    }
    udev_enumerate_unref(enumerate);
    std::sort(paths.begin(), paths.end());
    for (const auto &[number, path] : paths) {
        UdevDevice device(udev_device_new_from_syspath(udevContext(), path.c_str()), udev_device_unref);
        if (device)
            take(device.get());
    }
}

// An event device's name and ids, as a rule or a section would match them.
struct Named {
    std::string node, name;
    unsigned bus, vendor, product;
};

std::vector<Named> namedEventDevices()
{
    std::vector<Named> all;
    forEachEventDevice([&](udev_device *event) {
        const DeviceInfo info = fromSysfs(event);
        all.push_back({info.path, info.name, info.bus, info.vendor, info.product});
    });
    return all;
}

} // namespace

std::string whyNotATouchScreenByUdev(const std::vector<std::string> &idInput, bool absoluteXY, bool relativeAxes)
{
    const auto has = [&](const char *name) { return std::find(idInput.begin(), idInput.end(), name) != idInput.end(); };
    for (const auto &[name, what] : {std::pair("ID_INPUT_TABLET", "a pen tablet"),
                                     std::pair("ID_INPUT_TOUCHPAD", "a touchpad"),
                                     std::pair("ID_INPUT_JOYSTICK", "a joystick or gamepad"),
                                     std::pair("ID_INPUT_ACCELEROMETER", "an accelerometer")}) {
        if (has(name))
            return std::string(what) + " (" + name + ")";
    }
    if (has("ID_INPUT_TOUCHSCREEN"))
        return {};
    if (has("ID_INPUT_MOUSE"))
        return !absoluteXY ? "a mouse (ID_INPUT_MOUSE, no absolute X and Y)"
            : relativeAxes ? "an absolute mouse with relative axes (ID_INPUT_MOUSE; a virtual machine's or a server board's)"
                           : std::string();
    return "udev takes it for neither a touch screen nor an absolute mouse (no ID_INPUT_TOUCHSCREEN or ID_INPUT_MOUSE)";
}

bool reachesCompositorAsPointer(const DeviceInfo &device)
{
    if (!device.absoluteXY || !device.btnLeft)
        return false;
    // libinput takes udev's word for what a device is; without it, BTN_TOUCH marks a touch screen.
    return device.judgedByUdev ? !device.touchscreenByUdev && device.notATouchScreen.empty()
                               : !device.btnTouch && !device.direct;
}

std::string byIdName(const std::vector<std::string> &links)
{
    const std::string folder = "/dev/input/by-id/";
    std::string found;
    for (const std::string &link : links) {
        if (link.rfind(folder, 0) != 0)
            continue;
        const std::string name = link.substr(folder.size());
        if (found.empty() || (name.find("-event-") != std::string::npos && found.find("-event-") == std::string::npos))
            found = name;
    }
    return found;
}

int openInputNodeIn(const std::string &path, const std::string &folder)
{
    // Links are followed by name only (by-id, by-path), and the node they lead to must lie in
    // the folder itself.
    char resolved[PATH_MAX];
    struct stat named, opened;
    // Named in the folder, with no way up: realpath walks no folder the caller may have made.
    const bool namedThere = path.compare(0, folder.size(), folder) == 0 && path.find("/..") == std::string::npos;
    const bool inFolder = namedThere && ::realpath(path.c_str(), resolved) && std::strncmp(resolved, folder.c_str(), folder.size()) == 0
        && !std::strchr(resolved + folder.size(), '/');
    if (!inFolder || ::lstat(resolved, &named) != 0 || !S_ISCHR(named.st_mode) || major(named.st_rdev) != INPUT_MAJOR) {
        errno = ENOTTY;
        return -1;
    }
    const int fd = ::open(resolved, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
    if (fd >= 0 && (::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) || opened.st_rdev != named.st_rdev)) {
        ::close(fd);
        errno = ENOTTY;
        return -1;
    }
    return fd;
}

int openEventDevice(const std::string &path)
{
    const bool forAnother = ::geteuid() == 0 && (std::getenv("SUDO_UID") || std::getenv("PKEXEC_UID"));
    return forAnother ? openInputNodeIn(path, "/dev/input/")
                      : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

std::optional<DeviceInfo> describeDevice(const std::string &path)
{
    const int fd = openEventDevice(path);
    if (fd < 0)
        return std::nullopt;
    libevdev *device = nullptr;
    struct stat node;
    if (::fstat(fd, &node) != 0 || !S_ISCHR(node.st_mode) || libevdev_new_from_fd(fd, &device) != 0) {
        ::close(fd);
        errno = ENOTTY;
        return std::nullopt;
    }
    DeviceInfo info;
    info.path = path;
    info.readable = true;
    info.name = libevdev_get_name(device) ? libevdev_get_name(device) : "";
    info.bus = static_cast<unsigned>(libevdev_get_id_bustype(device));
    info.vendor = static_cast<unsigned>(libevdev_get_id_vendor(device));
    info.product = static_cast<unsigned>(libevdev_get_id_product(device));
    const Capabilities c{[&](unsigned type, unsigned code) { return libevdev_has_event_code(device, type, code) == 1; },
                         [&](unsigned property) { return libevdev_has_property(device, property) == 1; }};
    info.absoluteXY = c.has(EV_ABS, ABS_X) && c.has(EV_ABS, ABS_Y);
    info.btnLeft = c.has(EV_KEY, BTN_LEFT);
    info.btnTouch = c.has(EV_KEY, BTN_TOUCH);
    info.direct = c.property(INPUT_PROP_DIRECT);
    const auto range = [&](unsigned code) -> std::optional<AxisRange> {
        const input_absinfo *axis = libevdev_get_abs_info(device, code);
        return axis ? std::optional<AxisRange>(AxisRange{axis->minimum, axis->maximum}) : std::nullopt;
    };
    info.x = range(ABS_X);
    info.y = range(ABS_Y);
    info.mtX = range(ABS_MT_POSITION_X);
    info.mtY = range(ABS_MT_POSITION_Y);
    const UdevDevice event = udevDeviceOf(node.st_rdev);
    if (event)
        fillFromUdev(info, event.get(), c);
    else
        info.notATouchScreen = whyNotATouchScreen(c);
    libevdev_free(device);
    ::close(fd);
    return info;
}

std::vector<DeviceInfo> touchScreenCandidates(const std::vector<DeviceInfo> &devices)
{
    std::vector<DeviceInfo> candidates;
    for (const DeviceInfo &device : devices) {
        if (device.notATouchScreen.empty())
            candidates.push_back(device);
    }
    return candidates;
}

bool heldByAnotherProgram(int fd)
{
    if (!isEventDevice(fd))
        return false;
    if (::ioctl(fd, EVIOCGRAB, 1) == 0) {
        ::ioctl(fd, EVIOCGRAB, 0);
        return false;
    }
    return errno == EBUSY;
}

std::optional<std::vector<int>> slotState(int device)
{
    input_absinfo slot{};
    if (!isEventDevice(device) || ::ioctl(device, EVIOCGABS(ABS_MT_SLOT), &slot) != 0 || slot.maximum < 0
        || slot.maximum > 255)
        return std::nullopt;
    // EVIOCGMTSLOTS fills a code followed by one value per slot.
    std::vector<std::int32_t> request(static_cast<size_t>(slot.maximum) + 2);
    request[0] = ABS_MT_TRACKING_ID;
    if (::ioctl(device, EVIOCGMTSLOTS(request.size() * sizeof request[0]), request.data()) != 0)
        return std::nullopt;
    std::vector<int> state{slot.value};
    state.insert(state.end(), request.begin() + 1, request.end());
    return state;
}

std::vector<DeviceInfo> listTouchDevices()
{
    std::vector<DeviceInfo> found;
    forEachEventDevice([&](udev_device *event) {
        const char *node = udev_device_get_devnode(event);
        std::optional<DeviceInfo> device = node ? describeDevice(node) : std::nullopt;
        if (!device)
            device = fromSysfs(event);  // not ours to open: sysfs still tells everyone
        if (device->absoluteXY)
            found.push_back(*device);
    });
    return found;
}

std::vector<std::string> matchedByRule(const DeviceIdentity &device)
{
    std::vector<std::string> matched;
    for (const Named &other : namedEventDevices()) {
        if (::fnmatch(udevMatchName(device.name).c_str(), other.name.c_str(), 0) == 0 && other.bus == device.bus
            && other.vendor == device.vendor && other.product == device.product)
            matched.push_back(other.node + " \"" + printable(other.name) + "\"");
    }
    return matched;
}

std::vector<std::pair<std::string, std::string>> eventDevicesWithIds(const DeviceIdentity &device)
{
    std::vector<std::pair<std::string, std::string>> found;
    for (const Named &other : namedEventDevices()) {
        if (other.bus == device.bus && other.vendor == device.vendor && other.product == device.product)
            found.push_back({other.node, other.name});
    }
    return found;
}

std::vector<std::string> othersMatchedByProduct(const DeviceInfo &device)
{
    std::vector<std::string> others;
    char *self = ::realpath(device.path.c_str(), nullptr);
    const std::string selfPath = self ? self : device.path;
    std::free(self);
    for (const Named &other : namedEventDevices()) {
        if (other.node == selfPath || other.name.find(device.name) == std::string::npos)
            continue;
        if (device.bus == BUS_USB
            && (other.bus != BUS_USB || other.vendor != device.vendor || other.product != device.product))
            continue;
        others.push_back(other.node + " \"" + printable(other.name) + "\"");
    }
    return others;
}
