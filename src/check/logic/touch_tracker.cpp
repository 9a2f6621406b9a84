// SPDX-License-Identifier: MIT
#include "touch_tracker.h"

#include <algorithm>

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

} // namespace

std::optional<TouchTracker::Touch> TouchTracker::take(const input_event &record)
{
    bool begins = false, ends = false;
    if (record.type == EV_ABS && record.code == ABS_X)
        x = record.value;
    else if (record.type == EV_ABS && record.code == ABS_Y)
        y = record.value;
    else if (record.type == EV_KEY && (record.code == BTN_TOUCH || record.code == BTN_LEFT))
        (record.value ? begins : ends) = true;
    else if (record.type == EV_ABS && record.code == ABS_MT_TRACKING_ID)
        (record.value >= 0 ? begins : ends) = true;
    else if (record.type == EV_SYN && record.code == SYN_REPORT && down) {
        xs.push_back(x);
        ys.push_back(y);
    }
    if (begins && !down) {
        down = true;
        xs.clear();
        ys.clear();
    }
    if (!ends || !down)
        return std::nullopt;
    down = false;
    // A touch that ends before any report (its positions come in the same report as the
    // release) is where the device stands now.
    if (xs.empty()) {
        xs.push_back(x);
        ys.push_back(y);
    }
    return Touch{median(xs), median(ys)};
}
