// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_STATISTICS_H
#define KESTRILAVON_STATISTICS_H

#include <algorithm>
#include <vector>

// The middle value, or the mean of the middle two for an even count; values is not empty.
template <typename Number>
double median(std::vector<Number> values)
{
    const auto middle = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    const double upper = *middle;
    if (values.size() % 2)
        return upper;
    const double lower = *std::max_element(values.begin(), middle);
    return (lower + upper) / 2;
}

#endif
