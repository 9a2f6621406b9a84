// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_TESTS_EVENT_RECORDS_H
#define KESTRILAVON_TESTS_EVENT_RECORDS_H

#include <linux/input.h>

#include <cstring>
#include <string>

// Builds a byte stream of input_event records exactly as the kernel lays them out here.
class EventStream {
public:
    EventStream &record(unsigned short type, unsigned short code, int value)
    {
        input_event event;
        std::memset(&event, 0, sizeof event);
        event.time.tv_sec = 1700000000;
        event.time.tv_usec = 123456;
        event.type = type;
        event.code = code;
        event.value = value;
        bytes.append(reinterpret_cast<const char *>(&event), sizeof event);
        return *this;
    }
    EventStream &x(int value) { return record(EV_ABS, ABS_X, value); }
    EventStream &y(int value) { return record(EV_ABS, ABS_Y, value); }
    EventStream &press() { return record(EV_KEY, BTN_LEFT, 1); }
    EventStream &release() { return record(EV_KEY, BTN_LEFT, 0); }
    EventStream &syn(int count = 1)
    {
        for (int i = 0; i < count; ++i)
            record(EV_SYN, SYN_REPORT, 0);
        return *this;
    }
    EventStream &touch(int atX, int atY) { return press().x(atX).y(atY).syn().release().syn(); }

    std::string bytes;
};

#endif
