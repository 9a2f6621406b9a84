// SPDX-License-Identifier: MIT
#include "devices.h"

#include "udev_rules.h"

#include "listing.h"
#include "touch_reader.h"

#include <linux/input.h>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr size_t kBitsPerLong = sizeof(unsigned long) * CHAR_BIT;

bool testBit(const std::vector<unsigned long> &bits, unsigned bit)
{
    return bit / kBitsPerLong < bits.size() && (bits[bit / kBitsPerLong] >> (bit % kBitsPerLong)) & 1UL;
}

// A bitmap of count bits from the device. The request carries the buffer's length in bytes, so
// a kernel with more codes than these headers know copies no more than the buffer holds.
template <typename Request>
std::vector<unsigned long> deviceBits(int fd, unsigned count, Request request)
{
    std::vector<unsigned long> bits((count + kBitsPerLong - 1) / kBitsPerLong);
    if (::ioctl(fd, request(static_cast<unsigned>(bits.size() * sizeof(unsigned long))),
                bits.data()) < 0)
        std::fill(bits.begin(), bits.end(), 0UL);
    return bits;
}

// sysfs writes a bitmap as hexadecimal longs, the most significant first.
std::vector<unsigned long> sysfsBits(const std::string &file)
{
    std::ifstream in(file);
    std::vector<std::string> words;
    std::string word;
    while (in >> word)
        words.push_back(word);
    std::vector<unsigned long> bits;
    for (auto it = words.rbegin(); it != words.rend(); ++it)
        bits.push_back(std::strtoul(it->c_str(), nullptr, 16));
    return bits;
}

std::string firstLine(const std::string &file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

unsigned hexNumber(const std::string &file)
{
    return static_cast<unsigned>(std::strtoul(firstLine(file).c_str(), nullptr, 16));
}

// The device's name in the by-id folder. A device may have several links there (one for its
// legacy mouse node too): the one udev names "-event-" is the event device's own.
std::string byIdName(const std::string &path, const std::string &folder)
{
    char *target = ::realpath(path.c_str(), nullptr);
    DIR *dir = target ? ::opendir(folder.c_str()) : nullptr;
    std::string found;
    auto eventLink = [](const std::string &name) { return name.find("-event-") != std::string::npos; };
    while (const dirent *entry = dir ? ::readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name[0] == '.')
            continue;
        char *resolved = ::realpath((folder + "/" + name).c_str(), nullptr);
        if (resolved && std::strcmp(resolved, target) == 0 && (found.empty() || eventLink(name)))
            found = name;
        std::free(resolved);
        if (eventLink(found))
            break;
    }
    std::free(target);
    if (dir)
        ::closedir(dir);
    return found;
}

// N for a name the kernel gives an event device, "event" and a number without leading zeros.
std::optional<int> eventNumber(const std::string &name)
{
    const std::string digits = name.substr(std::min<size_t>(5, name.size()));
    if (name.compare(0, 5, "event") != 0 || digits.empty() || digits.size() > 9
        || (digits[0] == '0' && digits.size() > 1)
        || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoi(digits);
}

// What an absolute device is when it is no touch screen, from its keys, properties and relative
// axes, as udev's input_id tells them apart. Many older USB touch screens lack
// INPUT_PROP_DIRECT, so that alone rules nothing out.
std::string whyNotATouchScreen(const std::vector<unsigned long> &keys,
                               const std::vector<unsigned long> &properties,
                               const std::vector<unsigned long> &relative)
{
    if (testBit(keys, BTN_TOOL_PEN) || testBit(keys, BTN_STYLUS))
        return "a pen tablet (BTN_TOOL_PEN or BTN_STYLUS)";
    if (testBit(properties, INPUT_PROP_POINTER))
        return "a touchpad (INPUT_PROP_POINTER)";
    if (testBit(keys, BTN_TOOL_FINGER) && !testBit(properties, INPUT_PROP_DIRECT))
        return "a touchpad (BTN_TOOL_FINGER without INPUT_PROP_DIRECT)";
    if (testBit(properties, INPUT_PROP_ACCELEROMETER))
        return "an accelerometer (INPUT_PROP_ACCELEROMETER)";
    bool joystickKeys = false;
    for (unsigned key = BTN_JOYSTICK; key <= BTN_THUMBR; ++key)
        joystickKeys |= testBit(keys, key);
    if (joystickKeys && !testBit(keys, BTN_TOUCH))
        return "a joystick or gamepad (BTN_JOYSTICK to BTN_THUMBR, no BTN_TOUCH)";
    if (testBit(relative, REL_WHEEL))
        return "an absolute mouse with a wheel (a virtual machine's or a server board's)";
    return {};
}

} // namespace

