// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_TOUCH_TRACKER_H
#define KESTRILAVON_TOUCH_TRACKER_H

#include "touch_reader.h"

#include <linux/input.h>

#include <optional>
#include <vector>

// Whole touches from an event device's records, whatever the device reports: BTN_LEFT or
// BTN_TOUCH, single-touch or multitouch (positions from ABS_X and ABS_Y, the kernel's
// single-touch view of it), any range. A touch begins with BTN_TOUCH or BTN_LEFT down, or a
// tracking id of 0 or more, and ends with the key up or tracking id -1. Its position is the
// median of the positions reported while it was down, so a finger that rolls off as it lifts
// does not move it.
class TouchTracker {
public:
    // Where the device stands when reading begins (EVIOCGABS): a finger already down and
    // held still sends no position of its own.
    explicit TouchTracker(StartPosition start) : x(start.x), y(start.y) {}

    struct Touch {
        double x, y;
    };
    // Takes one record; returns the touch it ends, if it ends one.
    std::optional<Touch> take(const input_event &record);

private:
    int x, y;
    bool down = false;
    std::vector<int> xs, ys;
};

#endif
