// SPDX-License-Identifier: MIT
// libFuzzer target: the touch reader against a second, independent reading of the same bytes.
//
// The reference below takes each record's fields by their byte offsets, pads a short stream
// with the 0xFF bytes that end of file reads as, and applies the acceptance rules in its own
// words. Any difference in verdict, sample or records consumed is a finding.

#include "touch_reader.h"

#include <linux/input.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Expected {
    bool accepted;
    int x;
    int y;
    unsigned records;
};

uint8_t byteAt(const uint8_t *data, size_t size, size_t at)
{
    return at < size ? data[at] : 0xFF;
}

Expected reference(const uint8_t *data, size_t size)
{
    const size_t recordSize = sizeof(input_event);
    const size_t typeAt = offsetof(input_event, type);
    const size_t codeAt = offsetof(input_event, code);
    const size_t valueAt = offsetof(input_event, value);
    int x = 0, y = 0;
    bool released = false;
    for (unsigned n = 1; n <= 1501; ++n) {
        const size_t base = (n - 1) * recordSize;
        const unsigned type = byteAt(data, size, base + typeAt) | byteAt(data, size, base + typeAt + 1) << 8;
        const unsigned code = byteAt(data, size, base + codeAt) | byteAt(data, size, base + codeAt + 1) << 8;
        uint32_t raw = 0;
        for (int i = 3; i >= 0; --i)
            raw = raw << 8 | byteAt(data, size, base + valueAt + static_cast<size_t>(i));
        int32_t value;
        std::memcpy(&value, &raw, sizeof value);

        if (type == 3 && code == 0)
            x = value;
        if (type == 3 && code == 1)
            y = value;
        if (type == 1 && code == 0x110 && value == 0)
            released = true;
        const bool good = x >= 1 && x <= 1999 && y >= 1 && y <= 1999;
        if ((released || n >= 51) && good)
            return {true, x, y, n};
        released = false;
    }
    return {false, 0, 0, 1501};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;  // fmemopen wants a buffer; the empty device is a unit test
    std::FILE *device = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!device)
        std::abort();
    const TouchSample got = readTouchSample(device);
    std::fclose(device);

    const Expected want = reference(data, size);
    if (got.accepted != want.accepted || got.records != want.records
        || (want.accepted && (got.x != want.x || got.y != want.y))) {
        std::fprintf(stderr,
                     "reader: accepted %d at record %u (%d, %d); reference: accepted %d at "
                     "record %u (%d, %d)\n",
                     got.accepted, got.records, got.x, got.y, want.accepted, want.records, want.x,
                     want.y);
        std::abort();
    }
    return 0;
}
