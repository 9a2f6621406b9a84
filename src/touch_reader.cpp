// SPDX-License-Identifier: MIT
#include "touch_reader.h"

#include <linux/input.h>

#include <cstring>

namespace {

input_event readRecord(std::FILE *device)
{
    unsigned char bytes[sizeof(input_event)];
    for (unsigned char &byte : bytes)
        byte = static_cast<unsigned char>(std::fgetc(device));
    input_event record;
    std::memcpy(&record, bytes, sizeof record);
    return record;
}

bool inRange(int value)
{
    return value >= kMinTouchValue && value <= kMaxTouchValue;
}

} // namespace

TouchSample readTouchSample(std::FILE *device)
{
    TouchSample sample;
    bool released = false;
    for (;;) {
        const input_event record = readRecord(device);
        ++sample.records;

        if (record.type == EV_ABS) {
            if (record.code == ABS_X)
                sample.x = record.value;
            else if (record.code == ABS_Y)
                sample.y = record.value;
        } else if (record.type == EV_KEY && record.code == BTN_LEFT && record.value == 0) {
            released = true;
        }

        if (released || sample.records > kRecordsBeforeAcceptingWithoutRelease) {
            if (inRange(sample.x) && inRange(sample.y)) {
                sample.accepted = true;
                return sample;
            }
            // A release with a position out of range is forgotten; the touch goes on.
            released = false;
        }

        if (sample.records >= kMaxRecordsPerRead)
            return sample;
    }
}
