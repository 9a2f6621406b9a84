// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_TOUCH_READER_H
#define KESTRILAVON_TOUCH_READER_H

#include <cstdio>

// One raw touch position, as the touch controller reports it below the X server.
struct TouchSample {
    bool accepted = false;
    int x = 0;
    int y = 0;
    unsigned records = 0;  // input records consumed from the device
};

// A position is acceptable when both axes lie in 1..1999.
constexpr int kMinTouchValue = 1;
constexpr int kMaxTouchValue = 1999;
// Early in a read only a release ends it; after this many records a good position is enough.
constexpr unsigned kRecordsBeforeAcceptingWithoutRelease = 50;
// After this many records without a good position the read gives up (the last one is tested).
constexpr unsigned kMaxRecordsPerRead = 1501;

// Where a read starts from: the position before any record has been read.
struct StartPosition {
    int x = 0;
    int y = 0;
};

// Whether the open file is one of the input subsystem's own character devices. Only those are
// asked input ioctls: another driver might give the same request number a meaning of its own.
bool isEventDevice(int device);

// A kernel event device tells a new reader nothing about a finger that is already down, and
// never repeats a value that did not change: a finger held still sends no position at all.
// So a read starts from where the kernel says the touch is now (EVIOCGABS), axis by axis.
// A file or a pipe does not answer, and its read starts from 0.
StartPosition currentPosition(int device);

// Reads whole input_event records from an open event device until a sample can be accepted
// or the record limit is reached. Blocks while the device has nothing to say. A failed or
// short read is not an error of its own: its missing bytes read as 0xFF, so the record is
// one of no known type and is counted like any other. Only a release read here ends the read
// early: the start position alone never does.
TouchSample readTouchSample(std::FILE *device, StartPosition start = {});

#endif
