// SPDX-License-Identifier: MIT
#include "touch_tracker.h"

#include "touch_reader.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <climits>

namespace {

double median(std::vector<int> values)
{
    const size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(middle), values.end());
    if (values.size() % 2)
        return values[middle];
    const int upper = values[middle];
    const int lower = *std::max_element(values.begin(), values.begin() + static_cast<long>(middle));
    return (double(lower) + upper) / 2;
}

bool hasBit(const unsigned long *bits, unsigned bit)
{
    constexpr unsigned perLong = sizeof(unsigned long) * CHAR_BIT;
    return (bits[bit / perLong] >> (bit % perLong)) & 1UL;
}

// One value per slot for the code, through EVIOCGMTSLOTS: the code first, then the values.
std::vector<int> slotValues(int device, unsigned code, size_t slots)
{
    std::vector<__s32> buffer(slots + 1);
    buffer[0] = static_cast<__s32>(code);
    if (::ioctl(device, EVIOCGMTSLOTS(static_cast<unsigned>(buffer.size() * sizeof(__s32))),
                buffer.data()) < 0)
        return {};
    return std::vector<int>(buffer.begin() + 1, buffer.end());
}

} // namespace

DeviceState readDeviceState(int device)
{
    DeviceState state;
    if (!isEventDevice(device))
        return state;
    const StartPosition position = currentPosition(device);
    state.x = position.x;
    state.y = position.y;
    input_absinfo axis{};
    constexpr unsigned perLong = sizeof(unsigned long) * CHAR_BIT;
    unsigned long keys[(KEY_MAX + perLong) / perLong] = {};
    if (::ioctl(device, EVIOCGKEY(sizeof keys), keys) >= 0)
        state.keyDown = hasBit(keys, BTN_TOUCH) || hasBit(keys, BTN_LEFT);
    unsigned long absolute[(ABS_MAX + perLong) / perLong] = {};
    if (::ioctl(device, EVIOCGBIT(EV_ABS, sizeof absolute), absolute) < 0
        || !hasBit(absolute, ABS_MT_SLOT) || !hasBit(absolute, ABS_MT_POSITION_X)
        || !hasBit(absolute, ABS_MT_POSITION_Y) || ::ioctl(device, EVIOCGABS(ABS_MT_SLOT), &axis) != 0
        || axis.maximum < 0 || axis.maximum > 1023)
        return state;
    const size_t slots = static_cast<size_t>(axis.maximum) + 1;
    const std::vector<int> ids = slotValues(device, ABS_MT_TRACKING_ID, slots);
    const std::vector<int> xs = slotValues(device, ABS_MT_POSITION_X, slots);
    const std::vector<int> ys = slotValues(device, ABS_MT_POSITION_Y, slots);
    if (ids.size() != slots || xs.size() != slots || ys.size() != slots)
        return state;
    state.slot = axis.value;
    for (size_t i = 0; i < slots; ++i)
        state.contacts.push_back({ids[i], xs[i], ys[i]});
    return state;
}

bool beginsTouch(const input_event &record)
{
    return (record.type == EV_KEY && (record.code == BTN_TOUCH || record.code == BTN_LEFT)
            && record.value == 1)
        || (record.type == EV_ABS && record.code == ABS_MT_TRACKING_ID && record.value >= 0);
}

bool nothingDown(const DeviceState &state)
{
    for (const DeviceState::Contact &contact : state.contacts) {
        if (contact.id >= 0)
            return false;
    }
    return !state.keyDown;
}

TouchTracker::TouchTracker(const DeviceState &start, std::function<DeviceState()> again)
    : reread(std::move(again))
{
    startFrom(start);
}

void TouchTracker::startFrom(const DeviceState &start)
{
    state = start;
    down = false;
    followedSlot = followedId = -1;
    ignoreUntilLifted = !state.multitouch() && state.keyDown;
    ignoredSlots.assign(state.contacts.size(), false);
    for (size_t i = 0; i < state.contacts.size(); ++i)
        ignoredSlots[i] = state.contacts[i].id >= 0;
}

DeviceState::Contact *TouchTracker::contactInSlot()
{
    if (state.slot < 0 || state.slot >= static_cast<int>(state.contacts.size()))
        return nullptr;
    return &state.contacts[static_cast<size_t>(state.slot)];
}

std::optional<TouchTracker::Touch> TouchTracker::end()
{
    down = false;
    followedSlot = followedId = -1;
    return Touch{median(xs), median(ys)};
}

std::optional<TouchTracker::Touch> TouchTracker::take(const input_event &record)
{
    if (record.type == EV_SYN && record.code == SYN_DROPPED) {
        dropping = true;
        down = false;
        return std::nullopt;
    }
    if (dropping) {
        if (record.type == EV_SYN && record.code == SYN_REPORT) {
            dropping = false;
            startFrom(reread ? reread() : state);
        }
        return std::nullopt;
    }
    return state.multitouch() ? takeMultitouch(record) : takeSingleTouch(record);
}

std::optional<TouchTracker::Touch> TouchTracker::takeSingleTouch(const input_event &record)
{
    if (record.type == EV_ABS && record.code == ABS_X) {
        state.x = record.value;
    } else if (record.type == EV_ABS && record.code == ABS_Y) {
        state.y = record.value;
    } else if (record.type == EV_KEY && (record.code == BTN_TOUCH || record.code == BTN_LEFT)) {
        if (record.value == 0) {
            ignoreUntilLifted = false;
            if (down) {
                // A touch that ends before any report (its positions come in the same report
                // as the release) is where the device stands now.
                if (xs.empty()) {
                    xs.push_back(state.x);
                    ys.push_back(state.y);
                }
                return end();
            }
        } else if (!down && !ignoreUntilLifted) {
            down = true;
            xs.clear();
            ys.clear();
        }
    } else if (record.type == EV_SYN && record.code == SYN_REPORT && down) {
        xs.push_back(state.x);
        ys.push_back(state.y);
    }
    return std::nullopt;
}

std::optional<TouchTracker::Touch> TouchTracker::takeMultitouch(const input_event &record)
{
    if (record.type == EV_SYN && record.code == SYN_REPORT) {
        if (down) {
            const DeviceState::Contact &followed = state.contacts[static_cast<size_t>(followedSlot)];
            xs.push_back(followed.x);
            ys.push_back(followed.y);
        }
        return std::nullopt;
    }
    if (record.type != EV_ABS)
        return std::nullopt;
    if (record.code == ABS_MT_SLOT) {
        state.slot = record.value;
        return std::nullopt;
    }
    DeviceState::Contact *contact = contactInSlot();
    if (!contact)
        return std::nullopt;
    if (record.code == ABS_MT_POSITION_X) {
        contact->x = record.value;
    } else if (record.code == ABS_MT_POSITION_Y) {
        contact->y = record.value;
    } else if (record.code == ABS_MT_TRACKING_ID) {
        contact->id = record.value;
        const size_t slot = static_cast<size_t>(state.slot);
        std::optional<Touch> ended;
        if (down && state.slot == followedSlot && record.value != followedId) {
            // Lifted (or lifted and landed again between two reports): the touch is over, with
            // the positions it had.
            if (xs.empty()) {
                xs.push_back(contact->x);
                ys.push_back(contact->y);
            }
            ended = end();
        }
        if (record.value < 0) {
            ignoredSlots[slot] = false;
        } else if (!down && !ignoredSlots[slot]) {
            down = true;
            followedSlot = state.slot;
            followedId = record.value;
            xs.clear();
            ys.clear();
        }
        return ended;
    }
    return std::nullopt;
}
