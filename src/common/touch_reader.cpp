// SPDX-License-Identifier: MIT
#include "touch_reader.h"

#include <linux/input.h>
#include <linux/major.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

bool isEventDevice(int device)
{
    struct stat status;
    return ::fstat(device, &status) == 0 && S_ISCHR(status.st_mode)
        && major(status.st_rdev) == INPUT_MAJOR;
}

StartPosition currentPosition(int device)
{
    StartPosition start;
    if (!isEventDevice(device))
        return start;
    input_absinfo axis{};
    if (::ioctl(device, EVIOCGABS(ABS_X), &axis) == 0)
        start.x = axis.value;
    if (::ioctl(device, EVIOCGABS(ABS_Y), &axis) == 0)
        start.y = axis.value;
    return start;
}

TouchSample readTouchSample(std::FILE *device, StartPosition start)
{
    TouchSample sample;
    sample.x = start.x;
    sample.y = start.y;
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