std::optional<DeviceInfo> describeDevice(const std::string &path, const std::string &byIdFolder)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    if (!isEventDevice(fd)) {
        ::close(fd);
        errno = ENOTTY;
        return std::nullopt;
    }
    DeviceInfo device;
    device.path = path;
    device.readable = true;
    device.byId = byIdName(path, byIdFolder);
    char name[256] = {};
    if (::ioctl(fd, EVIOCGNAME(sizeof name - 1), name) >= 0)
        device.name = name;
    input_id id{};
    if (::ioctl(fd, EVIOCGID, &id) >= 0) {
        device.bus = id.bustype;
        device.vendor = id.vendor;
        device.product = id.product;
    }
    const auto absolute = deviceBits(fd, ABS_MAX + 1, [](unsigned bytes) { return EVIOCGBIT(EV_ABS, bytes); });
    const auto keys = deviceBits(fd, KEY_MAX + 1, [](unsigned bytes) { return EVIOCGBIT(EV_KEY, bytes); });
    const auto properties = deviceBits(fd, INPUT_PROP_MAX + 1, [](unsigned bytes) { return EVIOCGPROP(bytes); });
    device.absoluteXY = testBit(absolute, ABS_X) && testBit(absolute, ABS_Y);
    device.btnLeft = testBit(keys, BTN_LEFT);
    device.btnTouch = testBit(keys, BTN_TOUCH);
    device.direct = testBit(properties, INPUT_PROP_DIRECT);
    const auto relative = deviceBits(fd, REL_MAX + 1, [](unsigned bytes) { return EVIOCGBIT(EV_REL, bytes); });
    device.notATouchScreen = whyNotATouchScreen(keys, properties, relative);
    input_absinfo axis{};
    if (::ioctl(fd, EVIOCGABS(ABS_X), &axis) == 0)
        device.x = AxisRange{axis.minimum, axis.maximum};
    if (::ioctl(fd, EVIOCGABS(ABS_Y), &axis) == 0)
        device.y = AxisRange{axis.minimum, axis.maximum};
    if (testBit(absolute, ABS_MT_POSITION_X) && ::ioctl(fd, EVIOCGABS(ABS_MT_POSITION_X), &axis) == 0)
        device.mtX = AxisRange{axis.minimum, axis.maximum};
    if (testBit(absolute, ABS_MT_POSITION_Y) && ::ioctl(fd, EVIOCGABS(ABS_MT_POSITION_Y), &axis) == 0)
        device.mtY = AxisRange{axis.minimum, axis.maximum};
    ::close(fd);
    return device;
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

std::vector<DeviceInfo> listTouchDevices(const std::string &inputFolder,
                                         const std::string &sysfsFolder)
{
    std::vector<int> numbers;
    if (DIR *dir = ::opendir(inputFolder.c_str())) {
        while (const dirent *entry = ::readdir(dir)) {
            if (const std::optional<int> number = eventNumber(entry->d_name))
                numbers.push_back(*number);
        }
        ::closedir(dir);
    }
    const std::string byIdFolder = inputFolder + "/by-id";
    std::sort(numbers.begin(), numbers.end());

    std::vector<DeviceInfo> found;
    for (const int number : numbers) {
        const std::string event = "event" + std::to_string(number);
        const std::string path = inputFolder + "/" + event;
        std::optional<DeviceInfo> device = describeDevice(path, byIdFolder);
        if (!device) {
            // Not ours to open: sysfs still tells everyone what the device is.
            const std::string sys = sysfsFolder + "/" + event + "/device/";
            DeviceInfo shown;
            shown.path = path;
            shown.byId = byIdName(path, byIdFolder);
            shown.name = firstLine(sys + "name");
            shown.bus = hexNumber(sys + "id/bustype");
            shown.vendor = hexNumber(sys + "id/vendor");
            shown.product = hexNumber(sys + "id/product");
            const auto absolute = sysfsBits(sys + "capabilities/abs");
            const auto keys = sysfsBits(sys + "capabilities/key");
            shown.absoluteXY = testBit(absolute, ABS_X) && testBit(absolute, ABS_Y);
            shown.btnLeft = testBit(keys, BTN_LEFT);
            shown.btnTouch = testBit(keys, BTN_TOUCH);
            const auto properties = sysfsBits(sys + "properties");
            shown.direct = testBit(properties, INPUT_PROP_DIRECT);
            shown.notATouchScreen =
                whyNotATouchScreen(keys, properties, sysfsBits(sys + "capabilities/rel"));
            device = shown;
        }
        if (device->absoluteXY)
            found.push_back(*device);
    }
    return found;
}

std::vector<std::string> matchedByRule(const DeviceIdentity &device, const std::string &sysfsFolder)
{
    std::vector<std::string> matched;
    DIR *dir = ::opendir(sysfsFolder.c_str());
    while (const dirent *entry = dir ? ::readdir(dir) : nullptr) {
        if (!eventNumber(entry->d_name))
            continue;
        const std::string sys = sysfsFolder + "/" + entry->d_name + "/device/";
        const std::string name = firstLine(sys + "name");
        if (::fnmatch(udevMatchName(device.name).c_str(), name.c_str(), 0) == 0
            && hexNumber(sys + "id/bustype") == device.bus && hexNumber(sys + "id/vendor") == device.vendor
            && hexNumber(sys + "id/product") == device.product)
            matched.push_back("/dev/input/" + std::string(entry->d_name) + " \"" + printable(name) + "\"");
    }
    if (dir)
        ::closedir(dir);
    std::sort(matched.begin(), matched.end());
    return matched;
}

std::vector<std::string> othersMatchedByProduct(const DeviceInfo &device,
                                                const std::string &sysfsFolder)
{
    std::vector<std::string> others;
    char *self = ::realpath(device.path.c_str(), nullptr);
    const std::string selfName = self ? std::string(std::strrchr(self, '/') + 1) : std::string();
    std::free(self);
    DIR *dir = ::opendir(sysfsFolder.c_str());
    while (const dirent *entry = dir ? ::readdir(dir) : nullptr) {
        if (!eventNumber(entry->d_name) || entry->d_name == selfName)
            continue;
        const std::string sys = sysfsFolder + "/" + entry->d_name + "/device/";
        const std::string name = firstLine(sys + "name");
        if (name.find(device.name) == std::string::npos)
            continue;
        if (device.bus == BUS_USB
            && (hexNumber(sys + "id/bustype") != BUS_USB || hexNumber(sys + "id/vendor") != device.vendor
                || hexNumber(sys + "id/product") != device.product))
            continue;
        others.push_back("/dev/input/" + std::string(entry->d_name) + " \"" + printable(name) + "\"");
    }
    if (dir)
        ::closedir(dir);
    std::sort(others.begin(), others.end());
    return others;
}
