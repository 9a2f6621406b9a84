// SPDX-License-Identifier: MIT
#include "text/shell_word.h"

std::string shellWord(const std::string &word)
{
    if (!word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                "0123456789_./:=@+-,%") == std::string::npos)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
