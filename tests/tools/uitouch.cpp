// SPDX-License-Identifier: MIT
// uitouch: a touch screen made with the kernel's uinput, for tests on a real kernel (in a
// virtual machine: never on a desk, where its touches would reach the desktop's X session).
//
//   uitouch [--button left|touch|left-only] [--multitouch] [--slots N] [--touchpad] [--keys]
//           [--x-max N] [--y-max N] [--name NAME] [--phys PHYS]
//
// --keys adds volume keys, as panels with buttons on the bezel have: X's libinput driver then
// makes two X devices of the one kernel device.
//
// --touchpad makes it a touchpad to udev and libinput (INPUT_PROP_POINTER, BTN_TOOL_FINGER),
// which is absolute too but no touch screen.
//
// Every kind reports BTN_TOUCH but left-only, which reports BTN_LEFT alone (a screen that X's
// evdev driver takes as an absolute pointer rather than a touchpad).
//
// Prints "ready /dev/input/eventN", then takes one command a line on standard input and
// answers each with one line:
//   down X Y    the finger lands at X, Y (button down, position, report)
//   move X Y    the finger moves (only the axes that change are sent, as the kernel does)
//   up          the finger lifts (button up, report)
//   touch X Y   down X Y, then up: a touch that does not move
//   wait MS     sleeps MS milliseconds
//   unplug      removes the device, as pulling its cable does
//   thumb X Y   (--slots 2) a second contact lands at X, Y and stays: the kernel's single-touch
//               view (ABS_X, ABS_Y, the button) follows the oldest contact, so while the thumb
//               is down the finger's touches show only in its own slot
//   thumb-up    the second contact lifts
//   wiggle N X Y  N moves of the finger that is down, between X, Y and one unit beside it: a
//               reader that sleeps meanwhile overflows its buffer in the kernel (SYN_DROPPED)
#include <linux/input.h>
#include <linux/uinput.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

int device = -1;
bool multitouch = false;
int button = BTN_LEFT;
bool withTouch = true;
int trackingId = 0;
int slots = 1;
bool touchpad = false;
bool keys = false;
int currentSlot = 0;
bool fingerDown = false, thumbDown = false;

void send(int type, int code, int value)
{
    input_event event{};
    event.type = static_cast<unsigned short>(type);
    event.code = static_cast<unsigned short>(code);
    event.value = value;
    if (::write(device, &event, sizeof event) != sizeof event) {
        std::perror("uitouch: write");
        std::exit(1);
    }
}

void toSlot(int slot)
{
    if (slots > 1 && slot != currentSlot) {
        send(EV_ABS, ABS_MT_SLOT, slot);
        currentSlot = slot;
    }
}

// The finger's position; the single-touch axes too, unless the thumb holds them.
void position(int x, int y)
{
    if (multitouch) {
        toSlot(0);
        send(EV_ABS, ABS_MT_POSITION_X, x);
        send(EV_ABS, ABS_MT_POSITION_Y, y);
    }
    if (!thumbDown) {
        send(EV_ABS, ABS_X, x);
        send(EV_ABS, ABS_Y, y);
    }
}

void buttons(int value)
{
    send(EV_KEY, button, value);
    if (button != BTN_TOUCH && withTouch)
        send(EV_KEY, BTN_TOUCH, value);
}

void down(int x, int y)
{
    if (multitouch) {
        toSlot(0);
        send(EV_ABS, ABS_MT_TRACKING_ID, trackingId++);
    }
    if (!thumbDown)
        buttons(1);
    position(x, y);
    send(EV_SYN, SYN_REPORT, 0);
    fingerDown = true;
}

void up()
{
    if (multitouch) {
        toSlot(0);
        send(EV_ABS, ABS_MT_TRACKING_ID, -1);
    }
    if (!thumbDown)
        buttons(0);
    send(EV_SYN, SYN_REPORT, 0);
    fingerDown = false;
}

void thumb(int x, int y)
{
    toSlot(1);
    send(EV_ABS, ABS_MT_TRACKING_ID, trackingId++);
    send(EV_ABS, ABS_MT_POSITION_X, x);
    send(EV_ABS, ABS_MT_POSITION_Y, y);
    if (!fingerDown) {
        buttons(1);
        send(EV_ABS, ABS_X, x);
        send(EV_ABS, ABS_Y, y);
    }
    send(EV_SYN, SYN_REPORT, 0);
    thumbDown = true;
}

void thumbUp()
{
    toSlot(1);
    send(EV_ABS, ABS_MT_TRACKING_ID, -1);
    if (!fingerDown)
        buttons(0);
    send(EV_SYN, SYN_REPORT, 0);
    thumbDown = false;
}

void check(int result, const char *what)
{
    if (result < 0) {
        std::perror(what);
        std::exit(1);
    }
}

void axis(int code, int maximum)
{
    uinput_abs_setup setup{};
    setup.code = static_cast<unsigned short>(code);
    setup.absinfo.maximum = maximum;
    check(::ioctl(device, UI_ABS_SETUP, &setup), "uitouch: UI_ABS_SETUP");
    check(::ioctl(device, UI_SET_ABSBIT, code), "uitouch: UI_SET_ABSBIT");
}

} // namespace

