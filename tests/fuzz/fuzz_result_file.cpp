// SPDX-License-Identifier: MIT
// libFuzzer target: the result-file reader against the line pattern it implements, written as
// a regular expression, and against the writer: what it reads, written again, reads the same.

#include "result_file.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

namespace {

std::optional<long long> referenceValue(const std::string &text, const char *name)
{
    const std::regex line(std::string("(^|\\n)[ \\t]*Option[ \\t]+\"") + name
                          + "\"[ \\t]+\"(-?[0-9]{1,10})\"[ \\t]*(\\n|$)");
    std::smatch match;
    if (!std::regex_search(text, match, line))
        return std::nullopt;
    return std::strtoll(match[2].str().c_str(), nullptr, 10);
}

bool same(const Borders &a, const Borders &b)
{
    return a.left == b.left && a.right == b.right && a.top == b.top && a.bottom == b.bottom;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::optional<Borders> read = parseResultText(text);

    long long expected[4];
    bool usable = true;
    const char *names[] = {"BoderLeft", "BoderRight", "BoderTop", "BoderBottom"};
    for (int i = 0; i < 4 && usable; ++i) {
        const std::optional<long long> value = referenceValue(text, names[i]);
        usable = value && *value >= INT_MIN && *value <= INT_MAX;
        expected[i] = usable ? *value : 0;
    }
    if (usable != read.has_value())
        std::abort();
    if (!read)
        return 0;
    const Borders reference{int(expected[0]), int(expected[1]), int(expected[2]), int(expected[3])};
    const std::optional<Borders> again = parseResultText(resultFileText(*read));
    if (!same(*read, reference) || !again || !same(*again, *read))
        std::abort();
    return 0;
}
