// SPDX-License-Identifier: MIT
#include "text/decimal.h"

#include <charconv>
#include <cmath>

std::string decimal(double value)
{
    // to_chars is the one formatting call that never looks at the locale. Fixed notation:
    // not every reader of a form takes an exponent. The largest double takes 309 digits.
    char text[400];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    if (error != std::errc() || !std::isfinite(value))
        return "nan";  // never a number a reader takes, and no stray bytes
    std::string written(text, end);
    if (written.find('.') != std::string::npos) {
        written.erase(written.find_last_not_of('0') + 1);
        if (written.back() == '.')
            written.pop_back();
    }
    return written == "-0" ? "0" : written;
}
