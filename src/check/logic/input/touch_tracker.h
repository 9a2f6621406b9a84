// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_TOUCH_TRACKER_H
#define KESTRILAVON_TOUCH_TRACKER_H

#include <linux/input.h>

#include <functional>
#include <optional>
#include <vector>

// Where an event device stands: a new reader is told nothing of contacts already down, and the
// kernel sends a value (ABS_MT_SLOT among them) only when it changes, so a reader asks first.
struct DeviceState {
    int x = 0, y = 0;      // ABS_X, ABS_Y
    bool keyDown = false;  // BTN_TOUCH or BTN_LEFT held
    // A multitouch device with slots: the slot the next records speak of, and each slot's
    // contact (tracking id -1 for none). Empty for a single-touch device.
    struct Contact {
        int id = -1;
        int x = 0, y = 0;
    };
    int slot = 0;
    std::vector<Contact> contacts;

    bool multitouch() const { return !contacts.empty(); }
};

// Whether the record begins a touch: BTN_TOUCH or BTN_LEFT pressed, or a new contact's tracking
// id. Motion alone never does.
bool beginsTouch(const input_event &record);

// Whether no finger is down on the device.
bool nothingDown(const DeviceState &state);

// Whole touches of one finger from an event device's records, whatever the device reports:
// BTN_LEFT or BTN_TOUCH, single-touch or multitouch, any range.
//
// On a single-touch device a touch is BTN_TOUCH or BTN_LEFT down, then up, at ABS_X and ABS_Y.
// On a multitouch device it is the contact that began it (its slot and tracking id), at that
// slot's ABS_MT_POSITION_X and _Y, from its tracking id to -1: a thumb resting on the bezel, or
// a second finger, is not followed, and BTN_TOUCH (down while any contact is) means nothing. The
// positions are then in the multitouch axes' units, as libinput reads them.
//
// Contacts already down when reading begins are ignored until they lift. After SYN_DROPPED the
// touch in progress is dropped with every record up to the next SYN_REPORT, and the device is
// asked again where it stands (through reread; without one, from what the records said). Read
// through libevdev, the records up to that SYN_REPORT are its sync records, which bring the
// state in step (a contact's tracking id -1 and new ids among them): none of them is a lift.
//
// A touch's position is the median of the positions reported while it was down, so a finger
// that rolls off as it lifts does not move it.
class TouchTracker {
public:
    explicit TouchTracker(const DeviceState &start, std::function<DeviceState()> reread = {});

    struct Touch {
        double x, y;
    };
    // Takes one record; returns the touch it ends, if it ends one.
    std::optional<Touch> take(const input_event &record);

    // Whether a finger is down on a touch being followed.
    bool followsTouch() const { return down; }

private:
    void startFrom(const DeviceState &state);
    std::optional<Touch> end();
    std::optional<Touch> takeSingleTouch(const input_event &record);
    std::optional<Touch> takeMultitouch(const input_event &record);
    DeviceState::Contact *contactInSlot();

    std::function<DeviceState()> reread;
    DeviceState state;
    bool dropping = false;
    bool ignoreUntilLifted = false;  // single-touch: the key was down when reading began
    std::vector<bool> ignoredSlots;  // multitouch: a contact there was down when reading began
    bool down = false;
    int followedSlot = -1, followedId = -1;
    std::vector<int> xs, ys;
};

#endif