int main(int argc, char **argv)
{
    int xMax = 2047, yMax = 2047;
    std::string name = "kestrilavon test touch screen";
    std::string phys;  // where a real panel says it is plugged in: tells identical panels apart
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--multitouch")
            multitouch = true;
        else if (option == "--button" && ++i) {
            button = std::strcmp(value, "touch") == 0 ? BTN_TOUCH : BTN_LEFT;
            withTouch = std::strcmp(value, "left-only") != 0;
        }
        else if (option == "--touchpad")
            touchpad = true;
        else if (option == "--keys")
            keys = true;
        else if (option == "--slots" && ++i)
            slots = std::atoi(value) > 1 ? 2 : 1;
        else if (option == "--x-max" && ++i)
            xMax = std::atoi(value);
        else if (option == "--y-max" && ++i)
            yMax = std::atoi(value);
        else if (option == "--name" && ++i)
            name = value;
        else if (option == "--phys" && ++i)
            phys = value;
        else {
            std::fprintf(stderr, "usage: uitouch [--button left|touch|left-only] [--multitouch] "
                                 "[--slots N] [--touchpad] [--keys] [--x-max N] [--y-max N] [--name NAME] "
                                 "[--phys PHYS]\n");
            return 2;
        }
    }

    device = ::open("/dev/uinput", O_WRONLY | O_CLOEXEC);
    check(device, "uitouch: /dev/uinput");
    check(::ioctl(device, UI_SET_EVBIT, EV_KEY), "uitouch: UI_SET_EVBIT");
    check(::ioctl(device, UI_SET_EVBIT, EV_ABS), "uitouch: UI_SET_EVBIT");
    if (withTouch)
        check(::ioctl(device, UI_SET_KEYBIT, BTN_TOUCH), "uitouch: UI_SET_KEYBIT");
    if (button != BTN_TOUCH)
        check(::ioctl(device, UI_SET_KEYBIT, button), "uitouch: UI_SET_KEYBIT");
    for (const int key : {KEY_VOLUMEDOWN, KEY_VOLUMEUP}) {
        if (keys)
            check(::ioctl(device, UI_SET_KEYBIT, key), "uitouch: UI_SET_KEYBIT");
    }
    if (touchpad) {
        check(::ioctl(device, UI_SET_KEYBIT, BTN_TOOL_FINGER), "uitouch: UI_SET_KEYBIT");
        check(::ioctl(device, UI_SET_PROPBIT, INPUT_PROP_POINTER), "uitouch: UI_SET_PROPBIT");
    } else {
        check(::ioctl(device, UI_SET_PROPBIT, INPUT_PROP_DIRECT), "uitouch: UI_SET_PROPBIT");
    }
    axis(ABS_X, xMax);
    axis(ABS_Y, yMax);
    if (multitouch) {
        axis(ABS_MT_SLOT, slots - 1);
        axis(ABS_MT_TRACKING_ID, 65535);
        axis(ABS_MT_POSITION_X, xMax);
        axis(ABS_MT_POSITION_Y, yMax);
    }
    uinput_setup setup{};
    setup.id.bustype = BUS_USB;
    setup.id.vendor = 0x1d6b;
    setup.id.product = 0x0104;
    std::snprintf(setup.name, sizeof setup.name, "%s", name.c_str());
    check(::ioctl(device, UI_DEV_SETUP, &setup), "uitouch: UI_DEV_SETUP");
    if (!phys.empty())
        check(::ioctl(device, UI_SET_PHYS, phys.c_str()), "uitouch: UI_SET_PHYS");
    check(::ioctl(device, UI_DEV_CREATE), "uitouch: UI_DEV_CREATE");

    char sysname[64] = {};
    check(::ioctl(device, UI_GET_SYSNAME(sizeof sysname), sysname), "uitouch: UI_GET_SYSNAME");
    std::string node;
    const std::string folder = std::string("/sys/devices/virtual/input/") + sysname;
    for (int tries = 0; node.empty() && tries < 200; ++tries) {
        for (int n = 0; n < 64 && node.empty(); ++n) {
            const std::string event = "event" + std::to_string(n);
            if (::access((folder + "/" + event).c_str(), F_OK) == 0
                && ::access(("/dev/input/" + event).c_str(), F_OK) == 0)
                node = "/dev/input/" + event;
        }
        if (node.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::cout << "ready " << node << std::endl;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        int x = 0, y = 0;
        words >> command >> x >> y;
        if (command == "wiggle") {
            const int count = x;
            words >> x >> y;
            for (int i = 0; i < count; ++i)
                position(x + i % 2, y), send(EV_SYN, SYN_REPORT, 0);
        } else if (command == "down")
            down(x, y);
        else if (command == "move")
            position(x, y), send(EV_SYN, SYN_REPORT, 0);
        else if (command == "up")
            up();
        else if (command == "touch")
            down(x, y), std::this_thread::sleep_for(std::chrono::milliseconds(60)), up();
        else if (command == "thumb" && slots > 1)
            thumb(x, y);
        else if (command == "thumb-up" && slots > 1)
            thumbUp();
        else if (command == "wait")
            std::this_thread::sleep_for(std::chrono::milliseconds(x));
        else if (command == "unplug") {
            check(::ioctl(device, UI_DEV_DESTROY), "uitouch: UI_DEV_DESTROY");
            std::cout << "unplugged" << std::endl;
            continue;
        } else {
            std::cout << "error: unknown command " << command << std::endl;
            continue;
        }
        std::cout << "ok " << line << std::endl;
    }
    ::close(device);
    return 0;
}
