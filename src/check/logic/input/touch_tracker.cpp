// SPDX-License-Identifier: MIT
#include "input/touch_tracker.h"

#include "geometry/statistics.h"

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
